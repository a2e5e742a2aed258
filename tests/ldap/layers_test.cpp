// The program's own layers (nwapi over the NetWare client) on a private slapd: what the operator
// does, checked afterwards with ldapsearch.
#include "deny/check.h"
#include "nwapi/nwapi.h"
#include "nwclient/ldap/ldap_diagnostics.h"
#include "nwclient/client_setup.h"
#include "nwclient/fault_backend.h"
#include "nwclient/ldap/ldap_backend.h"
#include "nwclient/ldap/ldap_escape.h"
#include "platform/recording.h"
#include "slapd_fixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <set>

using namespace ldaptest;

namespace {

const std::string DENY = std::string(".") + DENY_GROUP;

class LdapLayers : public ::testing::Test {
protected:
    platform::RecordingPorts ports;

    void SetUp() override {
        nwapi::resetLayerForTesting();
        nw::resetClient();
    }
    void TearDown() override {
        nwapi::DoneNWConnection();
        nw::resetClient();
        nwapi::resetLayerForTesting();
    }

    void connect(Slapd& server, const std::string& who, const std::string& extra = "") {
        server.useAs(who, extra);
        bool ok = false;
        nwapi::InitNWConnection(ok);
        ASSERT_TRUE(ok);
        ASSERT_TRUE(ports.box.boxes.empty()) << ports.box.boxes.front().text;
        nwapi::SetzeContext("[root]");
    }

    // Through the fault-injecting wrapper, to act between the layer's calls.
    nw::FaultBackend* connectWrapped(Slapd& server, const std::string& who) {
        std::string conf = server.useAs(who);
        nw::ClientConfig config;
        config.file = conf;
        config.tree = server.url();
        config.operatorName = who == "admin" ? ADMIN : TEACHER;
        config.values = {{"base", BASE}, {"passwordfile", server.passwordFile(who)}, {"timeout", "5"}};
        nw::NWCCODE status = 0;
        auto real = nw::makeLdapBackend(config, status);
        EXPECT_TRUE(real) << status;
        auto wrapper = std::make_unique<nw::FaultBackend>(std::move(real));
        nw::FaultBackend* probe = wrapper.get();
        nw::installBackend(std::move(wrapper));
        bool ok = false;
        nwapi::InitNWConnection(ok);
        EXPECT_TRUE(ok);
        nwapi::SetzeContext("[root]");
        return probe;
    }

    // The three places (four values) agree for every user, as the server holds them.
    static void expectInGroup(const Slapd& server, const std::vector<std::string>& users, bool in) {
        const std::string groupDn = dnOf(DENY_GROUP);
        std::vector<std::string> members = server.values(groupDn, "member");
        std::vector<std::string> equivalent = server.values(groupDn, "equivalentToMe");
        // DNs compared as the server compares them, whatever escaping each side chose.
        auto holds = [](const std::vector<std::string>& list, const std::string& v) {
            return std::any_of(list.begin(), list.end(),
                               [&](const std::string& d) { return nw::ldap::dnKey(d) == nw::ldap::dnKey(v); });
        };
        for (const std::string& user : users) {
            const std::string userDn = dnOf(user);
            EXPECT_EQ(holds(members, userDn), in) << user;
            EXPECT_EQ(holds(equivalent, userDn), in) << user;
            EXPECT_EQ(holds(server.values(userDn, "groupMembership"), groupDn), in) << user;
            EXPECT_EQ(holds(server.values(userDn, "securityEquals"), groupDn), in) << user;
        }
    }
};

}  // namespace

