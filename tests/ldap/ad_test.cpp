// The LDAP backend against a real Samba AD domain controller loaded with the demo school.
#include "backend_fixture.h"
#include "deny/check.h"
#include "deny/describe.h"
#include "deny/job.h"
#include "deny/members.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "nwclient/ldap/ldap_backend.h"
#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/nwclient.h"
#include "platform/recording.h"
#include "samba_fixture.h"
#include "slapd_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace nw;
using namespace adtest;

using ldaptest::idOf;

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
    return ldaptest::openBackend(configFor(dc, who, std::move(extra)));
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

// The program's layers, connected by the nwclient.conf in use, for the object's life.
struct Connected {
    platform::RecordingPorts ports;
    bool ok = false;
    Connected() {
        nwapi::resetLayerForTesting();  // the client keeps the nwclient.conf set before
        nwapi::InitNWConnection(ok);
        nwapi::SetzeContext("[root]");
    }
    ~Connected() {
        nwapi::DoneNWConnection();
        nw::resetClient();
        nwapi::resetLayerForTesting();
    }
};

// tarvel-ctl with this nwclient.conf and settings naming the deny group: its exit code and output.
int ctl(const std::string& conf, const testsupport::TempDir& dir, const std::string& arguments, std::string& out) {
    testsupport::writeFile(dir.file("t.ini"), "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nGroupInternetUserDeny=" + DENY + "\r\n");
    return testsupport::runCommand("env XDG_CONFIG_HOME=" + dir.path() + " " TARVEL_CTL " --nwclient=" + conf + " --ini=" +
                                       dir.file("t.ini") + " " + arguments,
                                   &out);
}

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

namespace {

// Users U0000..U(n-1) in OU=GROSS of the school, and a group G_Gross holding them all.
void addBigGroup(const SambaDc& dc, int users) {
    std::string ldif = "dn: OU=GROSS," + std::string(SCHOOL) + "\nchangetype: add\nobjectClass: organizationalUnit\n\n";
    std::string members;
    for (int i = 0; i < users; ++i) {
        const std::string name = "U" + std::to_string(10000 + i);
        ldif += "dn: CN=" + name + ",OU=GROSS," + SCHOOL + "\nchangetype: add\nobjectClass: user\nsAMAccountName: " + name + "\n\n";
        members += "member: CN=" + name + ",OU=GROSS," + SCHOOL + "\n";
    }
    ldif += "dn: CN=G_Gross,OU=GROSS," + std::string(SCHOOL) + "\nchangetype: add\nobjectClass: group\nsAMAccountName: G_Gross\n" +
            members + "\n";
    std::string out;
    ASSERT_TRUE(dc.modify(ldif, &out)) << out.substr(out.size() > 500 ? out.size() - 500 : 0);
}

}  // namespace

// AD is known by its root DSE (or Directory=ad, which also gives the operator's DN AD's form):
// membership is Member alone, and the classes are the program's.
TEST(AdDirectory, DetectedWithItsMembershipPlacesAndClasses) {
    SambaDc dc;
    auto byRootDse = open(dc, "admin", {{"binddn", "SCHULE\\admin"}});
    auto byConfig = open(dc, "admin", {{"directory", "ad"}});
    ASSERT_TRUE(byRootDse && byConfig);
    EXPECT_EQ(byRootDse->membershipPlaces(), uint32_t(PLACE_MEMBER));
    EXPECT_EQ(byConfig->membershipPlaces(), uint32_t(PLACE_MEMBER));
    const std::pair<const char*, const char*> classes[] = {
        {TEACHER, "User"},
        {"G_User_Internet_Deny.PROJEKTE.UNTERRICHT", "Group"},
        {"WS-R101-01.SCHUELER.UNTERRICHT", "Workstation"},
        {"KLASSE5A.SCHUELER.UNTERRICHT", "Organizational Unit"},
        {"Users", "Organizational Unit"},
    };
    for (const auto& [name, baseClass] : classes) {
        std::string full;
        ObjectSummary summary;
        ASSERT_EQ(byRootDse->describe(idOf(*byRootDse, name), full, summary), 0) << name;
        EXPECT_EQ(summary.baseClass, baseClass) << name;
    }
    // The slapd-only places are not read on AD: only the members are.
    Attribute a;
    EXPECT_NE(byRootDse->readAttribute(idOf(*byRootDse, TEACHER), "Group Membership", a), 0);
}

