// A teacher limited to two classes by the rules `tarvel-ctl acl` prints, as the fixture installs
// them: refused elsewhere by raw ldapmodify and through the program, with the refused attributes
// named in the diagnostics.
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "nwclient/ldap/ldap_diagnostics.h"
#include "nwclient/nwclient.h"
#include "platform/recording.h"
#include "slapd_fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace ldaptest;
using testsupport::readFile;
using testsupport::writeFile;

TEST(TeacherAcl, TheClassesOfTheRulesTarvelCtlPrintsAndNoOthers) {
    const std::string fixture = "bash " TARVEL_SOURCE_DIR "/scripts/slapd-fixture.sh ", K5A = "KLASSE5A.SCHUELER.UNTERRICHT";
    const std::string in = "S5A01." + K5A, out = "S6A01.KLASSE6A.SCHUELER.UNTERRICHT", lehrer = "G_Lehrer.LEHRER.UNTERRICHT";
    testsupport::TempDir dir;
    struct Stop { std::string command; ~Stop() { run(command); } } stop{fixture + "stop " + dir.file("slapd")};
    writeFile(dir.file("school.ldif"), schoolLdif());
    ASSERT_EQ(run(fixture + "start " + dir.file("slapd") + " --base " + BASE + " --ldif " + dir.file("school.ldif") +
                  " --admin " + dnOf(ADMIN) + " --teacher " + dnOf(TEACHER) + " --teacher-group " + dnOf(DENY_GROUP) +
                  " --teacher-scope " + dnOf(K5A) + " --teacher-scope " + dnOf("KLASSE5B.SCHUELER.UNTERRICHT") +
                  " --teacher-classes --owner " + std::to_string(getpid())),
              0);
    const std::string url = readFile(dir.file("slapd/url")).substr(0, readFile(dir.file("slapd/url")).find('\n'));
    auto ldap = [&](const std::string& tool, const char* who, const std::string& rest, std::string* text = nullptr) {
        return run(tool + " -x -H " + url + " -D " + dnOf(who[0] == 'a' ? ADMIN : TEACHER) + " -y " +
                       dir.file("slapd/" + std::string(who) + ".pw") + " " + rest, text);
    };
    for (const char* who : {"admin", "teacher"})
        writeFile(dir.file(std::string(who) + ".conf"), "Tree=" + url + "\nBase=" + BASE + "\nOperator=" +
                                                            (who[0] == 'a' ? ADMIN : TEACHER) + "\nPasswordFile=" +
                                                            dir.file("slapd/" + std::string(who) + ".pw") + "\n");
    writeFile(dir.file("t.ini"), "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nGroupInternetUserDeny=" + std::string(DENY_GROUP) + "\r\n");

    // What tarvel-ctl prints is what the fixture installed; a DN given as such keeps its escapes.
    const struct { std::string names, printed; int status; } printing[] = {
        {"lehrer1.LEHRER.UNTERRICHT " + K5A + " KLASSE5B.SCHUELER.UNTERRICHT", "", 0},
        {"lehrer1.LEHRER.UNTERRICHT 'ou=A\\,B,dc=x'", "access to dn.subtree=\"ou=A\\\\,B,dc=x\" attrs=objectClass", 0},
        {"lehrer1.LEHRER.UNTERRICHT", "", 2}};
    for (const auto& c : printing) {
        std::string text;
        EXPECT_EQ(run("(env XDG_CONFIG_HOME=" + dir.path() + " " TARVEL_CTL " --nwclient=" + dir.file("admin.conf") +
                          " --ini=" + dir.file("t.ini") + " acl " + c.names + " 2>/dev/null)", &text), c.status);
        EXPECT_EQ(text.empty(), c.status != 0) << c.names;
        EXPECT_NE((c.printed.empty() ? readFile(dir.file("slapd/slapd.conf")) : text).find(c.printed.empty() ? text : c.printed),
                  std::string::npos) << c.names << ":\n" << text;
    }

    // The server, asked directly (a pupil takes the membership class in the same change).
    const struct { std::string entry, attribute, value; int result; } changes[] = {
        {in, "groupMembership", DENY_GROUP, 0}, {out, "groupMembership", DENY_GROUP, 50},
        {"S5A02." + K5A, "securityEquals", lehrer, 50}, {DENY_GROUP, "member", in, 0},
        {DENY_GROUP, "member", out, 50}, {DENY_GROUP, "equivalentToMe", out, 50}, {lehrer, "member", in, 50}};
    for (const auto& c : changes) {
        const bool pupil = c.attribute[0] != 'm' && c.attribute[0] != 'e';
        writeFile(dir.file("c.ldif"), "dn: " + dnOf(c.entry) + "\nchangetype: modify\n" +
                                          (pupil ? "add: objectClass\nobjectClass: tarvelMembership\n-\n" : "") + "add: " +
                                          c.attribute + "\n" + c.attribute + ": " + dnOf(c.value) + "\n");
        EXPECT_EQ(ldap("ldapmodify", "teacher", "-f " + dir.file("c.ldif")), c.result) << c.entry << " " << c.attribute;
    }

    // Through the program: allowed inside, refused outside with nothing of the pupil changed.
    std::vector<std::string> refusals;
    nw::ldap::setDiagnosticsSink([&](const std::string& l) { if (l.rfind("LDAP 50 ", 0) == 0) refusals.push_back(l.substr(l.find(" for "))); });
    platform::RecordingPorts ports;
    nw::setConfigurationFile(dir.file("teacher.conf"));
    bool ok = false;
    nwapi::InitNWConnection(ok);
    ASSERT_TRUE(ok);
    nwapi::NameList allowed = {"S5A03." + K5A}, refused = {out};
    EXPECT_TRUE(nwapi::AddMultipleUsersToGroup(allowed, std::string(".") + DENY_GROUP));
    EXPECT_FALSE(nwapi::AddMultipleUsersToGroup(refused, std::string(".") + DENY_GROUP));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text.rfind("Fehler -672.", 0), 0u) << ports.box.boxes[0].text;
    for (const std::string& pupil : {"S5A03." + K5A, out}) {
        int places = 0;  // of the four that hold the membership
        for (const auto& [entry, filter] : std::vector<std::pair<std::string, std::string>>{
                 {DENY_GROUP, "member=" + dnOf(pupil)}, {DENY_GROUP, "equivalentToMe=" + dnOf(pupil)},
                 {pupil, "groupMembership=" + dnOf(DENY_GROUP)}, {pupil, "securityEquals=" + dnOf(DENY_GROUP)}}) {
            std::string found;
            ldap("ldapsearch", "admin", "-LLL -s base -b " + dnOf(entry) + " '(" + filter + ")' 1.1", &found);
            places += found.find("dn:") != std::string::npos;
        }
        EXPECT_EQ(places, pupil == out ? 0 : 4) << pupil;
    }
    // The group's own side alone names the one attribute.
    nw::ObjectId group = -1;
    ASSERT_EQ(nw::currentBackend()->resolve({"UNTERRICHT", "PROJEKTE", "G_User_Internet_Deny"}, group), 0);
    nw::Change change{nw::DS_ADDITIONAL_VALUE, "Equivalent To Me", nw::SYN_DIST_NAME, {nw::AttrValue{}}};
    change.values[0].text = out;
    EXPECT_EQ(nw::currentBackend()->modify(group, {change}), nw::ERR_NO_ACCESS);
    EXPECT_EQ(refusals, (std::vector<std::string>{" for \"" + dnOf(out) + "\"; refused: objectClass, groupMembership, securityEquals",
                                                  " for \"" + dnOf(DENY_GROUP) + "\"; refused: equivalentToMe"}));
    nwapi::DoneNWConnection();
    nw::resetClient();
    nw::ldap::setDiagnosticsSink({});
}
