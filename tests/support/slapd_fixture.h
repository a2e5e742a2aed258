// A private slapd for the LDAP tests: scripts/slapd-fixture.sh in a temporary folder, loaded with a
// small school (or any LDIF), on a free loopback port; stopped when the object goes.
#pragma once

#include "temp_trees.h"

#include <string>
#include <vector>

namespace ldaptest {

constexpr const char* BASE = "dc=schule,dc=test";
constexpr const char* ADMIN = "admin.UNTERRICHT";
constexpr const char* TEACHER = "lehrer1.LEHRER.UNTERRICHT";
constexpr const char* PLAIN = "Gast05.PROJEKTE.UNTERRICHT";
// A second teacher with the teacher's rights (and on GROSS) who keeps slapd's default size
// limit of 500, as an ordinary operator at a school does.
constexpr const char* LIMITED = "lehrer2.LEHRER.UNTERRICHT";
// The server suffix of the layout whose suffix is the school's top organization.
constexpr const char* TOP_SUFFIX = "o=UNTERRICHT";
constexpr const char* DENY_GROUP = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";

// Names with characters that DNs and filters treat specially, all in PROJEKTE.
extern const std::vector<std::string> ODD_NAMES;

struct SchoolOptions {
    int bigContainerSize = 0;  // users in ou=GROSS,o=UNTERRICHT
    bool tls = false;          // StartTLS and ldaps:// with a test CA (folder()/slapd/tls/ca.pem)
    bool suffixAtTop = false;  // the server's suffix is o=UNTERRICHT itself (no BASE above it)
    int localities = 0;        // l=Ort000.. entries in ou=ORTE,o=UNTERRICHT (no cn, ou, o or uid)
    bool teacherClasses = false;  // the teacher may change KLASSE5A, KLASSE5B and GROSS only (tarvel-ctl acl)
};

// The test school as LDIF below BASE: UNTERRICHT with PROJEKTE (the deny groups, Gast01-05, the
// odd names; Gast01 and Gast02 denied on all three sides), LEHRER (lehrer1-3, G_Lehrer), SCHUELER
// (KLASSE5A, KLASSE5B, KLASSE6A with five users each, a workstation, a printer), LEER (empty),
// G_Alt (a groupOfNames with one member), optionally GROSS; a country DE and a locality Berlin at
// the top.
std::string schoolLdif(const SchoolOptions& options = {});

// The DN of a typeless name below BASE as the school lays it out (cn leaf, o top, ou between);
// with an empty base, the top organization is the DN's last part.
std::string dnOf(const std::string& typelessName);
std::string dnOf(const std::string& typelessName, const std::string& base);

class Slapd {
public:
    // Starts a server loaded with the school. Throws std::runtime_error when it cannot.
    explicit Slapd(const SchoolOptions& options = {});
    // Starts a server loaded with an LDIF file below BASE (the same operators and ACLs).
    explicit Slapd(const std::string& ldifFile);
    // The ldaps:// address when started with tls.
    std::string ldapsUrl() const;
    ~Slapd();
    Slapd(const Slapd&) = delete;
    Slapd& operator=(const Slapd&) = delete;

    const std::string& url() const { return url_; }
    const std::string& folder() const { return dir_.path(); }
    // The DN of a typeless name in this server's layout.
    std::string dn(const std::string& typelessName) const { return dnOf(typelessName, base_); }
    // Where the school hangs below the suffix: BASE, or empty when the suffix is its top.
    const std::string& base() const { return base_; }
    // The password file of "admin", "teacher", "plain" or "limited" (mode 0600).
    std::string passwordFile(const std::string& who) const;

    void stop();
    void restart();

    // nwclient.conf for "admin", "teacher", "plain" or "limited", pointed at by the client (Base=
    // as the layout needs it); extra lines are appended, a later key wins. Returns the file's path.
    std::string useAs(const std::string& who, const std::string& extraLines = "");

    // ldapsearch -LLL as the manager: the output text.
    std::string search(const std::string& baseDn, const std::string& scope, const std::string& filter,
                       const std::string& attributes) const;
    // Values of one attribute of one entry, as ldapsearch prints them.
    std::vector<std::string> values(const std::string& dn, const std::string& attribute) const;
    // ldapmodify as the manager; true on success.
    bool modify(const std::string& ldif) const;
    // Whether the entry's attribute holds this DN, compared as the server compares DNs.
    bool holdsDn(const std::string& dn, const std::string& attribute, const std::string& valueDn) const;

private:
    void start(const std::string& ldifFile, bool tls = false, bool school = false);

    testsupport::TempDir dir_;
    std::string base_ = BASE;
    bool suffixAtTop_ = false;
    bool teacherClasses_ = false;
    std::string url_;
    bool running_ = false;
};

// Exports an embedded tree file as LDIF below BASE (tarvel-tree export --ldif); returns ldifFile.
// Throws std::runtime_error when the tool fails.
std::string exportTree(const std::string& treeFile, const std::string& ldifFile);

// Runs a shell command; output in *out; the exit code.
int run(const std::string& command, std::string* out = nullptr);

// Stops a server process (SIGSTOP) and returns once the kernel shows it stopped: kill() only
// queues the signal, and a server that still answers spoils a test that wants it hung.
bool stopProcess(int pid);

}  // namespace ldaptest