// From the domain root in pages of 100: every user and no workstation, and the server's search
// references (Configuration, the DNS zones) neither followed nor counted.
TEST(AdDirectory, SearchesInSmallPagesWithoutReferencesOrComputers) {
    SambaDc dc;
    auto backend = open(dc, "admin", {{"directory", "ad"}, {"pagesize", "100"}});
    ASSERT_TRUE(backend);
    addBigGroup(dc, 250);
    std::string count;
    testsupport::runCommand("ldapsearch -x -LLL -H " + dc.url() + " -D 'SCHULE\\Administrator' -y " +
                                dc.passwordFile("administrator") + " -b " + BASE +
                                " '(&(objectClass=user)(!(objectClass=computer)))' 1.1 | grep -c '^dn:'",
                            &count);
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(backend->search(ROOT_ID, "Object Class", "User", cursor), 0);
    std::vector<ObjectSummary> all, page;
    NWDSCCODE status = 0;
    int pages = 0;
    while ((status = cursor->next(page)) == 0 && !page.empty()) {
        all.insert(all.end(), page.begin(), page.end());
        ++pages;
    }
    EXPECT_EQ(status, 0);
    EXPECT_GT(all.size(), 400u);
    EXPECT_EQ(std::to_string(all.size()), count.substr(0, count.find('\n')));
    EXPECT_GE(pages, 4);
    for (const ObjectSummary& s : all) EXPECT_EQ(s.baseClass, "User") << s.name;
}

// A group of 5,000 read whole in ranges of 500, as Windows hands out 1,500 at most.
TEST(AdDirectory, ReadsALargeGroupInRanges) {
    SambaDc dc;
    addBigGroup(dc, 5000);
    auto backend = open(dc, "admin", {{"directory", "ad"}, {"rangesize", "500"}});
    ASSERT_TRUE(backend);
    std::vector<std::string> members = memberNames(*backend, "G_Gross.GROSS.UNTERRICHT");
    ASSERT_EQ(members.size(), 5000u);
    EXPECT_EQ(members.front(), "U10000.GROSS.UNTERRICHT");
    EXPECT_EQ(members.back(), "U14999.GROSS.UNTERRICHT");
    EXPECT_EQ(std::adjacent_find(members.begin(), members.end()), members.end());
}

// AD's answers to a member already there (68) and to one not there (53) are the client's
// duplicate and missing value, so the layer reads again and sends the rest.
TEST(AdDirectory, MemberConflictsAreDuplicateAndMissingValues) {
    SambaDc dc;
    auto backend = open(dc, "admin", {{"directory", "ad"}});
    ASSERT_TRUE(backend);
    const ObjectId deny = idOf(*backend, DENY);
    auto change = [&](uint32_t type, const std::string& user) {
        Change c;
        c.type = type;
        c.attribute = "Member";
        c.values.push_back(AttrValue{user + ".PROJEKTE.UNTERRICHT", {}, {}, {}, 0, 0});
        return backend->modify(deny, {c});
    };
    EXPECT_EQ(change(DS_ADDITIONAL_VALUE, "Gast01"), ERR_DUPLICATE_VALUE);
    EXPECT_EQ(change(DS_REMOVE_VALUE, "Gast03"), ERR_NO_SUCH_VALUE);
    EXPECT_EQ(change(DS_ADDITIONAL_VALUE, "Gast03"), 0);
    EXPECT_TRUE(dc.holdsDn(dc.dn(DENY), "member", dc.dn("Gast03.PROJEKTE.UNTERRICHT")));
}

