// The schedule file of timed stops: what is written is read back (odd characters included), in
// due order; comments are skipped and a line that is no entry makes the file unreadable.
#include "deny/schedule.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
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
    ASSERT_TRUE(deny::updateSchedule(path, [&](std::vector<deny::PendingGo>& entries) {
        entries = written;
        return true;
    }, error)) << error;

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

}  // namespace
