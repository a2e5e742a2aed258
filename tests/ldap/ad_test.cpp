// The LDAP backend against a real Samba AD domain controller loaded with the demo school.
#include "nwclient/ldap/ldap_backend.h"
#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/nwclient.h"
#include "samba_fixture.h"
#include "slapd_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace nw;
using namespace adtest;

namespace {

ClientConfig configFor(const SambaDc& dc, const std::string& who, std::map<std::string, std::string> extra = {}) {
    ClientConfig c;
    c.file = dc.passwordFile(who) + ".conf";
    c.tree = dc.url();
    c.operatorName = who == "admin" ? ADMIN : TEACHER;
    c.values = {{"base", BASE}, {"passwordfile", dc.passwordFile(who)}, {"timeout", "10"}};
    for (auto& [k, v] : extra) c.values[k] = v;
    if (c.values.count("tree")) c.tree = c.values["tree"];
    return c;
}

std::unique_ptr<DirectoryBackend> open(const SambaDc& dc, const std::string& who = "admin",
                                       std::map<std::string, std::string> extra = {}) {
    NWCCODE status = 0;
    auto backend = makeLdapBackend(configFor(dc, who, std::move(extra)), status);
    EXPECT_EQ(status, 0u);
    return backend;
}

ObjectId idOf(DirectoryBackend& b, const std::string& name) {
    std::vector<std::string> parts = ldap::splitTypelessName(name);
    std::reverse(parts.begin(), parts.end());
    ObjectId id = -1;
    EXPECT_EQ(b.resolve(parts, id), 0) << name;
    return id;
}

std::vector<std::string> memberNames(DirectoryBackend& b, const std::string& group) {
    Attribute a;
    EXPECT_EQ(b.readAttribute(idOf(b, group), "Member", a), 0);
    std::vector<std::string> out;
    for (const AttrValue& v : a.values) out.push_back(v.text);
    std::sort(out.begin(), out.end());
    return out;
}

const std::string DENY = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";

}  // namespace

// The teacher binds by every name AD knows him by, over LDAPS and StartTLS with the test CA; a
// certificate from another CA is refused.
TEST(SambaDc, TeacherBindsByEachLoginOverTls) {
    SambaDc dc;
    ldaptest::Slapd other({.tls = true});  // only for a CA the DC's certificate does not come from
    const std::string otherCa = other.folder() + "/slapd/tls/other-ca.pem";
    struct Case {
        std::map<std::string, std::string> values;
        NWCCODE status;
    };
    const Case cases[] = {
        {{{"tree", dc.ldapsUrl()}, {"cafile", dc.caFile()}, {"binddn", "SCHULE\\lehrer1"}}, 0},
        {{{"tree", dc.ldapsUrl()}, {"cafile", dc.caFile()}, {"binddn", "lehrer1@schule.test"}}, 0},
        {{{"starttls", "yes"}, {"cafile", dc.caFile()}, {"binddn", dc.dn(TEACHER)}}, 0},
        {{{"tree", dc.ldapsUrl()}, {"cafile", otherCa}, {"binddn", "SCHULE\\lehrer1"}}, TARVEL_LDAP_TLS_FAILED},
        {{{"tree", dc.ldapsUrl()}, {"cafile", dc.caFile()}, {"binddn", "SCHULE\\lehrer2"}}, TARVEL_LDAP_BAD_CREDENTIALS},
    };
    for (const Case& c : cases) {
        NWCCODE status = 0;
        auto backend = makeLdapBackend(configFor(dc, "teacher", c.values), status);
        EXPECT_EQ(status, c.status) << c.values.at("binddn");
        EXPECT_EQ(backend != nullptr, c.status == 0) << c.values.at("binddn");
    }
}

// The demo school is there as loaded, whatever the test before did to its copy.
TEST(SambaDc, EachTestFindsTheSchoolAsLoaded) {
    for (int round = 0; round < 2; ++round) {
        SambaDc dc;
        const std::string deny = dc.dn(DENY), gast = dc.dn("Gast03.PROJEKTE.UNTERRICHT");
        ASSERT_FALSE(deny.empty());
        EXPECT_EQ(dc.values(deny, "member").size(), 5u);
        auto backend = open(dc, "admin", {{"binddn", "admin@schule.test"}});
        ASSERT_TRUE(backend);
        EXPECT_EQ(memberNames(*backend, DENY).size(), 5u);
        EXPECT_FALSE(dc.holdsDn(deny, "member", gast));
        EXPECT_TRUE(dc.values(dc.dn("Gast03.PROJEKTE.UNTERRICHT"), "sAMAccountName") == std::vector<std::string>{"Gast03"});
        // A change and an entry of this round are gone in the next.
        ASSERT_TRUE(dc.modify("dn: " + deny + "\nchangetype: modify\nadd: member\nmember: " + gast + "\n-\n\n" +
                              "dn: CN=Neu," + SCHOOL + "\nchangetype: add\nobjectClass: user\nsAMAccountName: neu\n"));
        EXPECT_TRUE(dc.holdsDn(deny, "member", gast));
    }
}