// The teacher through the program's layers, on the class groups he may write and on one he may not:
// stop, stop again, go; another class refused (50 -> -672) with nothing changed; and the admin adding
// a pupil between the layer's read of the members and its change (68 -> read again -> done).
TEST(AdDirectory, TeacherStopsHisClassInItsGroupOnly) {
    SambaDc dc;
    dc.useAs("teacher", "Directory=ad\n");
    Connected layers;
    ASSERT_TRUE(layers.ok);
    auto& ports = layers.ports;
    auto pupilsOf = [](const std::string& klasse) {
        nwapi::NameList users;
        EXPECT_TRUE(nwapi::SearchObjects("." + klasse + ".SCHUELER.UNTERRICHT", users, "User"));
        std::sort(users.begin(), users.end());
        return users;
    };
    auto members = [&](const std::string& klasse) {
        std::vector<std::string> dns = dc.values(dc.dn(classGroup(klasse)), "member");
        for (std::string& d : dns) d = ldap::dnKey(d);
        std::sort(dns.begin(), dns.end());
        return dns;
    };
    auto dnsOf = [&](const nwapi::NameList& users) {
        std::vector<std::string> dns;
        for (const std::string& u : users) dns.push_back(ldap::dnKey(dc.dn(u)));
        std::sort(dns.begin(), dns.end());
        return dns;
    };
    const nwapi::NameList k5a = pupilsOf("KLASSE5A"), k6a = pupilsOf("KLASSE6A");
    ASSERT_GE(k5a.size(), 3u);
    ASSERT_FALSE(k6a.empty());
    const std::string late = dc.dn(k5a[1]);
    struct Step {
        const char* what;
        std::string klasse;
        nwapi::NameList users;
        bool stop, concurrent, result;
        size_t toChange, halfDone;
        std::vector<std::string> after;
    };
    const Step steps[] = {
        {"stop", "KLASSE5A", {k5a[0]}, true, false, true, 1, 0, dnsOf({k5a[0]})},
        {"stop racing the admin", "KLASSE5A", k5a, true, true, true, k5a.size() - 1, 0, dnsOf(k5a)},
        {"stop again", "KLASSE5A", k5a, true, false, true, 0, 0, dnsOf(k5a)},
        {"go", "KLASSE5A", k5a, false, false, true, k5a.size(), 0, {}},
        {"other class", "KLASSE6A", k6a, true, false, false, k6a.size(), 0, {}},
    };
    for (const Step& s : steps) {
        nwapi::NameList users = s.users;
        nwapi::MembershipOutcome outcome;
        nwapi::MembershipProgress progress;
        // Once the layer has read the members and knows what to send, another account is quicker.
        progress.progress = [&](size_t done, size_t) {
            if (s.concurrent && done == 0) {
                EXPECT_TRUE(dc.modify("dn: " + dc.dn(classGroup(s.klasse)) + "\nchangetype: modify\nadd: member\nmember: " + late + "\n"));
            }
        };
        const std::string group = "." + classGroup(s.klasse);
        const bool result = s.stop ? nwapi::AddMultipleUsersToGroup(users, group, progress, &outcome)
                                   : nwapi::DeleteMultipleUsersFromGroup(users, group, progress, &outcome);
        EXPECT_EQ(result, s.result) << s.what;
        EXPECT_EQ(outcome.toChange, s.toChange) << s.what;
        EXPECT_EQ(outcome.halfDone, s.halfDone) << s.what;
        EXPECT_EQ(members(s.klasse), s.after) << s.what;
        if (s.result) {
            EXPECT_TRUE(ports.box.boxes.empty()) << s.what << ": " << ports.box.boxes.front().text;
        } else {
            ASSERT_EQ(ports.box.boxes.size(), 1u) << s.what;
            EXPECT_EQ(ports.box.boxes[0].text.rfind("Fehler -672.", 0), 0u) << ports.box.boxes[0].text;
            // AD keeps no Equivalent To Me: the box names only the place it has.
            EXPECT_NE(ports.box.boxes[0].text.find("] Member of "), std::string::npos) << ports.box.boxes[0].text;
        }
    }
}

