// Saving onto a volume of the demo school's tree: the embedded directory's trustee rights
// decide, and the stamp comes from the tree's server clock.
#include "settings/settings.h"

#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "platform/recording.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>

namespace fs = std::filesystem;

namespace {

class DemoTreeSave : public ::testing::Test {
protected:
    void open(const std::string& operatorName) {
        nwapi::resetLayerForTesting();
        nw::resetClient();
        testsupport::useDemoTree(dir, operatorName);
        bool ok = false;
        nwapi::InitNWConnection(ok);
        ASSERT_TRUE(ok);
        ports.box.boxes.clear();
    }
    void TearDown() override {
        nwapi::resetLayerForTesting();
        nw::resetClient();
    }
    platform::RecordingPorts ports;
    testsupport::TempDir dir;
    // The demo tree mounts its volume DATA beside the tree file, with a folder TARVEL.
    std::string folder = dir.file("DATA/TARVEL");
    std::string path = folder + "/tarvel.ini";
};

TEST_F(DemoTreeSave, AdministratorHasAllRightsAndTheStampIsTheServersTime) {
    open("admin.UNTERRICHT");
    ASSERT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(nwapi::GetRightsText(folder + "/"), "SRWECMFA");
    EXPECT_EQ(nwapi::GetRightsText(dir.file("school.tree")), "L");

    const std::time_t before = std::time(nullptr);
    ASSERT_TRUE(settings::SaveSettings(path));
    const std::time_t after = std::time(nullptr);
    EXPECT_TRUE(ports.box.boxes.empty());
    const std::string written = testsupport::readFile(path);
    std::smatch m;
    const std::string head = written.substr(0, 200);
    ASSERT_TRUE(std::regex_search(head, m, std::regex("\r\nSaved=(\\d\\d)\\.(\\d\\d)\\.(\\d{4}) \\d\\d:\\d\\d:\\d\\d \\(ServerTime\\)\r\n")));
    // The embedded server's clock is this machine's local time.
    bool today = false;
    for (std::time_t t : {before, after}) {
        std::tm tm{};
        localtime_r(&t, &tm);
        today = today || (std::stoi(m[1]) == tm.tm_mday && std::stoi(m[2]) == tm.tm_mon + 1 && std::stoi(m[3]) == tm.tm_year + 1900);
    }
    EXPECT_TRUE(today) << m[0];
}

TEST_F(DemoTreeSave, TeacherWithTrusteeRightsOnTheFolderSaves) {
    open("lehrer1.LEHRER.UNTERRICHT");
    EXPECT_EQ(nwapi::GetRightsText(folder), "RWECMF");
    ASSERT_TRUE(settings::SaveSettings(path));  // new file: folder rights suffice
    ASSERT_TRUE(settings::SaveSettings(path));  // existing file: inherits erase
    EXPECT_TRUE(ports.box.boxes.empty());
    EXPECT_EQ(testsupport::readFile(path).substr(0, 7), "[TYP]\r\n");
}

TEST_F(DemoTreeSave, TeacherWithReadRightsOnlyIsRefused) {
    open("lehrer2.LEHRER.UNTERRICHT");
    EXPECT_TRUE(settings::SaveSettings(path));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_NE(ports.box.boxes[0].text.find("erzeugen zu können"), std::string::npos);
    EXPECT_NE(ports.box.boxes[0].text.find("\r\n[RF]: " + folder + "/\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(path));

    testsupport::writeFile(path, "old");
    EXPECT_TRUE(settings::SaveSettings(path));
    ASSERT_EQ(ports.box.boxes.size(), 2u);
    EXPECT_NE(ports.box.boxes[1].text.find("\r\n[RF]: " + path + "\r\n[RF]: " + folder + "/\r\n"), std::string::npos);
    EXPECT_EQ(testsupport::readFile(path), "old");
}

TEST_F(DemoTreeSave, VolumeAndTrusteeMadeWithTheTreeTool) {
    testsupport::useDemoTree(dir);
    const std::string tree = dir.file("school.tree");
    fs::create_directories(dir.file("konf/schule"));
    std::string out;
    ASSERT_EQ(testsupport::runTreeTool("volume " + tree + " add KONF " + dir.file("konf"), &out), 0) << out;
    ASSERT_EQ(testsupport::runTreeTool("trustee " + tree + " KONF schule lehrer2.LEHRER.UNTERRICHT RWECMF", &out), 0)
        << out;
    open("lehrer2.LEHRER.UNTERRICHT");
    const std::string konf = dir.file("konf/schule/tarvel.ini");
    EXPECT_EQ(nwapi::GetRightsText(konf), "RWECMF");
    EXPECT_EQ(nwapi::GetRightsText(dir.file("konf/")), "");
    EXPECT_TRUE(settings::SaveSettings(konf));
    EXPECT_TRUE(ports.box.boxes.empty());
    EXPECT_TRUE(fs::exists(konf));
}

}  // namespace
