// tarvel-ctl driven as a script drives it: the real program on a copy of the demo school, its
// exit status, stdout, stderr and what it left in the tree, the schedule and the audit trail.
#include "slapd_fixture.h"
#include "free_port.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <ctime>
#include <regex>
#include <sstream>
#include <tuple>
#ifdef TARVEL_WEB
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <iomanip>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
extern char** environ;
#endif

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::runTreeTool;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

bool fs_exists(const std::string& p) { return std::filesystem::exists(p); }

const std::string Group = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";

struct CtlRun {
    int status = -1;
    std::string out, err;
};

class Ctl : public ::testing::Test {
protected:
    void SetUp() override {
        conf = testsupport::useDemoTree(dir);
        tree = dir.file("school.tree");
        ini = dir.file("tarvel.ini");
        writeFile(ini, "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nBasisUserContainer=UNTERRICHT\r\n"
                       "GroupInternetUserDeny=" + Group + "\r\n");
        addConf("AuditLog=audit.log\n");
    }
    void addConf(const std::string& lines) { writeFile(conf, readFile(conf) + lines); }

    CtlRun ctl(const std::string& arguments) { return ctlWithout("--nwclient=" + conf + " --ini=" + ini + " " + arguments); }
    // Without the files named: in the folder dir, with dir as XDG_CONFIG_HOME.
    CtlRun ctlWithout(const std::string& arguments) {
        CtlRun r;
        const std::string err = dir.file("stderr.txt");
        r.status = runCommand("(cd " + dir.path() + " && env XDG_CONFIG_HOME=" + dir.path() + " XDG_STATE_HOME=" +
                                  dir.path() + " " TARVEL_CTL " " + arguments + " 2>" + err + " </dev/null)",
                              &r.out);
        r.err = readFile(err);
        return r;
    }
    std::vector<std::string> members() {
        std::string out;
        EXPECT_EQ(runTreeTool("members " + tree + " " + Group, &out), 0) << out;
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    bool isMember(const std::string& user) {
        for (const std::string& m : members())
            if (m == user) return true;
        return false;
    }
    std::string show(const std::string& object, const std::string& attribute) {
        std::string out;
        runTreeTool("show " + tree + " " + object + " \"" + attribute + "\"", &out);
        return out;
    }

    TempDir dir;
    std::string conf, tree, ini;
};

const std::vector<std::string> DemoMembers = {
    "Gast01.PROJEKTE.UNTERRICHT", "Gast02.PROJEKTE.UNTERRICHT", "BauerLea.KLASSE6B.SCHUELER.UNTERRICHT",
    "BauerBen.KLASSE7A.SCHUELER.UNTERRICHT", "BeckerLena.KLASSE7A.SCHUELER.UNTERRICHT"};

std::string lines(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& i : items) out += i + "\n";
    return out;
}

TEST_F(Ctl, ListsTheMembersInTheDenyListsOrderAsNamesLoginsOrJson) {
    CtlRun r = ctl("list");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, lines(DemoMembers));
    r = ctl("list --logins");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Gast01\nGast02\nBauerLea\nBauerBen\nBeckerLena\n");
    r = ctl("--json list --logins");
    EXPECT_EQ(r.out, "[\"Gast01\",\"Gast02\",\"BauerLea\",\"BauerBen\",\"BeckerLena\"]\n");
    r = ctl("list --logins --output=" + dir.file("deny.txt"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(dir.file("deny.txt")), "Gast01\nGast02\nBauerLea\nBauerBen\nBeckerLena\n");
}

TEST_F(Ctl, LoginsRefuseNamesThatWouldNotNameOneUserInAProxyList) {
    // An escaped dot stays in the login name; a blank or the word REQUIRED would not name one user.
    for (const char* name : {"Max Muster.PROJEKTE.UNTERRICHT", "required.PROJEKTE.UNTERRICHT", "a\\.b.PROJEKTE.UNTERRICHT"})
        ASSERT_EQ(runTreeTool(std::string("add ") + tree + " '" + name + "' User"), 0);
    std::string values;
    for (const std::string& m : DemoMembers) values += " " + m;
    ASSERT_EQ(runTreeTool("set " + tree + " " + Group + " Member 1" + values +
                          " 'Max Muster.PROJEKTE.UNTERRICHT' required.PROJEKTE.UNTERRICHT 'a\\.b.PROJEKTE.UNTERRICHT'"),
              0);
    const CtlRun r = ctl("list --logins");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "a.b\nGast01\nGast02\nBauerLea\nBauerBen\nBeckerLena\n");
    EXPECT_NE(r.err.find("Max Muster.PROJEKTE.UNTERRICHT"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("required.PROJEKTE.UNTERRICHT"), std::string::npos) << r.err;
}