// What `tarvel-ctl acl --ad` prints, run on the DC as its Administrator: a group for the class
// beside the deny group and nested in it, whose member the teacher may write; the deny group
// itself stays closed to him. With ClassGroups=yes the deny job writes that group: the teacher
// stops and frees his class, every reader and the proxy helper count its pupils as stopped, and
// another class is refused, its group missing (named, nothing made) or not his.
TEST(AdDirectory, ClassGroupCommandsTarvelCtlPrints) {
    SambaDc dc;
    const std::string conf = dc.useAs("admin", "Directory=ad\n");
    testsupport::TempDir dir;
    std::string commands;
    ASSERT_EQ(ctl(conf, dir, "acl --ad lehrer1.LEHRER.UNTERRICHT KLASSE6A.SCHUELER.UNTERRICHT", commands), 0) << commands;
    // samba-tool on the DC itself needs no address or account; here it is given both.
    std::string password = testsupport::readFile(dc.passwordFile("administrator"));
    password = password.substr(0, password.find('\n'));
    testsupport::writeFile(dir.file("acl.sh"), "samba-tool() { command samba-tool \"$@\" -H " + dc.url() +
                                                   " -U 'SCHULE\\Administrator%" + password + "'; }\nset -e\n" + commands);
    std::string out;
    ASSERT_EQ(testsupport::runCommand("bash " + dir.file("acl.sh"), &out), 0) << commands << out;
    const std::string group = "CN=G_User_Internet_Deny_KLASSE6A,OU=PROJEKTE," + std::string(SCHOOL);
    EXPECT_TRUE(dc.holdsDn(dc.dn(DENY), "member", group)) << commands;
    nwapi::NameList k6a;
    {
        Connected layers;
        ASSERT_TRUE(nwapi::SearchObjects(".KLASSE6A.SCHUELER.UNTERRICHT", k6a, "User"));
    }
    ASSERT_FALSE(k6a.empty());
    const struct {
        std::string groupDn;
        int result;
    } writes[] = {{group, 0}, {dc.dn(DENY), 50}};
    for (const auto& w : writes) {
        testsupport::writeFile(dir.file("c.ldif"), "dn: " + w.groupDn + "\nchangetype: modify\nadd: member\nmember: " +
                                                       dc.dn(k6a.front()) + "\n");
        EXPECT_EQ(testsupport::runCommand("ldapmodify -x -H " + dc.url() + " -D '" + dc.dn(TEACHER) + "' -y " +
                                              dc.passwordFile("teacher") + " -f " + dir.file("c.ldif"),
                                          &out),
                  w.result)
            << w.groupDn << out;
    }

    const std::string group5b = "CN=G_User_Internet_Deny_KLASSE5B,OU=PROJEKTE," + std::string(SCHOOL);
    ASSERT_TRUE(dc.modify("dn: " + group5b + "\nchangetype: add\nobjectClass: group\nsAMAccountName: G_User_Internet_Deny_KLASSE5B\n\n" +
                          "dn: " + dc.dn(DENY) + "\nchangetype: modify\nadd: member\nmember: " + group5b + "\n\n" +
                          "dn: " + group + "\nchangetype: modify\ndelete: member\n"));
    const std::string teacherConf = dc.useAs("teacher", "Directory=ad\nClassGroups=yes\n");
    Connected layers;
    ASSERT_TRUE(layers.ok);
    auto& ports = layers.ports;
    nwapi::NameList k5a, k5b, before;
    ASSERT_TRUE(nwapi::SearchObjects(".KLASSE5A.SCHUELER.UNTERRICHT", k5a, "User"));
    ASSERT_TRUE(nwapi::SearchObjects(".KLASSE5B.SCHUELER.UNTERRICHT", k5b, "User"));
    ASSERT_TRUE(deny::readMembers(DENY, before));
    const std::string login = dc.values(dc.dn(k6a.back()), "sAMAccountName").at(0);
    auto helperSays = [&] {
        std::string answer;
        testsupport::runCommand("printf '%s\\n' " + login + " | " TARVEL_PROXY_HELPER " --nwclient=" + teacherConf +
                                    " --ini=" + dir.file("t.ini"),
                                &answer);
        while (!answer.empty() && answer.back() == '\n') answer.pop_back();
        return answer.substr(answer.rfind('\n') + 1);  // after the helper's warnings
    };
    const struct {
        const char* what;
        deny::Direction direction;
        nwapi::NameList users;
        std::string box;  // empty: done
        bool stopped;     // k6a
    } steps[] = {
        {"stop his class", deny::Direction::Stop, k6a, "", true},
        {"a class without its group", deny::Direction::Stop, {k5a.front()},
         "Fehler -601. Die Klassengruppe G_User_Internet_Deny_KLASSE5A.PROJEKTE.UNTERRICHT fehlt", true},
        {"another's class", deny::Direction::Stop, {k5b.front()}, "Fehler -672.", true},
        {"go", deny::Direction::Go, k6a, "", false},
    };
    for (const auto& step : steps) {
        ports.box.boxes.clear();
        const deny::JobResult r = deny::runJob(step.direction, step.users, DENY);
        EXPECT_EQ(r.ok(), step.box.empty()) << step.what;
        ASSERT_EQ(ports.box.boxes.size(), step.box.empty() ? 0u : 1u) << step.what;
        EXPECT_EQ(ports.box.boxes.empty() ? "" : ports.box.boxes[0].text.substr(0, step.box.size()), step.box) << step.what;
        EXPECT_EQ(dc.values(group, "member").size(), step.stopped ? k6a.size() : 0u) << step.what;
        EXPECT_TRUE(dc.values("CN=G_User_Internet_Deny_KLASSE5A,OU=PROJEKTE," + std::string(SCHOOL), "cn").empty());
        nwapi::NameList members;
        ASSERT_TRUE(deny::readMembers(DENY, members));
        EXPECT_EQ(members.size(), before.size() + (step.stopped ? k6a.size() : 0u)) << step.what;
        EXPECT_EQ(std::count(members.begin(), members.end(), k6a.back()), step.stopped ? 1 : 0) << step.what;
        const deny::CheckReport report = deny::checkGroup(DENY);
        EXPECT_EQ(report.members, members.size()) << step.what;
        EXPECT_TRUE(report.notUsers.empty()) << report.notUsers.front();
        EXPECT_EQ(helperSays(), step.stopped ? "ERR" : "OK") << step.what;
    }
}