TEST_F(LdapLayers, StopAndGoOfAWholeClassKeepAllThreePlacesInAgreement) {
    Slapd server;
    connect(server, "admin");
    nwapi::NameList users;
    ASSERT_TRUE(nwapi::SearchObjects(".KLASSE5A.SCHUELER.UNTERRICHT", users, "User"));
    ASSERT_EQ(users.size(), 5u);
    nwapi::NameList stop = users;
    ASSERT_TRUE(nwapi::AddMultipleUsersToGroup(stop, DENY));
    EXPECT_TRUE(ports.box.boxes.empty());
    expectInGroup(server, users, true);
    expectInGroup(server, {"Gast01.PROJEKTE.UNTERRICHT", "Gast02.PROJEKTE.UNTERRICHT"}, true);

    nwapi::NameList members;
    int32_t error = 0;
    nwapi::GetGroupMembers(DENY, members, error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(members.size(), 7u);

    nwapi::NameList go = users;
    ASSERT_TRUE(nwapi::DeleteMultipleUsersFromGroup(go, DENY));
    EXPECT_TRUE(ports.box.boxes.empty());
    expectInGroup(server, users, false);
    expectInGroup(server, {"Gast01.PROJEKTE.UNTERRICHT", "Gast02.PROJEKTE.UNTERRICHT"}, true);
}

TEST_F(LdapLayers, AnEmptiedGroupTakesItsFirstMemberAgain) {
    Slapd server;
    connect(server, "admin");
    const std::string ws = ".G_WS_Internet_Deny.PROJEKTE.UNTERRICHT";
    nwapi::NameList members;
    EXPECT_TRUE(nwapi::GetAttributeMultiValueStringList(nwapi::layer().context, ws, "Member", members));
    EXPECT_TRUE(members.empty());
    nwapi::NameList one = {"WS-R101-01.SCHUELER.UNTERRICHT"};
    ASSERT_TRUE(nwapi::AddMultipleUsersToGroup(one, ws));
    one = {"WS-R101-01.SCHUELER.UNTERRICHT"};
    ASSERT_TRUE(nwapi::DeleteMultipleUsersFromGroup(one, ws));
    EXPECT_TRUE(server.values(dnOf("G_WS_Internet_Deny.PROJEKTE.UNTERRICHT"), "member").empty());
    one = {"WS-R101-01.SCHUELER.UNTERRICHT"};
    ASSERT_TRUE(nwapi::AddMultipleUsersToGroup(one, ws));
    EXPECT_EQ(server.values(dnOf("G_WS_Internet_Deny.PROJEKTE.UNTERRICHT"), "member").size(), 1u);
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_F(LdapLayers, TheTeacherIsRefusedWhereTheServerSaysSo) {
    Slapd server;
    connect(server, "teacher");
    nwapi::NameList allowed = {"S5B01.KLASSE5B.SCHUELER.UNTERRICHT"};
    ASSERT_TRUE(nwapi::AddMultipleUsersToGroup(allowed, DENY));
    expectInGroup(server, {"S5B01.KLASSE5B.SCHUELER.UNTERRICHT"}, true);

    nwapi::NameList refused = {"S6A01.KLASSE6A.SCHUELER.UNTERRICHT"};
    EXPECT_FALSE(nwapi::AddMultipleUsersToGroup(refused, DENY));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "NDS-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text,
              "Fehler -672. AddMultipleUsersToGroup ([" + DENY + "] Group Membership/Security Eq. of "
              "S6A01.KLASSE6A.SCHUELER.UNTERRICHT)");
    expectInGroup(server, {"S6A01.KLASSE6A.SCHUELER.UNTERRICHT"}, false);
}

TEST_F(LdapLayers, ListingABigContainerArrivesWhole) {
    Slapd server(SchoolOptions{1100});
    connect(server, "admin");
    nwapi::NameList entries;
    nwapi::ListeUnterobjekte(".GROSS.UNTERRICHT", entries, 0);
    EXPECT_TRUE(ports.box.boxes.empty());
    ASSERT_EQ(entries.size(), 1100u);
    EXPECT_TRUE(std::find(entries.begin(), entries.end(), "[User] U01099") != entries.end());
}

TEST_F(LdapLayers, AnOperatorUnderTheServersLimitListsStopsAndGoesWholeContainers) {
    Slapd server(SchoolOptions{1200});
    // lehrer2 keeps slapd's default limit of 500 entries, as an ordinary operator does.
    connect(server, "limited");
    nwapi::NameList entries;
    nwapi::ListeUnterobjekte(".GROSS.UNTERRICHT", entries, 0);
    EXPECT_TRUE(ports.box.boxes.empty());
    std::set<std::string> unique(entries.begin(), entries.end());
    EXPECT_EQ(entries.size(), 1200u);
    EXPECT_EQ(unique.size(), 1200u);

    // What a stop of the container gathers, and the stop and go themselves.
    nwapi::NameList users;
    ASSERT_TRUE(nwapi::SearchObjects(".GROSS.UNTERRICHT", users, "User"));
    ASSERT_EQ(users.size(), 1200u);
    ASSERT_TRUE(nwapi::AddMultipleUsersToGroup(users, DENY));
    auto keys = [&](const std::string& attribute) {
        std::set<std::string> out;
        for (const std::string& v : server.values(dnOf(DENY_GROUP), attribute)) out.insert(nw::ldap::dnKey(v));
        return out;
    };
    std::set<std::string> members = keys("member"), equivalent = keys("equivalentToMe");
    for (const std::string& user : users) {
        EXPECT_TRUE(members.count(nw::ldap::dnKey(dnOf(user)))) << user;
        EXPECT_TRUE(equivalent.count(nw::ldap::dnKey(dnOf(user)))) << user;
    }
    EXPECT_EQ(members.size(), 1202u);  // and Gast01, Gast02
    nwapi::NameList back;
    ASSERT_TRUE(nwapi::SearchObjects(".GROSS.UNTERRICHT", back, "User"));
    ASSERT_TRUE(nwapi::DeleteMultipleUsersFromGroup(back, DENY));
    EXPECT_EQ(keys("member").size(), 2u);
    EXPECT_EQ(keys("equivalentToMe").size(), 2u);
    EXPECT_TRUE(server.values(dnOf("U00999.GROSS.UNTERRICHT"), "groupMembership").empty());
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_F(LdapLayers, WithoutBaseTheServersSuffixIsTheTopOfTheTree) {
    SchoolOptions options;
    options.suffixAtTop = true;
    Slapd server(options);
    connect(server, "teacher");  // Base= empty; binds as cn=lehrer1,ou=LEHRER,o=UNTERRICHT
    EXPECT_TRUE(nwapi::ObjektExistiert(DENY));
    EXPECT_EQ(nwapi::GetBaseClass(DENY), "Group");
    nwapi::NameList top;
    nwapi::ListeUnterobjekte("[root]", top, 0);
    EXPECT_EQ(top, nwapi::NameList{"[Organization] UNTERRICHT"});
    nwapi::NameList stop = {"S5A02.KLASSE5A.SCHUELER.UNTERRICHT"};
    ASSERT_TRUE(nwapi::AddMultipleUsersToGroup(stop, DENY));
    EXPECT_TRUE(server.holdsDn(server.dn(DENY_GROUP), "member", server.dn(stop[0])));
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_F(LdapLayers, AnEntryNamedWithANulIsReportedAndBlocksNobodyElse) {
    Slapd server;
    const std::string klasse = dnOf("KLASSE5A.SCHUELER.UNTERRICHT");
    ASSERT_TRUE(server.modify("dn: cn=Evil\\00X," + klasse + "\nchangetype: add\nobjectClass: inetOrgPerson\n"
                              "cn:: RXZpbABY\nsn: X\n"));
    connect(server, "admin");
    const std::string expectedDetail = "\r\ncn=Evil\\00X," + klasse;
    nwapi::NameList entries;
    nwapi::ListeUnterobjekte(".KLASSE5A.SCHUELER.UNTERRICHT", entries, 0);
    // The rest is listed, and the operator learns which entry to fix.
    EXPECT_EQ(entries.size(), 5u);
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "NDS-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler 36628. NWDSList (ListeUnterobjekte)" + expectedDetail);

    // A stop of the class gathers nothing it could act on.
    nwapi::NameList users;
    EXPECT_FALSE(nwapi::SearchObjects(".KLASSE5A.SCHUELER.UNTERRICHT", users, "User"));
    ASSERT_EQ(ports.box.boxes.size(), 2u);
    EXPECT_EQ(ports.box.boxes[1].text, "Fehler 36628. NWDSSearch (SearchObjects)" + expectedDetail);
}

// A member value whose name holds NUL or LF (a teacher may add one with ldapmodify) is never
// handed out cut ("Evil" could be someone else): it is left out and named once, in the box and the
// diagnostics, and blocks nobody; check names it and repair removes exactly that value.
TEST_F(LdapLayers, AMemberValueWithoutANameIsLeftOutNamedAndRepaired) {
    Slapd server;
    const std::string klasse = dnOf("KLASSE5A.SCHUELER.UNTERRICHT");
    const std::set<std::string> shown = {"cn=Evil\\00X," + klasse, "cn=Bad\\0AY," + klasse};
    std::string ldif = "dn: " + dnOf(DENY_GROUP) + "\nchangetype: modify\nadd: member\n";
    for (const std::string& dn : shown) ldif += "member: " + dn + "\n";
    ASSERT_TRUE(server.modify(ldif));
    std::vector<std::string> diagnostics;
    nw::ldap::setDiagnosticsSink([&](const std::string& line) { diagnostics.push_back(line); });
    connect(server, "admin");

    for (int read = 0; read < 2; ++read) {
        nwapi::NameList members;
        int32_t error = 0;
        nwapi::GetGroupMembers(DENY, members, error);
        EXPECT_EQ(error, 0);
        EXPECT_EQ(members.size(), 2u);
    }
    ASSERT_EQ(ports.box.boxes.size(), 1u) << "named once";
    EXPECT_EQ(ports.box.boxes[0].text.rfind("Fehler 36628. GetAttributeMultiValueStringList (Member)\r\n", 0), 0u);
    size_t logged = 0;
    for (const std::string& value : shown) {
        EXPECT_NE(ports.box.boxes[0].text.find("\r\n" + value), std::string::npos) << value;
        for (const std::string& line : diagnostics) logged += line.find(value) != std::string::npos;
    }
    EXPECT_EQ(logged, 2u);

    nwapi::NameList stop = {"S5A01.KLASSE5A.SCHUELER.UNTERRICHT"};
    EXPECT_TRUE(nwapi::AddMultipleUsersToGroup(stop, DENY));
    expectInGroup(server, stop, true);

    const deny::CheckReport report = deny::checkGroup(DENY_GROUP);
    EXPECT_TRUE(report.complete);
    std::set<std::string> named;
    for (const deny::Repeated& value : report.unnamable) named.insert(value.attribute + ": " + value.value);
    EXPECT_EQ(named, (std::set<std::string>{"Member: " + *shown.begin(), "Member: " + *shown.rbegin()}));
    const deny::RepairResult repaired = deny::repairGroup(DENY_GROUP, report);
    EXPECT_EQ(repaired.done, 2u);
    EXPECT_EQ(repaired.failed, 0u);
    EXPECT_EQ(server.values(dnOf(DENY_GROUP), "member").size(), 3u);  // Gast01, Gast02 and the pupil stay
    EXPECT_TRUE(deny::checkGroup(DENY_GROUP).unnamable.empty());
    EXPECT_EQ(ports.box.boxes.size(), 1u) << ports.box.boxes.back().text;
    nw::ldap::setDiagnosticsSink(nullptr);
}

TEST_F(LdapLayers, ServerStoppedInTheMiddleOfAStopThenBack) {
    Slapd server;
    nw::FaultBackend* probe = connectWrapped(server, "admin");
    const std::vector<std::string> users = {"Gast03.PROJEKTE.UNTERRICHT", "Gast04.PROJEKTE.UNTERRICHT",
                                            "Gast05.PROJEKTE.UNTERRICHT"};
    probe->onModify([&](int n, nw::ObjectId) {
        if (n == 2) server.stop();
    });
    nwapi::NameList stop(users.begin(), users.end());
    EXPECT_FALSE(nwapi::AddMultipleUsersToGroup(stop, DENY));
    ASSERT_FALSE(ports.box.boxes.empty());
    EXPECT_EQ(ports.box.boxes.back().caption, "NDS-Fehler");
    EXPECT_NE(ports.box.boxes.back().text.find("Gast04.PROJEKTE.UNTERRICHT"), std::string::npos);

    probe->onModify(nullptr);
    server.restart();
    // The first user is whole (all of its side), the others untouched, the group not yet changed.
    EXPECT_EQ(server.values(dnOf(users[0]), "groupMembership"), std::vector<std::string>{dnOf(DENY_GROUP)});
    EXPECT_TRUE(server.values(dnOf(users[2]), "groupMembership").empty());

    // The next stop after the server is back completes what was left.
    ports.box.boxes.clear();
    nwapi::NameList again(users.begin(), users.end());
    EXPECT_TRUE(nwapi::AddMultipleUsersToGroup(again, DENY));
    EXPECT_TRUE(ports.box.boxes.empty()) << ports.box.boxes.front().text;
    expectInGroup(server, users, true);
}

TEST_F(LdapLayers, OddNamesAndTheServerClockThroughTheLayers) {
    Slapd server;
    connect(server, "admin");
    EXPECT_TRUE(nwapi::ObjektExistiert(".Herr\\.Meier.PROJEKTE.UNTERRICHT"));
    EXPECT_FALSE(nwapi::ObjektExistiert(".Herr.Meier.PROJEKTE.UNTERRICHT"));
    ports.box.boxes.clear();

    // A user whose name looks like a filter is stopped alone.
    nwapi::NameList odd = {"*)(cn=*.PROJEKTE.UNTERRICHT"};
    ASSERT_TRUE(nwapi::AddMultipleUsersToGroup(odd, DENY));
    std::vector<std::string> members = server.values(dnOf(DENY_GROUP), "member");
    EXPECT_EQ(members.size(), 3u);
    expectInGroup(server, {"*)(cn=*.PROJEKTE.UNTERRICHT"}, true);

    double now = 0;
    nwapi::GetServerDateTime(now);
    EXPECT_GT(now, 46000.0);  // days since 1899-12-30: after 2025
    EXPECT_TRUE(ports.box.boxes.empty()) << ports.box.boxes.front().text;
}

TEST_F(LdapLayers, TheDemoSchoolsTeacherOnAClassOutsideTheirRights) {
    testsupport::TempDir dir;
    ASSERT_EQ(testsupport::runTreeTool("init --demo " + dir.file("demo.tree")), 0);
    ASSERT_EQ(testsupport::runTreeTool("export --ldif " + dir.file("demo.ldif") + " " + dir.file("demo.tree") +
                                       " --base " + BASE),
              0);
    Slapd server(dir.file("demo.ldif"));
    connect(server, "teacher");
    nwapi::NameList users;
    ASSERT_TRUE(nwapi::SearchObjects(".KLASSE6A.SCHUELER.UNTERRICHT", users, "User"));
    ASSERT_FALSE(users.empty());
    nwapi::SetzeContext("[root]");
    EXPECT_FALSE(nwapi::AddMultipleUsersToGroup(users, DENY));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_NE(ports.box.boxes[0].text.find("Fehler -672"), std::string::npos) << ports.box.boxes[0].text;
}

TEST_F(LdapLayers, AWrongPasswordIsAClearBoxNotAHang) {
    Slapd server;
    testsupport::TempDir dir;
    std::string wrong = dir.file("wrong.pw");
    testsupport::writeFile(wrong, "falsch\n");
    ASSERT_EQ(chmod(wrong.c_str(), 0600), 0);
    server.useAs("admin", "PasswordFile=" + wrong + "\n");  // the later line wins
    bool ok = false;
    nwapi::InitNWConnection(ok);
    ASSERT_FALSE(ports.box.boxes.empty());
    EXPECT_EQ(ports.box.boxes[0].caption, "NW-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler 36625. NWCCGetPrimConnRef");
    for (const auto& box : ports.box.boxes) EXPECT_EQ(box.text.find("falsch"), std::string::npos);
}