TEST_F(Ctl, WrongUseExitsTwoBeforeTouchingTheDirectory) {
    for (const char* args : {"", "frobnicate", "stop", "go --for 5m Gast03.PROJEKTE.UNTERRICHT", "list Gast01",
                             "stop --for 45x Gast03.PROJEKTE.UNTERRICHT", "stop --until 25:00 Gast03.PROJEKTE.UNTERRICHT",
                             "--bogus list", "log --since gestern"}) {
        const CtlRun r = ctl(args);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
        EXPECT_FALSE(r.err.empty()) << args;
    }
    EXPECT_FALSE(isMember("Gast03.PROJEKTE.UNTERRICHT"));
    CtlRun r = ctl("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Aufruf: tarvel-ctl"), std::string::npos);
    r = ctl("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "tarvel-ctl " TARVEL_VERSION "\n");
}

// Named files are plain paths from the current folder, in either form, and must exist; without
// them the user's folder is searched (its settings name another group).
TEST_F(Ctl, FilesAreNamedInEitherFormOrFoundInTheUsersFolder) {
    const std::tuple<std::string, int, std::string> cases[] = {  // arguments, status, a part of stdout + stderr
        {"--nwclient nwclient.conf --ini tarvel.ini list", 0, lines(DemoMembers)},
        {"--nwclient gone.conf --ini=tarvel.ini list", 2, "tarvel-ctl: --nwclient: Die Datei gone.conf gibt es nicht.\n"},
        {"--nwclient=nwclient.conf --ini=gone.ini pending", 2, "tarvel-ctl: --ini: Die Datei gone.ini gibt es nicht.\n"},
        {"--nwclient=nwclient.conf /ini=gone list", 2, "/gone.ini gibt es nicht.\n"},  // beside the program
        {"--nwclient=nwclient.conf --ini / list", 2, "tarvel-ctl: --ini: / ist keine Datei.\n"},
        {"--ini", 2, "tarvel-ctl: --ini braucht eine Datei\n"},
        {"list", 0, "lehrer1.LEHRER.UNTERRICHT\nlehrer2.LEHRER.UNTERRICHT\n"},
    };
    std::filesystem::create_directories(dir.file("tarvel"));
    std::filesystem::copy_file(conf, dir.file("tarvel/nwclient.conf"));
    writeFile(dir.file("tarvel/tarvel.ini"), std::regex_replace(readFile(ini), std::regex(Group), "G_Lehrer.LEHRER.UNTERRICHT"));
    for (const auto& [arguments, status, said] : cases) {
        const CtlRun r = ctlWithout(arguments);
        EXPECT_EQ(r.status, status) << arguments << "\n" << r.err;
        EXPECT_NE((r.out + r.err).find(said), std::string::npos) << arguments << "\n" << r.out << r.err;
    }
}

TEST_F(Ctl, StopAndGoOfAContainerChangeEveryUserBelowItAndWriteTheTrail) {
    const std::vector<std::string> klasse5a = {"BauerBen.KLASSE5A.SCHUELER.UNTERRICHT", "BeckerLena.KLASSE5A.SCHUELER.UNTERRICHT"};
    CtlRun r = ctl("stop --dry-run KLASSE5A.SCHUELER.UNTERRICHT Gast01.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("stop BauerBen.KLASSE5A.SCHUELER.UNTERRICHT\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Gast01"), std::string::npos) << "already stopped: " << r.out;
    EXPECT_EQ(members(), DemoMembers) << "a dry run changes nothing";
    EXPECT_FALSE(fs_exists(dir.file("audit.log")));

    r = ctl("stop KLASSE5A.SCHUELER.UNTERRICHT");
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string& u : klasse5a) EXPECT_TRUE(isMember(u)) << u;
    const size_t stopped = members().size();
    EXPECT_GT(stopped, DemoMembers.size() + 2);
    EXPECT_EQ(show("BauerBen.KLASSE5A.SCHUELER.UNTERRICHT", "Security Equals"), Group + "\n");
    const std::string trail = readFile(dir.file("audit.log"));
    const std::string line = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d\\toperator=admin\\.UNTERRICHT/[^\\t]+"
                             "\\taction=stop\\tusers=\\d+ users below KLASSE5A\\.SCHUELER\\.UNTERRICHT\\tresult=";
    EXPECT_TRUE(std::regex_search(trail, std::regex("^" + line + "begun to-change=\\d+\\n" + line + "done changed=\\d+\\n$")))
        << trail;

    r = ctl("go KLASSE5A.SCHUELER.UNTERRICHT");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(members(), DemoMembers);
    EXPECT_NE(readFile(dir.file("audit.log")).find("\taction=go\t"), std::string::npos);
}

