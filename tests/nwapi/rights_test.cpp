// Server clock, effective rights as a mask and as letters, and the path forms a settings path
// can take (UNC, NetWare, local below a mounted volume, local elsewhere).
#include "rights_fake_backend.h"

#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "platform/recording.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <filesystem>

using rightstest::openFakeServer;
using rightstest::rightsKey;

namespace {

class RightsTest : public ::testing::Test {
protected:
    void SetUp() override {
        state = openFakeServer();
        state->volumes.push_back({state->server, "DATEN", ""});  // on the server, not mounted here
        ports.box.boxes.clear();
    }
    void TearDown() override {
        nwapi::resetLayerForTesting();
        nw::resetClient();
    }
    void mount(const std::string& volume, const std::string& folder) {
        for (auto& v : state->volumes)
            if (v.volume == volume) v.localPath = folder;
    }
    platform::RecordingPorts ports;
    std::shared_ptr<rightstest::FakeState> state;
};

TEST(RightsMaskText, LettersInFixedOrderAndBitFourHasNone) {
    EXPECT_EQ(nwapi::RightsMaskToText(0x1FB), "SRWECMFA");
    EXPECT_EQ(nwapi::RightsMaskToText(0x1FF), "SRWECMFA");
    EXPECT_EQ(nwapi::RightsMaskToText(0x003), "RW");
    EXPECT_EQ(nwapi::RightsMaskToText(0x000), "");
    EXPECT_EQ(nwapi::RightsMaskToText(0x004), "");
    // File scan alone reads the same as a failed query.
    EXPECT_EQ(nwapi::RightsMaskToText(0x040), "F");
    EXPECT_EQ(nwapi::RightsMaskToText(0x0A8), "CMA");
}

TEST(RightsMaskText, ContainsAllLettersIgnoresCaseAndOrder) {
    EXPECT_TRUE(nwapi::ContainsAllLetters("e", "RWE"));
    EXPECT_FALSE(nwapi::ContainsAllLetters("RWECMF", "RWECF"));
    EXPECT_TRUE(nwapi::ContainsAllLetters("", ""));
    EXPECT_TRUE(nwapi::ContainsAllLetters("fmcewr", "SRWECMFA"));
    EXPECT_FALSE(nwapi::ContainsAllLetters("E", ""));
    EXPECT_FALSE(nwapi::ContainsAllLetters("E", "L"));
}

TEST_F(RightsTest, ServerClockExample) {
    nwapi::ServerClock c;
    nwapi::ReadServerClock(c);
    EXPECT_EQ(c.year, 2026);
    EXPECT_EQ(c.month, 12);
    EXPECT_EQ(c.day, 6);
    EXPECT_EQ(c.hour, 15);
    EXPECT_EQ(c.minute, 30);
    EXPECT_EQ(c.second, 0);
    double value = 0;
    nwapi::GetServerDateTime(value);
    // 2026-12-06 is day 46362 after 1899-12-30; 15:30 is 31/48 of a day.
    EXPECT_NEAR(value, 46362.0 + 31.0 / 48.0, 1e-9);
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_F(RightsTest, ClockBytesAboveOneHundredAndTwentySevenStayPositive) {
    const uint8_t reply[7] = {200, 2, 29, 23, 59, 59, 3};  // 2100-02-29 does not exist
    std::memcpy(state->clock, reply, 7);
    nwapi::ServerClock c;
    nwapi::ReadServerClock(c);
    EXPECT_EQ(c.year, 2100);
    EXPECT_EQ(c.weekday, 3);
    double value = -1;
    nwapi::GetServerDateTime(value);
    EXPECT_EQ(value, 0.0);

    const uint8_t leapDay[7] = {100, 2, 29, 12, 0, 0, 2};  // 2000-02-29 does
    std::memcpy(state->clock, leapDay, 7);
    nwapi::GetServerDateTime(value);
    EXPECT_EQ(value, 36585.5);
}

TEST_F(RightsTest, UnreadableOrInvalidClockGivesZeroWithoutBox) {
    state->clockStatus = nw::INVALID_CONNECTION;
    nwapi::ServerClock c;
    c.year = 7;
    nwapi::ReadServerClock(c);
    EXPECT_EQ(c.year, 0);
    EXPECT_EQ(c.weekday, 0);
    double value = -1;
    nwapi::GetServerDateTime(value);
    EXPECT_EQ(value, 0.0);

    state->clockStatus = 0;
    const uint8_t badTime[7] = {126, 12, 6, 24, 0, 0, 0};
    std::memcpy(state->clock, badTime, 7);
    nwapi::GetServerDateTime(value);
    EXPECT_EQ(value, 0.0);
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST(RightsWithoutConnection, ClockZeroAndLocalPathsLocal) {
    platform::RecordingPorts ports;
    nw::resetClient();
    nwapi::resetLayerForTesting();
    double value = -1;
    nwapi::GetServerDateTime(value);
    EXPECT_EQ(value, 0.0);
    EXPECT_EQ(nwapi::GetRightsText("C:\\TEMP\\X.INI"), "L");
    EXPECT_EQ(nwapi::GetRightsText("/tmp/x.ini"), "L");
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_F(RightsTest, LocalPathsOutsideVolumesAreLocalWithoutBox) {
    testsupport::TempDir dir;
    mount("DATEN", dir.file("daten"));
    EXPECT_EQ(nwapi::GetEffectiveRightsMask("C:\\TEMP\\X.INI"), nwapi::RIGHTS_NOT_NETWARE);
    EXPECT_EQ(nwapi::GetRightsText(dir.file("tarvel.ini")), "L");
    EXPECT_EQ(nwapi::GetRightsText(dir.file("datenbank/tarvel.ini")), "L");  // a sibling, not below
    EXPECT_EQ(nwapi::GetRightsText("conf/tarvel.ini"), "L");                 // relative, no volume colon
    // Backslashes are ordinary characters in a Linux file name: no UNC path.
    EXPECT_EQ(nwapi::GetRightsText(dir.file("a\\\\b\\c/tarvel.ini")), "L");
    EXPECT_TRUE(ports.box.boxes.empty());
    EXPECT_TRUE(state->queries.empty());
}

TEST_F(RightsTest, UncPathsBecomeVolumeAndDirectory) {
    state->rights[rightsKey("DATEN", "")] = 0x1FB;
    state->rights[rightsKey("DATEN", "PROG\\X.INI")] = 0x013;
    EXPECT_EQ(nwapi::GetRightsText("\\\\SCHULSRV\\DATEN"), "SRWECMFA");
    EXPECT_EQ(nwapi::GetRightsText("\\\\schulsrv\\daten\\PROG\\X.INI"), "RWE");
    ASSERT_EQ(state->queries.size(), 2u);
    EXPECT_EQ(state->queries[0], std::make_pair(std::string("DATEN"), std::string("")));
    EXPECT_EQ(state->queries[1], std::make_pair(std::string("DATEN"), std::string("PROG\\X.INI")));
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_F(RightsTest, NetWarePathWithServerBeforeSlash) {
    state->rights[rightsKey("DATEN", "PROG/X.INI")] = 0x0FB;
    EXPECT_EQ(nwapi::GetRightsText("SCHULSRV/DATEN:PROG/X.INI"), "RWECMFA");
    ASSERT_EQ(state->queries.size(), 1u);
    EXPECT_EQ(state->queries[0].first, "DATEN");
    EXPECT_EQ(state->queries[0].second, "PROG/X.INI");
}

TEST_F(RightsTest, PathBelowMountedVolumeKeepsBlanksInFolderNames) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.file("daten/Mein Ordner"));
    mount("DATEN", dir.file("daten"));
    state->rights[rightsKey("DATEN", "Mein Ordner\\tarvel.ini")] = 0x011;
    state->rights[rightsKey("DATEN", "Mein Ordner")] = 0x0FB;
    EXPECT_EQ(nwapi::GetRightsText(dir.file("daten/Mein Ordner/tarvel.ini")), "RE");
    EXPECT_EQ(nwapi::GetRightsText(dir.file("daten/Mein Ordner/")), "RWECMFA");
    // The server-qualified form keeps the blank inside the folder name as well.
    EXPECT_EQ(nwapi::GetRightsText("\\\\SCHULSRV\\DATEN\\Mein Ordner\\tarvel.ini"), "RE");
    EXPECT_TRUE(ports.box.boxes.empty());
}

// A tree that names no server still has volumes: a path on one is asked for its rights, never
// taken for a local file.
TEST_F(RightsTest, VolumeOfAServerWithoutANameIsAskedForRights) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.file("daten"));
    state->server.clear();
    for (auto& v : state->volumes) v.server.clear();
    mount("DATEN", dir.file("daten"));
    state->rights[rightsKey("DATEN", "tarvel.ini")] = 0x011;
    EXPECT_EQ(nwapi::GetRightsText(dir.file("daten/tarvel.ini")), "RE");
    EXPECT_EQ(state->queries.size(), 1u);
    EXPECT_TRUE(ports.box.boxes.empty()) << ports.box.boxes.front().text;
}

TEST_F(RightsTest, PathThroughSymbolicLinkIntoVolume) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.file("daten/prog"));
    std::filesystem::create_directory_symlink(dir.file("daten/prog"), dir.file("link"));
    mount("DATEN", dir.file("daten"));
    state->rights[rightsKey("DATEN", "prog\\x.ini")] = 0x001;
    EXPECT_EQ(nwapi::GetRightsText(dir.file("link/x.ini")), "R");
}