// A pupil in the deny group only through another group: stopped, listed with that group (the
// deny list, tarvel-ctl list), and a go leaves him and names the group to change (also from the
// deny list's row); list --logins writes sAMAccountName, which may differ from the name.
TEST(AdDirectory, NestedPupilsShowTheirGroupAndLoginsAreSamAccountNames) {
    SambaDc dc;
    const std::string holder = classGroup("KLASSE5A");
    ASSERT_TRUE(dc.modify("dn: " + dc.dn(holder) + "\nchangetype: modify\nadd: member\nmember: " + dc.dn(PUPIL) + "\n\n" +
                          "dn: " + dc.dn(DENY) + "\nchangetype: modify\nadd: member\nmember: " + dc.dn(holder) + "\n\n" +
                          "dn: " + dc.dn(PUPIL) + "\nchangetype: modify\nreplace: sAMAccountName\nsAMAccountName: mmeyer\n"));
    const std::string conf = dc.useAs("admin", "Directory=ad\n");
    testsupport::TempDir dir;
    const std::string row = std::string(PUPIL) + deny::throughText(holder);
    const struct {
        const char* arguments;
        std::string shown, notShown;
    } lists[] = {
        {"list", "\n" + row + "\n", "\n" + std::string(PUPIL) + "\n"},
        {"list --logins", "\nmmeyer\n", "MeyerMarie"},
    };
    for (const auto& l : lists) {
        std::string out;
        EXPECT_EQ(ctl(conf, dir, l.arguments, out), 0);
        EXPECT_NE(("\n" + out).find(l.shown), std::string::npos) << l.arguments << ":\n" << out;
        EXPECT_EQ(out.find(l.notShown), std::string::npos) << l.arguments << ":\n" << out;
    }
    Connected layers;
    ASSERT_TRUE(layers.ok);
    const struct {
        deny::Direction direction;
        std::string user, says;
    } jobs[] = {
        {deny::Direction::Stop, PUPIL, "Gesperrt: 0 Benutzer, 1 waren schon gesperrt."},
        {deny::Direction::Go, row,
         "Tarvel Internet-Go: " + std::string(PUPIL) + " ist über die Gruppe " + holder + " gesperrt und bleibt es: " + holder +
             " ändern. 0 von 1 Benutzern wurden geändert."},
    };
    for (const auto& j : jobs) {
        const deny::JobResult r = deny::runJob(j.direction, {j.user}, DENY);
        EXPECT_EQ(deny::describe(j.direction, r, DENY, deny::Repeat::Call).oneLine(), j.says);
        EXPECT_TRUE(dc.holdsDn(dc.dn(holder), "member", dc.dn(PUPIL)));
        EXPECT_FALSE(dc.holdsDn(dc.dn(DENY), "member", dc.dn(PUPIL)));
    }
    EXPECT_TRUE(layers.ports.box.boxes.empty()) << layers.ports.box.boxes.front().text;
}