TEST_F(Ctl, ANameThatIsNoUserOrContainerChangesNothing) {
    const CtlRun r = ctl("stop Gast03.PROJEKTE.UNTERRICHT Niemand.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Niemand.PROJEKTE.UNTERRICHT: weder Benutzer noch Container"), std::string::npos) << r.err;
    EXPECT_FALSE(isMember("Gast03.PROJEKTE.UNTERRICHT"));
}

TEST_F(Ctl, TimedStopPlansAGoOnlyForUsersItAddedAndDueCarriesItOut) {
    const std::time_t before = std::time(nullptr);
    CtlRun r = ctl("stop --for 45m Gast01.PROJEKTE.UNTERRICHT Gast03.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(isMember("Gast03.PROJEKTE.UNTERRICHT"));
    // Gast01 was stopped before and stays stopped: no go is planned for it.
    const std::string schedule = readFile(dir.file("tarvel-schedule"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(schedule, m, std::regex("\\n(\\d+)\\t\\." + Group + "\\tGast03\\.PROJEKTE\\.UNTERRICHT\\n$")))
        << schedule;
    const long long due = std::stoll(m[1]);
    EXPECT_GE(due, before + 45 * 60);
    EXPECT_LE(due, std::time(nullptr) + 45 * 60);
    r = ctl("pending");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("  Gast03.PROJEKTE.UNTERRICHT\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Gast01"), std::string::npos) << r.out;

    r = ctl("due");  // not yet
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(isMember("Gast03.PROJEKTE.UNTERRICHT"));

    // Time passes: the entry is made due.
    writeFile(dir.file("tarvel-schedule"), std::regex_replace(schedule, std::regex("\\n\\d+\\t"), "\n1\t"));
    r = ctl("due");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(isMember("Gast03.PROJEKTE.UNTERRICHT"));
    EXPECT_TRUE(isMember("Gast01.PROJEKTE.UNTERRICHT"));
    EXPECT_EQ(ctl("pending").out, "");
    EXPECT_NE(readFile(dir.file("audit.log")).find("\taction=timed go\tusers=Gast03.PROJEKTE.UNTERRICHT\tresult=done"),
              std::string::npos)
        << readFile(dir.file("audit.log"));
}

TEST_F(Ctl, AStopWithoutTimeDropsThePendingGo) {
    ASSERT_EQ(ctl("stop --until 23:59 Gast03.PROJEKTE.UNTERRICHT Gast04.PROJEKTE.UNTERRICHT").status, 0);
    ASSERT_NE(ctl("pending").out.find("Gast03"), std::string::npos);
    const CtlRun r = ctl("stop Gast03.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string pending = ctl("pending").out;
    EXPECT_EQ(pending.find("Gast03"), std::string::npos) << pending;
    EXPECT_NE(pending.find("Gast04"), std::string::npos) << pending;
}

TEST_F(Ctl, AnUnreadableScheduleIsReportedNeverTakenAsEmpty) {
    writeFile(dir.file("tarvel-schedule"), "1\t" + Group + "\tGast01.PROJEKTE.UNTERRICHT\nKaputt\n");
    for (const char* command : {"pending", "due"}) {
        const CtlRun r = ctl(command);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find("Der Zeitplan kann nicht gelesen werden:"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Zeile 2"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(isMember("Gast01.PROJEKTE.UNTERRICHT")) << "due must not act on half a schedule";
    CtlRun r = ctl("stop --for 5m Gast03.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(isMember("Gast03.PROJEKTE.UNTERRICHT")) << "no timed stop whose go cannot be planned";
    // A stop or go for good that cannot end planned go's: done in the directory, failed all the same.
    for (const char* command : {"stop", "go"}) {
        r = ctl(std::string(command) + " Gast03.PROJEKTE.UNTERRICHT");
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find("Tarvel Zeitplan: Die geplanten Freigaben dieser Benutzer konnten nicht gestrichen werden; "
                             "der Zeitgeber kann sie freigeben:\nGast03.PROJEKTE.UNTERRICHT\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(isMember("Gast03.PROJEKTE.UNTERRICHT"), std::string(command) == "stop");
    }
}

// Hostile or unusable plans: refused at once (a FIFO must not hang), a link neither followed nor
// replaced, and no timed stop changes anyone when its go could not be planned.
TEST_F(Ctl, APlanThatCannotBeUsedIsRefusedBeforeAnyoneIsStopped) {
    struct Case {
        const char* name;
        std::function<void(const std::string& plan)> plant;
        int reading;  // exit status of pending and due
    };
    const std::vector<Case> cases = {
        {"FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, 1},
        {"link", [&](const std::string& p) { std::filesystem::create_symlink(dir.file("elsewhere"), p); }, 1},
        // No folder to write it in: nothing planned yet, but nothing can be planned either.
        {"folder is a file", [&](const std::string&) { writeFile(dir.file("blocker"), ""); addConf("Schedule=blocker/plan\n"); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir.file("tarvel-schedule"));
        c.plant(dir.file("tarvel-schedule"));
        EXPECT_EQ(ctl("pending").status, c.reading);
        EXPECT_EQ(ctl("due").status, c.reading);
        const CtlRun r = ctl("stop --for 1h Gast03.PROJEKTE.UNTERRICHT");
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("Nichts wurde geändert."), std::string::npos) << r.err;
        EXPECT_FALSE(isMember("Gast03.PROJEKTE.UNTERRICHT"));
    }
    EXPECT_FALSE(fs_exists(dir.file("elsewhere")));
}

// due frees only what timed stops planned on the deny group: a line naming another group stays
// as it is, and is named.
TEST_F(Ctl, DueActsOnlyOnTheDenyGroup) {
    ASSERT_EQ(ctl("stop Gast03.PROJEKTE.UNTERRICHT").status, 0);
    writeFile(dir.file("tarvel-schedule"), "1\t." + Group + "\tGast03.PROJEKTE.UNTERRICHT\n"
                                           "1\t.G_Lehrer.LEHRER.UNTERRICHT\tlehrer1.LEHRER.UNTERRICHT\n");
    const CtlRun r = ctl("due");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(isMember("Gast03.PROJEKTE.UNTERRICHT"));
    EXPECT_NE(show("G_Lehrer.LEHRER.UNTERRICHT", "Member").find("lehrer1.LEHRER.UNTERRICHT\n"), std::string::npos);
    EXPECT_NE(r.err.find("Zeitplan: Einträge für die Gruppe .G_Lehrer.LEHRER.UNTERRICHT statt ." + Group +
                         " bleiben unberührt: 1."),
              std::string::npos)
        << r.err;
    EXPECT_NE(readFile(dir.file("tarvel-schedule")).find("\tlehrer1.LEHRER.UNTERRICHT\n"), std::string::npos);
}

TEST_F(Ctl, AFailedTrailIsReportedAndTheChangeStands) {
    writeFile(dir.file("blocker"), "");
    addConf("AuditLog=blocker/audit.log\n");
    const CtlRun r = ctl("stop Gast03.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Tarvel Protokoll: Das Protokoll kann nicht geschrieben werden:"), std::string::npos) << r.err;
    EXPECT_TRUE(isMember("Gast03.PROJEKTE.UNTERRICHT"));
}

TEST_F(Ctl, TheProxyListIsRewrittenAndReloadedOnlyWhenItChanges) {
    addConf("ListFile=deny.txt\nReloadCommand=echo x >> reloads\n");
    ASSERT_EQ(ctl("stop Gast03.PROJEKTE.UNTERRICHT").status, 0);
    EXPECT_EQ(readFile(dir.file("deny.txt")), "Gast01\nGast02\nGast03\nBauerLea\nBauerBen\nBeckerLena\n");
    EXPECT_EQ(readFile(dir.file("reloads")), "x\n");
    ASSERT_EQ(ctl("due").status, 0);
    EXPECT_EQ(readFile(dir.file("reloads")), "x\n") << "nothing changed, no reload";
    addConf("ReloadCommand=false\n");
    const CtlRun r = ctl("go Gast03.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ReloadCommand ist fehlgeschlagen"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir.file("deny.txt")), "Gast01\nGast02\nBauerLea\nBauerBen\nBeckerLena\n");
    // The file is current but the proxy never loaded it: the timer's next run reloads.
    addConf("ReloadCommand=echo y >> reloads\n");
    EXPECT_EQ(ctl("due").status, 0);
    EXPECT_EQ(readFile(dir.file("reloads")), "x\ny\n");
}

TEST_F(Ctl, CheckFindsEachKindAndRepairLetsMemberDecide) {
    // Gast01 (in Member) lost its Security Equals; Gast03 (not in Member) kept a Group Membership.
    ASSERT_EQ(runTreeTool("set " + tree + " Gast01.PROJEKTE.UNTERRICHT 'Security Equals' 1"), 0);
    ASSERT_EQ(runTreeTool("set " + tree + " Gast03.PROJEKTE.UNTERRICHT 'Group Membership' 1 " + Group), 0);
    // A group in the deny group is no user.
    std::string values;
    for (const std::string& m : DemoMembers) values += " " + m;
    ASSERT_EQ(runTreeTool("set " + tree + " " + Group + " Member 1" + values + " G_Lehrer.LEHRER.UNTERRICHT"), 0);

    CtlRun r = ctl("check");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("unvollständig\tGast01.PROJEKTE.UNTERRICHT\tsteht in Member, Equivalent To Me, Group "
                         "Membership, fehlt in Security Equals\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("unvollständig\tGast03.PROJEKTE.UNTERRICHT\tsteht in Group Membership, fehlt in Member, "
                         "Equivalent To Me, Security Equals\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("kein Benutzer\tG_Lehrer.LEHRER.UNTERRICHT\n"), std::string::npos) << r.out;
    // BauerBen of 7A is stopped; a proxy looking up "BauerBen" may find the one of 5A.
    EXPECT_NE(r.out.find("Login-Name mehrfach\tBauerBen.KLASSE7A.SCHUELER.UNTERRICHT\tBauerBen auch: "
                         "BauerBen.KLASSE5A.SCHUELER.UNTERRICHT\n"),
              std::string::npos)
        << r.out;

    r = ctl("repair --dry-run");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ergänzen Gast01.PROJEKTE.UNTERRICHT: Security Equals\n"
                     "entfernen Gast03.PROJEKTE.UNTERRICHT: Group Membership\n");
    EXPECT_EQ(show("Gast01.PROJEKTE.UNTERRICHT", "Security Equals"), "");

    r = ctl("repair");
    EXPECT_EQ(r.status, 1) << r.err;  // the group member and the shared login names stay
    EXPECT_NE(r.err.find("Repariert: 2, fehlgeschlagen: 0."), std::string::npos) << r.err;
    EXPECT_EQ(show("Gast01.PROJEKTE.UNTERRICHT", "Security Equals"), Group + "\n");
    EXPECT_EQ(show("Gast03.PROJEKTE.UNTERRICHT", "Group Membership"), "");
    r = ctl("check");
    EXPECT_EQ(r.out.find("unvollständig"), std::string::npos) << r.out;
    EXPECT_NE(readFile(dir.file("audit.log")).find("\taction=repair\tusers=Gast01.PROJEKTE.UNTERRICHT,Gast03.PROJEKTE."
                                                   "UNTERRICHT\tresult=done repaired=2\n"),
              std::string::npos)
        << readFile(dir.file("audit.log"));

    // A repair with nothing to do leaves no trail; one that mends a single user does.
    const std::string trail = readFile(dir.file("audit.log"));
    ctl("repair");
    EXPECT_EQ(readFile(dir.file("audit.log")), trail);
    ASSERT_EQ(runTreeTool("set " + tree + " Gast01.PROJEKTE.UNTERRICHT 'Security Equals' 1"), 0);
    r = ctl("repair");
    EXPECT_NE(r.err.find("Repariert: 1, fehlgeschlagen: 0."), std::string::npos) << r.err;
    EXPECT_NE(readFile(dir.file("audit.log")).find("\taction=repair\tusers=Gast01.PROJEKTE.UNTERRICHT\tresult=done "
                                                   "repaired=1\n"),
              std::string::npos)
        << readFile(dir.file("audit.log"));
}

TEST_F(Ctl, LogShowsTheTrailFromADate) {
    writeFile(dir.file("audit.log"),
              "2026-01-05T08:00:00+01:00\toperator=a\taction=stop\tusers=x\tresult=done changed=1\n"
              "2026-03-01T09:30:00+01:00\toperator=a\taction=go\tusers=x\tresult=done changed=1\n");
    CtlRun r = ctl("log --since 2026-02-01");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "2026-03-01T09:30:00+01:00\toperator=a\taction=go\tusers=x\tresult=done changed=1\n");
    r = ctl("--json log --since '2026-03-01 08:00'");
    EXPECT_EQ(r.out, "[{\"time\":\"2026-03-01T09:30:00+01:00\",\"operator\":\"a\",\"action\":\"go\",\"users\":\"x\","
                     "\"result\":\"done changed=1\"}]\n");
    // A date that does not exist is refused, not rolled over into the next month.
    for (const char* bad : {"2026-01-32", "2026-02-00", "2026-13-01", "2026-00-10", "'2026-02-01 24:00'"}) {
        r = ctl(std::string("log --since ") + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("ist kein Datum"), std::string::npos) << bad << ": " << r.err;
        EXPECT_EQ(r.out, "") << bad;
    }
}

// With Service= the school's state is the service's: a service that cannot be asked, or an address
// that would send the password in clear, changes nothing here either (no local stop, no plan).
TEST_F(Ctl, WithAServiceStopGoPendingAndLogGoThroughItOrChangeNothing) {
    writeFile(dir.file("pw"), "geheim\n");
    ::chmod(dir.file("pw").c_str(), 0600);
    addConf("PasswordFile=pw\n");
    const std::string before = readFile(conf);
    struct Case {
        const char* service;
        const char* command;
        int status;
        const char* said;
    } cases[] = {
        {"https://127.0.0.1:1", "stop --for 5m Gast03.PROJEKTE.UNTERRICHT", 1, "nicht erreichbar: https://127.0.0.1:1"},
        {"https://127.0.0.1:1", "go Gast01.PROJEKTE.UNTERRICHT", 1, "nicht erreichbar: https://127.0.0.1:1"},
        {"https://127.0.0.1:1/", "pending", 1, "nicht erreichbar: https://127.0.0.1:1"},
        {"http://[::1]:1", "log", 1, "nicht erreichbar: http://[::1]:1"},
        {"http://schule.example:8080", "stop Gast03.PROJEKTE.UNTERRICHT", 2, "nur zu einer Loopback-Adresse"},
        {"http://10.1.2.3", "pending", 2, "nur zu einer Loopback-Adresse"},
        {"http://127.0.0.1.example.org", "go Gast01.PROJEKTE.UNTERRICHT", 2, "nur zu einer Loopback-Adresse"},
        {"https://127.0.0.1:1", "due", 0, "führt der Dienst https://127.0.0.1:1 aus"},
    };
    for (const Case& c : cases) {
        writeFile(conf, before + "Service=" + c.service + "\n");
        const CtlRun r = ctl(c.command);
        EXPECT_EQ(r.status, c.status) << c.service << " " << c.command << "\n" << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << c.service << " " << c.command << "\n" << r.err;
    }
    EXPECT_EQ(members(), DemoMembers);
    EXPECT_FALSE(fs_exists(dir.file("audit.log")));
    EXPECT_FALSE(fs_exists(dir.file("tarvel-schedule")));
}

#ifdef TARVEL_WEB
// tarvel-web as the school runs it: over TLS (a certificate made for the run) on a loopback port,
// its own account (admin) on the same tree, its state folder 0750, its logins written by its own
// passwd command; its trail in its folder (XDG_STATE_HOME).
class WebService {
public:
    WebService(const std::string& folder, const std::string& tree, const std::string& ini)
        : folder_(folder), port_(testsupport::freeLoopbackPort()) {
        std::filesystem::create_directories(folder_ + "/state");
        std::filesystem::permissions(folder_ + "/state", std::filesystem::perms(0750));
        writeFile(folder_ + "/nwclient.conf", "Tree=sqlite:" + tree + "\nOperator=admin.UNTERRICHT\n");
        writeFile(config(), "[Dienst]\nListen=127.0.0.1\nPort=" + std::to_string(port_) +
                                "\nCertificate=web.pem\nKey=web.key\nStateDir=state\nNWClient=nwclient.conf\nSettings=" +
                                ini + "\nLogins=web-logins\n[Stunden]\n1=07:45-08:30\nPausenpuffer=5\n");
        std::string out;
        if (runCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext "
                       "subjectAltName=IP:127.0.0.1 -keyout " + folder_ + "/web.key -out " + certificate(), &out) != 0)
            throw std::runtime_error("openssl: " + out);
    }
    ~WebService() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 100 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    void addLogin(const std::string& login, const std::string& operatorName, const std::string& password) {
        std::string out;
        if (runCommand("echo " + password + " | " TARVEL_WEB " passwd " + login + " --operator " + operatorName +
                       " --config " + config(), &out) != 0)
            throw std::runtime_error("tarvel-web passwd: " + out);
    }
    // Starts it and waits until it listens.
    void start() {
        std::vector<std::string> variables{"XDG_STATE_HOME=" + folder_};
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("XDG_STATE_HOME=", 0) != 0) variables.push_back(*e);
        std::vector<char*> env;
        for (std::string& v : variables) env.push_back(v.data());
        env.push_back(nullptr);
        std::string program = TARVEL_WEB, option = "--config=" + config();
        char* argv[] = {program.data(), option.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        const int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, env.data());
        posix_spawn_file_actions_destroy(&actions);
        if (failed) throw std::runtime_error("tarvel-web cannot be started");
        for (int i = 0; i < 300; ++i) {
            if (readFile(log()).find("lauscht auf") != std::string::npos) return;
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        throw std::runtime_error("tarvel-web does not listen:\n" + readFile(log()));
    }
    std::string address() const { return "https://127.0.0.1:" + std::to_string(port_); }
    std::string certificate() const { return folder_ + "/web.pem"; }
    std::string config() const { return folder_ + "/tarvel-web.conf"; }
    std::string log() const { return folder_ + "/tarvel-web.log"; }

private:
    std::string folder_;
    int port_;
    pid_t pid_ = -1;
};

std::time_t localTime(const std::string& text) {
    std::tm tm{};
    std::istringstream in(text);
    in >> std::get_time(&tm, "%Y-%m-%d %H:%M:%S");
    tm.tm_isdst = -1;
    return in.fail() ? 0 : std::mktime(&tm);
}

// With Service= tarvel-ctl of any account stops, frees and reads through the school's service:
// one teacher's timed stop of a class is held under their name, another account sees the holders
// and its go ends the hold and says whose; the trail is the service's. A wrong password changes
// nothing. The tree is read after each step.
TEST_F(Ctl, ThroughTheServiceATimedClassStopIsHeldShownAndEndedByAnotherAccount) {
    WebService service(dir.file("dienst"), tree, ini);
    service.addLogin("lehrer1", "lehrer1.LEHRER.UNTERRICHT", "Kreide-und-Tafel-7");
    service.addLogin("chef", "admin.UNTERRICHT", "Schluessel-9");
    service.start();
    // Each account's own nwclient.conf: lehrer1 logs in as its Operator='s first name, the other
    // by ServiceLogin=.
    auto account = [&](const std::string& name, const std::string& lines, const std::string& password) {
        writeFile(dir.file(name + ".pw"), password + "\n");
        ::chmod(dir.file(name + ".pw").c_str(), 0600);
        writeFile(dir.file(name + ".conf"), "Tree=sqlite:" + tree + "\n" + lines + "Service=" + service.address() +
                                                "\nServiceCAFile=" + service.certificate() + "\nPasswordFile=" + name + ".pw\n");
        return "--nwclient=" + name + ".conf --ini=" + ini + " ";
    };
    const std::string teacher = account("lehrer1", "Operator=lehrer1.LEHRER.UNTERRICHT\n", "Kreide-und-Tafel-7");
    const std::string colleague = account("chef", "Operator=admin.UNTERRICHT\nServiceLogin=chef\n", "Schluessel-9");
    const std::string holder = "lehrer1.LEHRER.UNTERRICHT";

    const std::time_t before = std::time(nullptr);
    CtlRun r = ctlWithout(teacher + "stop --for 30m KLASSE5A.SCHUELER.UNTERRICHT");
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(r.status, 0) << r.err << readFile(service.log());
    std::vector<std::string> stopped;
    for (const std::string& m : members())
        if (std::find(DemoMembers.begin(), DemoMembers.end(), m) == DemoMembers.end()) stopped.push_back(m);
    ASSERT_GT(stopped.size(), 2u);
    for (const std::string& m : stopped) EXPECT_NE(m.find(".KLASSE5A.SCHUELER.UNTERRICHT"), std::string::npos) << m;
    EXPECT_NE(r.err.find("Gesperrt: " + std::to_string(stopped.size()) + " Benutzer"), std::string::npos) << r.err;
    EXPECT_FALSE(fs_exists(dir.file("tarvel-schedule"))) << "the service plans the release, not the account";

    // The other account sees every hold with its holder and end.
    r = ctlWithout(colleague + "pending");
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> held;
    const std::regex line("(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)  (\\S+)  \\((\\S+)\\)");
    std::istringstream pending(r.out);
    for (std::string l; std::getline(pending, l);) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << l;
        EXPECT_EQ(m[3], holder) << l;
        EXPECT_GE(localTime(m[1]), before + 30 * 60) << l;
        EXPECT_LE(localTime(m[1]), after + 30 * 60) << l;
        held.push_back(m[2]);
    }
    std::sort(held.begin(), held.end());
    std::sort(stopped.begin(), stopped.end());
    EXPECT_EQ(held, stopped);

    // Its go of one pupil ends the teacher's hold there and names it; the rest stay held.
    const std::string pupil = "BauerBen.KLASSE5A.SCHUELER.UNTERRICHT";
    r = ctlWithout(colleague + "go " + pupil);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(pupil + ": Sperre von " + holder + " bis "), std::string::npos) << r.err;
    EXPECT_FALSE(isMember(pupil));
    EXPECT_EQ(members().size(), DemoMembers.size() + stopped.size() - 1);
    r = ctlWithout(teacher + "pending");
    EXPECT_EQ(r.out.find(pupil), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), long(stopped.size() - 1)) << r.out;

    // A misspelt name beside a real one changes nothing, as without the service.
    r = ctlWithout(colleague + "stop Gast03.PROJEKTE.UNTERRICHT Niemand.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Niemand.PROJEKTE.UNTERRICHT: weder Benutzer noch Container"), std::string::npos) << r.err;
    EXPECT_FALSE(isMember("Gast03.PROJEKTE.UNTERRICHT"));

    // The trail is the service's: both accounts' changes, as their own operators, and nothing else.
    r = ctlWithout(teacher + "log");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string n = std::to_string(stopped.size());
    const std::string when = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d\\toperator=";
    const std::string stop = when + "lehrer1\\.LEHRER\\.UNTERRICHT/[^\\t]+\\taction=stop\\tusers=" + n +
                             " users below KLASSE5A\\.SCHUELER\\.UNTERRICHT\\tresult=";
    const std::string go = when + "admin\\.UNTERRICHT/[^\\t]+\\taction=go\\tusers=BauerBen\\.KLASSE5A\\.SCHUELER\\.UNTERRICHT\\tresult=";
    EXPECT_TRUE(std::regex_match(r.out, std::regex(stop + "begun to-change=" + n + "\\n" + stop + "done changed=" + n + "\\n" +
                                                   go + "begun to-change=1\\n" + go + "done changed=1\\n")))
        << r.out;
    // ... kept in the service's state folder, not in its account's home.
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("dienst") + "/state/audit.log"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("dienst") + "/tarvel/audit.log"));
    char tomorrow[16];
    const std::time_t later = std::time(nullptr) + 24 * 60 * 60;
    std::strftime(tomorrow, sizeof tomorrow, "%Y-%m-%d", std::localtime(&later));
    r = ctlWithout(teacher + "log --since " + tomorrow);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");

    // A wrong password: refused by name, nothing read, nothing changed.
    writeFile(dir.file("chef.pw"), "falsch\n");
    for (const std::string& command :
         std::vector<std::string>{"pending", "log", "stop Gast03.PROJEKTE.UNTERRICHT", "go " + stopped.back()}) {
        r = ctlWithout(colleague + command);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find("Anmeldung am Dienst abgelehnt (chef, " + service.address() + ")"), std::string::npos)
            << command << "\n" << r.err;
        EXPECT_EQ(r.out, "") << command;
    }
    EXPECT_FALSE(isMember("Gast03.PROJEKTE.UNTERRICHT"));
    EXPECT_TRUE(isMember(stopped.back()));
}
#endif