TEST_F(RightsTest, UnknownServerOrVolumeIsUnparsableWithBox) {
    EXPECT_EQ(nwapi::GetRightsText("\\\\ANDERER\\DATEN\\X.INI"), "?");
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "NW-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler 34887. NWParsePath (GetEffectiveRightsMask)");
    EXPECT_EQ(ports.box.boxes[0].buttons, platform::Buttons::OkCancel);

    EXPECT_EQ(nwapi::GetEffectiveRightsMask("SCHULSRV/NIRGENDS:X.INI"), nwapi::RIGHTS_UNPARSABLE);
    EXPECT_EQ(ports.box.boxes.size(), 2u);
    EXPECT_TRUE(state->queries.empty());
}

TEST_F(RightsTest, FailedRightsQueryReadsFWithBoxAndKeepsTheConnection) {
    state->rightsStatus = nw::INVALID_PATH;
    EXPECT_EQ(nwapi::GetRightsText("\\\\SCHULSRV\\DATEN\\X.INI"), "F");
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler 35228. NWGetEffectiveRights (GetEffectiveRightsMask)");
    // Releasing the path's connection must not take the layer's connection with it.
    nwapi::ServerClock c;
    nwapi::ReadServerClock(c);
    EXPECT_EQ(c.year, 2026);
}

}  // namespace
