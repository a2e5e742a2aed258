// The audit trail: only a regular file, made with fixed modes, naming the bound account, and a
// "begun" line before each change with a result line after it that never calls a failure done.
#include "../nwapi/layer_fixture.h"
#include "deny/audit.h"
#include "deny/job.h"

#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>

using namespace testsupport;

class AuditTrail : public LayerTest {
protected:
    void useConf(const std::string& text) { writeFile(dir.file("c.conf"), text), nw::setConfigurationFile(dir.file("c.conf")); }
    static std::string result(const std::string& s) {  // the last result field, or all of s without one
        const size_t at = s.rfind("\tresult=");
        return at == std::string::npos ? s : s.substr(at + 8);
    }
    mode_t mode(const std::string& path) { struct stat st{}; return ::lstat(path.c_str(), &st) ? 0 : st.st_mode & 07777; }
};

TEST_F(AuditTrail, OnlyARegularFileIsWrittenNeverThroughALinkNorWaitingOnAPipe) {
    writeFile(dir.file("outside"), "keep\n");
    ::symlink(dir.file("outside").c_str(), dir.file("link").c_str());
    ::symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str());
    ::mkfifo(dir.file("fifo").c_str(), 0600), ::mkfifo(dir.file("lonefifo").c_str(), 0600);
    const int reader = ::open(dir.file("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir.file("link"), "ein symbolischer Verweis"}, {dir.file("dangling"), "ein symbolischer Verweis"},
        {dir.file("fifo"), "eine Pipe (FIFO)"}, {dir.file("lonefifo"), "eine Pipe (FIFO)"},
        {dir.path(), "ein Ordner"}, {"/dev/null", "ein Gerät"}};
    for (const auto& [path, kind] : cases) {
        useConf("Tree=sqlite:x\nAuditLog=" + path + "\n");
        EXPECT_FALSE(deny::writeAudit({"stop", {"a.B"}, "done changed=1"})) << path;
        ASSERT_FALSE(ports.box.boxes.empty());
        EXPECT_EQ(ports.box.boxes.back().caption + ports.box.boxes.back().text,
                  "Tarvel ProtokollDas Protokoll kann nicht geschrieben werden:\r\n" + path + "\r\nEs ist keine "
                  "gewöhnliche Datei, sondern " + kind + ".\r\nDie Änderung im Verzeichnis bleibt davon unberührt.");
    }
    // A change's begun and result lines failing alike: both count, one box.
    EXPECT_FALSE(deny::writeAuditBegun("stop", {"a.B"}, 1) || deny::writeAudit({"stop", {"a.B"}, "done changed=1"}));
    EXPECT_EQ(deny::auditFailures(), cases.size() + 2);
    EXPECT_EQ(ports.box.boxes.size(), cases.size() + 1);
    char byte;
    EXPECT_LE(::read(reader, &byte, 1), 0) << "nothing went into the FIFO";
    ::close(reader);
    EXPECT_EQ(readFile(dir.file("outside")), "keep\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere")));
}

// Under umask 000 and 777 alike: folders 0700 and the file 0600. The bound account is named beside Operator=.
TEST_F(AuditTrail, ModesAreFixedAndTheLineNamesTheAccountTheServerBound) {
    const std::string me = getpwuid(getuid())->pw_name;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Tree=sqlite:x\nOperator=admin.U\nBindDN=cn=x\n", "operator=admin.U/" + me + "\taction=go"},
        {"Tree=ldap://127.0.0.1:1\nOperator=admin.U\nBindDN=cn=x,o=y\n", "operator=admin.U/" + me + "\tbound=cn=x,o=y\taction=go"},
        {"Tree=ldaps://h\nBindDN=cn=x\n", "operator=-/" + me + "\tbound=cn=x\taction=go"}};
    const mode_t old = ::umask(0);
    for (size_t i = 0; i < cases.size(); ++i) {
        ::umask(i == 1 ? 0777 : 0);
        const std::string folder = dir.file(std::to_string(i)), file = folder + "/t/audit.log";
        useConf(cases[i].first + "AuditLog=" + file + "\n");
        EXPECT_TRUE(deny::writeAudit({"go", {"a.B"}, "done changed=1"}));
        EXPECT_NE(readFile(file).find("\t" + cases[i].second + "\tusers=a.B\tresult=done changed=1\n"), std::string::npos);
        EXPECT_EQ(std::vector<mode_t>({mode(folder), mode(folder + "/t"), mode(file)}), std::vector<mode_t>({0700, 0700, 0600}));
    }
    ::umask(old);
}