// A teacher may change the deny group but not a guest's entry: the server refuses the stop, and
// tarvel-ctl says so (it is no cancel), exits 1 and leaves the guest out of Member.
TEST(CtlOnServer, AStopTheServerRefusesIsReportedAsAFailure) {
    ldaptest::Slapd slapd;
    TempDir dir;
    const std::string ini = dir.file("tarvel.ini");
    writeFile(ini, "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nBasisUserContainer=UNTERRICHT\r\n"
                   "GroupInternetUserDeny=" + Group + "\r\n");
    const std::string err = dir.file("stderr.txt");
    std::string out;
    const int status = runCommand("(cd " + dir.path() + " && env XDG_CONFIG_HOME=" + dir.path() + " XDG_STATE_HOME=" +
                                      dir.path() + " " TARVEL_CTL " --nwclient=" + slapd.useAs("teacher") +
                                      " --ini=" + ini + " stop Gast03.PROJEKTE.UNTERRICHT 2>" + err + " </dev/null)",
                                  &out);
    const std::string said = readFile(err);
    EXPECT_EQ(status, 1) << said;
    EXPECT_NE(said.find("Tarvel Internet-Stop: Es sind Fehler aufgetreten!"), std::string::npos) << said;
    EXPECT_NE(said.find("0 von 1 Benutzern wurden geändert."), std::string::npos) << said;
    EXPECT_EQ(said.find("Abgebrochen"), std::string::npos) << said;
    EXPECT_FALSE(slapd.holdsDn(slapd.dn(Group), "member", slapd.dn("Gast03.PROJEKTE.UNTERRICHT")));

    // On a terminal the counter stands on stderr; the server's refusal, logged meanwhile, and the
    // messages after it each start a line of their own.
    const int onTerminal = runCommand("cd " + dir.path() + " && env XDG_CONFIG_HOME=" + dir.path() + " XDG_STATE_HOME=" +
                                          dir.path() + " script -qec '" TARVEL_CTL " --nwclient=" + slapd.useAs("teacher") +
                                          " --ini=" + ini + " stop Gast03.PROJEKTE.UNTERRICHT >/dev/null' /dev/null",
                                      &out);
    EXPECT_EQ(onTerminal, 1) << out;
    EXPECT_NE(out.find("\rInternet-Stop: 0 von 1 Benutzern"), std::string::npos) << out;
    EXPECT_NE(out.find("\ntarvel: LDAP 50"), std::string::npos) << out;
    for (const char* start : {"tarvel: ", "NDS-Fehler: ", "Tarvel Internet-Stop: "})
        for (size_t at = out.find(start); at != std::string::npos; at = out.find(start, at + 1))
            EXPECT_TRUE(at == 0 || out[at - 1] == '\n' || out[at - 1] == '\r') << start << " glued on:\n" << out;
}

}  // namespace
