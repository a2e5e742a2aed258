// The schedule file of timed stops: what is written is read back (odd characters included), in
// due order; comments are skipped and a line that is no entry makes the file unreadable.
#include "deny/schedule.h"
#include "nwclient/client_setup.h"
#include "platform/recording.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string kGroup = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";

TEST(Schedule, EntriesComeBackAsWrittenInDueOrder) {
    TempDir dir;
    const std::string path = dir.file("tarvel-schedule");
    // A backslash, a tab and line breaks in a name must not split or end its line.
    const std::vector<deny::PendingGo> written = {
        {2000, kGroup, "a\\.b.PROJEKTE.UNTERRICHT"},
        {1000, kGroup, "Tab\there\r\nand back\\slash.PROJEKTE.UNTERRICHT"},
        {3000, kGroup, "Gast03.PROJEKTE.UNTERRICHT"},
    };
    std::string error;
    const mode_t umask = ::umask(0);  // what is made gets 0600 whatever the umask
    ASSERT_TRUE(deny::updateSchedule(path, [&](std::vector<deny::PendingGo>& entries) {
        entries = written;
        return true;
    }, error)) << error;
    ::umask(umask);
    for (const std::string& made : {path, path + ".lock"}) {
        struct stat st {};
        EXPECT_EQ(::stat(made.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << made;
    }

    std::vector<deny::PendingGo> read;
    ASSERT_TRUE(deny::readSchedule(path, read, error)) << error;
    ASSERT_EQ(read.size(), 3u);
    const size_t order[] = {1, 0, 2};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(read[i].due, written[order[i]].due) << i;
        EXPECT_EQ(read[i].group, written[order[i]].group) << i;
        EXPECT_EQ(read[i].user, written[order[i]].user) << i;
    }
    const std::string text = readFile(path);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << "a header and three lines: " << text;
}

TEST(Schedule, CommentsAreSkippedAndAStrangeLineIsAnError) {
    TempDir dir;
    const std::string path = dir.file("tarvel-schedule");
    writeFile(path, "# written by hand\n\n1700000000\t" + kGroup + "\tGast01.PROJEKTE.UNTERRICHT\n# done\n");
    std::vector<deny::PendingGo> read;
    std::string error;
    ASSERT_TRUE(deny::readSchedule(path, read, error)) << error;
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].due, std::time_t(1700000000));
    EXPECT_EQ(read[0].user, "Gast01.PROJEKTE.UNTERRICHT");

    for (const std::string& bad : {"1700000000\t" + kGroup + "\tGast01\\x.PROJEKTE\n",
                                   "1700000000\t" + kGroup + "\tGast01.PROJEKTE\\\n", "soon\t" + kGroup + "\tGast01\n",
                                   "1700000000\t" + kGroup + "\n", std::string(" # not a comment\n")}) {
        writeFile(path, "# header\n" + bad);
        read.clear();
        error.clear();
        EXPECT_FALSE(deny::readSchedule(path, read, error)) << bad;
        EXPECT_NE(error.find("Zeile 2 ist kein Eintrag."), std::string::npos) << bad << ": " << error;
    }
}

bool writeOne(const std::string& path, std::string& error) {
    return deny::updateSchedule(path, [](std::vector<deny::PendingGo>& entries) {
        entries.push_back({1, kGroup, "Gast01.PROJEKTE.UNTERRICHT"});
        return true;
    }, error);
}

// Its lines free pupils: only a regular file of this account that nobody else may write is used.
// A FIFO must not hang anyone, and a link must neither be followed nor replaced.
TEST(Schedule, RefusesFilesThatAreNotThisAccountsOwnRegularFiles) {
    // The plan of another account: a file given away, or (not being root) one of root's.
    auto foreign = [](const std::string& path) {
        if (::geteuid() != 0) return std::string("/etc/passwd");
        writeFile(path, "");
        EXPECT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        return path;
    };
    struct Case {
        const char* name;
        std::function<std::string(const std::string& plan)> plant;  // the plan's path to use
        const char* said;
    };
    const std::vector<Case> cases = {
        {"FIFO", [](const std::string& p) { EXPECT_EQ(::mkfifo(p.c_str(), 0600), 0); return p; },
         "Der Zeitplan ist keine gewöhnliche Datei:"},
        {"folder", [](const std::string& p) { std::filesystem::create_directory(p); return p; },
         "Der Zeitplan ist keine gewöhnliche Datei:"},
        {"link", [](const std::string& p) { writeFile(p + "-target", ""); std::filesystem::create_symlink(p + "-target", p); return p; },
         "Der Zeitplan ist ein symbolischer Verweis:"},
        {"writable by others", [](const std::string& p) { writeFile(p, ""); ::chmod(p.c_str(), 0662); return p; },
         "Der Zeitplan darf von anderen Konten geschrieben werden:"},
        {"another account's", foreign, "Der Zeitplan gehört nicht dem Konto, unter dem Tarvel läuft:"},
        {"FIFO as lock", [](const std::string& p) { EXPECT_EQ(::mkfifo((p + ".lock").c_str(), 0600), 0); return p; },
         "Die Sperrdatei des Zeitplans ist keine gewöhnliche Datei:"},
        {"link as lock", [](const std::string& p) { std::filesystem::create_symlink(p + "-made", p + ".lock"); return p; },
         "Die Sperrdatei des Zeitplans ist ein symbolischer Verweis:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string plan = c.plant(dir.file("tarvel-schedule"));
        std::vector<deny::PendingGo> read;
        std::string error;
        const bool lockCase = std::string(c.name).find("lock") != std::string::npos;
        EXPECT_EQ(deny::readSchedule(plan, read, error), lockCase) << error;
        error.clear();
        EXPECT_FALSE(writeOne(plan, error));
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(dir.file("tarvel-schedule-made"))) << "a link's target is never made";
        EXPECT_EQ(readFile(dir.file("tarvel-schedule-target")), "");
        EXPECT_EQ(std::filesystem::is_symlink(dir.file("tarvel-schedule")), std::string(c.name) == "link");
    }
}

// A lock held by another is waited for up to LockTimeout= seconds while the window's messages
// are pumped, then given up with a message; 0 means no wait.
TEST(Schedule, AHeldLockIsWaitedForWhilePumpingThenGivenUp) {
    TempDir dir;
    platform::RecordingPorts ports;
    const std::string conf = dir.file("nwclient.conf"), plan = dir.file("tarvel-schedule");
    writeFile(conf, "Tree=sqlite:" + dir.file("none.tree") + "\nLockTimeout=0\n");
    nw::setConfigurationFile(conf);
    int holder = ::open((plan + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_len = 1;
    ASSERT_EQ(::fcntl(holder, F_OFD_SETLK, &range), 0);
    std::string error;
    EXPECT_FALSE(writeOne(plan, error));
    EXPECT_NE(error.find("Der Zeitplan ist gerade von einem anderen Vorgang gesperrt"), std::string::npos) << error;

    writeFile(conf, "Tree=sqlite:" + dir.file("none.tree") + "\n");  // the default: 30 s
    int waits = 0;
    deny::setSchedulePointHook([&](const std::string& point) {
        if (point == "lock busy" && ++waits == 3) ::close(holder);
    });
    error.clear();
    EXPECT_TRUE(writeOne(plan, error)) << error;
    deny::setSchedulePointHook({});
    EXPECT_EQ(waits, 3);
    EXPECT_GE(ports.pump.count, 3);
}

}  // namespace
