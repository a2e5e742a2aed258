// What the server says about a refused change reaches the administrator's diagnostics log; a
// connection in clear text is warned about once.
#include "nwclient/ldap/ldap_backend.h"
#include "nwclient/ldap/ldap_diagnostics.h"
#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/nwclient.h"
#include "slapd_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace nw;
using namespace ldaptest;

namespace {

class DiagnosticsLog : public ::testing::Test {
protected:
    void SetUp() override {
        nw::ldap::setDiagnosticsSink([this](const std::string& line) { lines.push_back(line); });
    }
    void TearDown() override { nw::ldap::setDiagnosticsSink({}); }

    std::unique_ptr<DirectoryBackend> open(const std::string& who, bool startTls = false) {
        ClientConfig c;
        c.file = server.folder() + "/nwclient.conf";
        c.tree = server.url();
        c.operatorName = who == "admin" ? ADMIN : TEACHER;
        c.values = {{"tree", c.tree}, {"base", BASE}, {"passwordfile", server.passwordFile(who)}, {"timeout", "5"}};
        if (startTls) c.values["starttls"] = "yes";
        NWCCODE status = 0;
        auto backend = makeLdapBackend(c, status);
        EXPECT_EQ(status, 0u);
        return backend;
    }
    ObjectId idOf(DirectoryBackend& b, const std::string& name) {
        std::vector<std::string> parts = nw::ldap::splitTypelessName(name);
        std::reverse(parts.begin(), parts.end());
        ObjectId id = -1;
        EXPECT_EQ(b.resolve(parts, id), 0) << name;
        return id;
    }
    static Change change(uint32_t type, const std::string& attribute, const std::string& value) {
        Change c;
        c.type = type;
        c.attribute = attribute;
        c.syntax = SYN_DIST_NAME;
        AttrValue v;
        v.text = value;
        c.values.push_back(v);
        return c;
    }
    std::vector<std::string> linesWith(const std::string& part) const {
        std::vector<std::string> out;
        for (const auto& l : lines)
            if (l.find(part) != std::string::npos) out.push_back(l);
        return out;
    }

    Slapd server;
    std::vector<std::string> lines;
};

}  // namespace

TEST_F(DiagnosticsLog, ARefusedChangeLeavesCodeNameAndTheServersWords) {
    auto admin = open("admin");
    lines.clear();  // the clear-text warning
    // The schema refuses to take the last member of a groupOfNames, and says why.
    EXPECT_EQ(admin->modify(idOf(*admin, "G_Alt.UNTERRICHT"),
                            {change(DS_REMOVE_VALUE, "Member", "Gast03.PROJEKTE.UNTERRICHT")}),
              ERR_MISSING_MANDATORY);
    ASSERT_EQ(lines.size(), 1u);
    const std::string& line = lines.front();
    EXPECT_NE(line.find("LDAP 65 "), std::string::npos) << line;
    EXPECT_NE(line.find("\"" + dnOf("G_Alt.UNTERRICHT") + "\""), std::string::npos) << line;
    EXPECT_NE(line.find("requires attribute 'member'"), std::string::npos) << line;

    // A change the access rules refuse: the code and the entry it concerned.
    lines.clear();
    auto teacher = open("teacher");
    EXPECT_EQ(teacher->modify(idOf(*teacher, "G_Lehrer.LEHRER.UNTERRICHT"),
                              {change(DS_ADDITIONAL_VALUE, "Member", "S5A01.KLASSE5A.SCHUELER.UNTERRICHT")}),
              ERR_NO_ACCESS);
    std::vector<std::string> refused = linesWith("LDAP 50 ");
    ASSERT_EQ(refused.size(), 1u) << (lines.empty() ? "" : lines.front());
    EXPECT_NE(refused.front().find("\"" + dnOf("G_Lehrer.LEHRER.UNTERRICHT") + "\""), std::string::npos);

    // Ordinary answers are not failures: a value that is there already.
    lines.clear();
    EXPECT_EQ(admin->modify(idOf(*admin, DENY_GROUP), {change(DS_ADDITIONAL_VALUE, "Member", "Gast01.PROJEKTE.UNTERRICHT")}),
              ERR_DUPLICATE_VALUE);
    EXPECT_TRUE(lines.empty()) << lines.front();
}

TEST_F(DiagnosticsLog, AClearTextConnectionIsWarnedAboutOnce) {
    auto first = open("admin");
    auto second = open("teacher");
    std::vector<std::string> warnings = linesWith("without StartTLS");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings.front().find(server.url()), std::string::npos) << warnings.front();
}

TEST_F(DiagnosticsLog, ARefusedUserAmongChangesSentTogetherIsNamed) {
    auto teacher = open("teacher");
    lines.clear();
    // The teacher may change KLASSE5A, not KLASSE6A: the refusal names the pupil it concerned.
    const std::vector<ObjectId> users = {idOf(*teacher, "S5A01.KLASSE5A.SCHUELER.UNTERRICHT"),
                                         idOf(*teacher, "S6A01.KLASSE6A.SCHUELER.UNTERRICHT")};
    EXPECT_EQ(teacher->changeUserSides(idOf(*teacher, DENY_GROUP), true, users, nullptr, nullptr), ERR_NO_ACCESS);
    ASSERT_EQ(lines.size(), 1u) << lines.front();
    EXPECT_EQ(lines[0].rfind("LDAP 50 (Insufficient access) for \"" + dnOf("S6A01.KLASSE6A.SCHUELER.UNTERRICHT") + "\"", 0),
              0u)
        << lines[0];
}