// The begun line is on disk before anything is sent; the result line after it says what happened.
TEST_F(AuditTrail, BegunBeforeTheChangeAndAFailureIsNeverDone) {
    using Call = nw::FaultBackend::Call;
    const std::vector<std::tuple<int, nw::NWDSCCODE, std::string, std::string, std::string>> cases = {
        {0, 0, kDeny, "begun to-change=24", "done changed=24"},
        {25, nw::ERR_NO_ACCESS, kDeny, "begun to-change=24", "failed code=-672 changed=0 of 24 half-done=24"},
        {4, nw::ERR_TIME_OUT, kDeny, "begun to-change=24", "timed-out changed=0 of 24 half-done=4"},
        {0, 0, ".Niemand.PROJEKTE.UNTERRICHT", "", "failed group-unreadable changed=0 of 0"}};
    for (const auto& [nth, fault, group, begun, want] : cases) {
        nwapi::DoneNWConnection(), nw::resetClient(), nwapi::resetLayerForTesting(), ports.box.boxes.clear();
        std::filesystem::remove(dir.file("school.tree")), std::filesystem::remove(dir.file("audit.log"));
        connectDemo(true);
        useConf(readFile(dir.file("nwclient.conf")) + "AuditLog=" + dir.file("audit.log") + "\n");
        text::NameList users;
        ASSERT_TRUE(nwapi::SearchObjects("KLASSE5A.SCHUELER.UNTERRICHT", users, "User"));
        if (nth) faults->failNth(Call::Modify, nth, fault);
        std::string seen;
        deny::runJob(deny::Direction::Stop, users, group, {[&](size_t done, size_t) {
            if (done == 0) seen = readFile(dir.file("audit.log")) + (faults->calls(Call::Modify) ? "sent" : "");
        }, {}});
        EXPECT_EQ(result(seen), begun.empty() ? begun : begun + "\n") << want;
        EXPECT_EQ(result(readFile(dir.file("audit.log"))), want + "\n");
    }
}

// AuditDays=: lines older than the days go (a line without a time stays), the file is replaced
// as the trail's own; a link or a pipe in its place is refused and left alone.
TEST_F(AuditTrail, PruningDropsOnlyOldLinesAndRefusesWhatIsNoTrail) {
    const std::time_t now = 1780000000;
    auto line = [&](int daysAgo) { return deny::formatAuditLine(now - daysAgo * 86400 + 60, "a.U", {"stop", {"p.K"}, "done"}) + "\n"; };
    const std::string trail = dir.file("audit.log");
    writeFile(trail, line(400) + line(91) + "no time here\n" + line(89) + line(0));
    ::chmod(trail.c_str(), 0644);
    std::string error;
    ASSERT_TRUE(deny::pruneAudit(trail, 90, now, error)) << error;
    EXPECT_EQ(readFile(trail), "no time here\n" + line(89) + line(0));
    EXPECT_EQ(mode(trail), 0600u);
    EXPECT_TRUE(deny::pruneAudit(dir.file("none.log"), 90, now, error)) << "no trail yet: nothing to prune";

    writeFile(dir.file("outside"), line(400));
    ::symlink(dir.file("outside").c_str(), dir.file("link").c_str());
    ::mkfifo(dir.file("fifo").c_str(), 0600);
    for (const auto& [path, said] : std::vector<std::pair<std::string, std::string>>{
             {dir.file("link"), "ein symbolischer Verweis"}, {dir.file("fifo"), "ist keine gewöhnliche Datei"}}) {
        error.clear();
        EXPECT_FALSE(deny::pruneAudit(path, 90, now, error)) << path;
        EXPECT_NE(error.find(said), std::string::npos) << error;
    }
    EXPECT_EQ(readFile(dir.file("outside")), line(400));
}
