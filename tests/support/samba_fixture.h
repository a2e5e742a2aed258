// A Samba AD domain controller for the tests (scripts/samba-fixture.sh): the demo school in AD's
// form (OU= containers, CN= users and groups, sAMAccountName logins), provisioned once into a
// template under the build folder and run as one copy per test program on its own loopback
// address. The tests of a program take turns on their copy (a lock held for the object's life),
// and each finds the school as loaded: what the one before added below the school is deleted
// and the groups' members are set back.
#pragma once

#include "temp_trees.h"

#include <map>
#include <string>
#include <vector>

namespace adtest {

constexpr const char* BASE = "DC=schule,DC=test";
constexpr const char* SCHOOL = "OU=UNTERRICHT,DC=schule,DC=test";
// The operators as names of the tree; "admin" may change everything (a domain admin), the
// teacher may change the members of his classes' groups (G_Internet_Deny_KLASSE5A and _5B) only.
constexpr const char* ADMIN = "admin.UNTERRICHT";
constexpr const char* TEACHER = "lehrer1.LEHRER.UNTERRICHT";
constexpr const char* TEACHER_LOGIN = "lehrer1";
// A pupil of KLASSE5A with a password (the "pupil" password file), for the proxy's login.
constexpr const char* PUPIL = "MeyerMarie.KLASSE5A.SCHUELER.UNTERRICHT";
// One deny group per class, in PROJEKTE beside the school's deny group.
std::string classGroup(const std::string& klasse);

// The AD form of an LDIF export of the school (tarvel-tree export --ldif below dc=schule,dc=test).
struct AdSchool {
    std::string ldif;                          // to load, as the domain's Administrator
    std::string resetLdif;                     // sets every group's members back
    std::map<std::string, std::string> dns;    // lower-cased typeless name -> DN
};
AdSchool adSchoolOf(const std::string& exportLdif);

class SambaDc {
public:
    // The demo school on this program's copy of the DC. Throws std::runtime_error when it cannot.
    SambaDc();
    ~SambaDc();
    SambaDc(const SambaDc&) = delete;
    SambaDc& operator=(const SambaDc&) = delete;

    const std::string& url() const { return url_; }
    std::string ldapsUrl() const { return "ldaps://" + ip_; }
    // The test CA that signed the DC's certificate (for CAFile=).
    std::string caFile() const { return copy_ + "/tls/ca.pem"; }
    // The DN of a typeless name of the school; empty when the school has no such entry.
    std::string dn(const std::string& typelessName) const;
    // The password file of "admin", "teacher" or "pupil" (mode 0600).
    std::string passwordFile(const std::string& who) const { return copy_ + "/" + who + ".pw"; }

    // nwclient.conf for "admin" or "teacher" on plain LDAP (Base=, Operator=, PasswordFile=),
    // pointed at by the client; extra lines are appended, a later key wins. Returns its path.
    std::string useAs(const std::string& who, const std::string& extraLines = "");

    // The values of one attribute of one entry (ranged reads followed), as the Administrator.
    std::vector<std::string> values(const std::string& dn, const std::string& attribute) const;
    // Whether the entry's attribute holds this DN, compared as the server compares DNs.
    bool holdsDn(const std::string& dn, const std::string& attribute, const std::string& valueDn) const;
    // ldapmodify -a as the Administrator; true on success, the tool's output in *out.
    bool modify(const std::string& ldif, std::string* out = nullptr) const;

private:
    testsupport::TempDir dir_;
    std::string copy_, ip_, url_;
    std::map<std::string, std::string> dns_;
    int lock_ = -1;
};

}  // namespace adtest
