// Saving the settings file: the exact bytes, the rights test, and the old file kept whole
// whenever a save does not complete.
#include "settings/settings.h"
#include "settings/settings_file.h"

#include "../nwapi/rights_fake_backend.h"
#include "platform/recording.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using rightstest::rightsKey;
using settings::values;

namespace {

// The golden file lies beside this source file; it is kept as raw bytes (Windows-1252, CR LF).
std::string goldenFile() { return testsupport::readFile((fs::path(__FILE__).parent_path() / "golden/tarvel.ini").string()); }

const std::string MessageE(const std::string& path) {
    return "Die Datei\r\n\"" + path + "\"\r\nkann nicht geschrieben werden\r\noder Sie haben keine Schreibrechte !";
}

class SaveSettings : public ::testing::Test {
protected:
    void SetUp() override {
        server = rightstest::openFakeServer();
        settings::resetToStartValues();
        ports.box.boxes.clear();
    }
    void TearDown() override {
        nwapi::resetLayerForTesting();
        nw::resetClient();
    }
    // The values the golden file holds.
    void setGoldenValues() {
        auto& v = values();
        v.BasisUserContainer = "schüler.unterricht";
        v.GroupInternetUserDeny = ".G_User_Internet_Deny.PROJEKTE.UNTERRICHT";
        v.BasisUserContainerGoUpALevel = true;
        v.ShowFirst = 7;
        v.ShowContainerList = {"Kl*", "Gym*"};
        v.ShowLeafList = {"*"};
        v.NoShowLeafList = {"Test", "Verwalter", "Müller", "Test"};
    }
    void mount(const std::string& folder) { server->volumes.push_back({server->server, "DATEN", folder}); }
    // Entries of the folder, to see that no temporary file stays behind.
    std::vector<std::string> entries(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    platform::RecordingPorts ports;
    std::shared_ptr<rightstest::FakeState> server;
    testsupport::TempDir dir;
    std::string path = dir.file("tarvel.ini");
};

TEST_F(SaveSettings, WritesTheExactBytes) {
    setGoldenValues();
    EXPECT_TRUE(settings::SaveSettings(path));
    EXPECT_TRUE(ports.box.boxes.empty());
    const std::string written = testsupport::readFile(path);
    EXPECT_EQ(written, goldenFile());
    size_t lines = 0;
    for (size_t at = written.find("\r\n"); at != std::string::npos; at = written.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(lines, 67u);
    EXPECT_EQ(written.find('\n'), written.find("\r\n") + 1);  // no bare line feeds
}

TEST_F(SaveSettings, SavedFileLoadsBackWithStarsRestored) {
    setGoldenValues();
    values().ShowContainerList = {"Kl", "Gym"};  // as the settings dialog hands them over
    ASSERT_TRUE(settings::SaveSettings(path));
    settings::resetToStartValues();
    settings::LoadSettings(path);
    EXPECT_TRUE(ports.box.boxes.empty());
    EXPECT_EQ(values().BasisUserContainer, "schüler.unterricht");
    EXPECT_EQ(values().ShowContainerList, (text::NameList{"Kl*", "Gym*"}));
    EXPECT_EQ(values().NoShowLeafList, (text::NameList{"Test", "Verwalter", "Müller", "Test"}));
    EXPECT_EQ(values().ShowFirst, 1);
    EXPECT_TRUE(values().BasisUserContainerGoUpALevel);
    EXPECT_FALSE(values().BasisGroupContainerGoUpALevel);
}

TEST_F(SaveSettings, UndefinedCodePageBytesSurviveLoadAndSave) {
    testsupport::writeFile(path, "[TYP]\r\nTyp=Tarvel\r\n[SHOW]\r\nNoShowLeaf=a\x81" "b, M\xFCller\r\n");
    settings::LoadSettings(path);
    ASSERT_EQ(values().NoShowLeafList, (text::NameList{"a\xC2\x81" "b", "Müller"}));
    ASSERT_TRUE(settings::SaveSettings(path));
    EXPECT_NE(testsupport::readFile(path).find("\r\nNoShowLeaf=a\x81" "b, M\xFCller\r\n"), std::string::npos);
    EXPECT_TRUE(ports.box.boxes.empty());
}

// No server clock: the workstation's time, and the stamp says so (not 30.12.1899).
TEST_F(SaveSettings, UnreadClockStampsTheWorkstationTime) {
    server->clockStatus = nw::INVALID_CONNECTION;
    auto stampNow = [] {
        const std::time_t now = std::time(nullptr);
        char text[32];
        std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", std::localtime(&now));
        return "\r\nSaved=" + std::string(text) + " (LocalTime)\r\n";
    };
    const std::string before = stampNow();
    ASSERT_TRUE(settings::SaveSettings(path));
    const std::string after = stampNow(), file = testsupport::readFile(path);
    EXPECT_TRUE(file.find(before) != std::string::npos || file.find(after) != std::string::npos) << file;
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST(ServerStamp, Formats) {
    EXPECT_EQ(settings::FormatServerStamp(0), "30.12.1899 00:00:00 (ServerTime)");
    EXPECT_EQ(settings::FormatServerStamp(2.5), "01.01.1900 12:00:00 (ServerTime)");
    EXPECT_EQ(settings::FormatServerStamp(36585 + 1.0 / 86400 * 3661), "29.02.2000 01:01:01 (ServerTime)");
    EXPECT_EQ(settings::FormatServerStamp(46362.0 + 31.0 / 48.0), "06.12.2026 15:30:00 (ServerTime)");
    EXPECT_EQ(settings::FormatServerStamp(1.0 / 0.0), "30.12.1899 00:00:00 (ServerTime)");
}

TEST_F(SaveSettings, EmptyListsWriteBareKeyLines) {
    ASSERT_TRUE(settings::SaveSettings(path));
    const std::string written = testsupport::readFile(path);
    EXPECT_NE(written.find("\r\nShowContainer=\r\n     ; Namens-Anf\xE4nge"), std::string::npos);
    EXPECT_NE(written.find("\r\nNoShowLeaf=\r\n     ; Namens-TEILE"), std::string::npos);
    EXPECT_NE(written.find("\r\nGroupInternetUserDeny=G_User_Internet_Deny.PROJEKTE.UNTERRICHT\r\n"), std::string::npos);
    EXPECT_NE(written.find("\r\nShowFirst=1\r\n"), std::string::npos);  // ShowFirst 0 at start
}

TEST_F(SaveSettings, ValueWindows1252CannotHoldIsRefusedWithMessageE) {
    testsupport::writeFile(path, "old contents");
    values().NoShowLeafList = {"Łukasz"};
    EXPECT_TRUE(settings::SaveSettings(path));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "INI-Datei-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text, MessageE(path));
    EXPECT_EQ(testsupport::readFile(path), "old contents");

    // A line break inside a value would forge keys of its own.
    values().NoShowLeafList.clear();
    values().BasisUserContainer = "x\r\n[TYP]\r\nVer=999";
    EXPECT_TRUE(settings::SaveSettings(path));
    EXPECT_EQ(ports.box.boxes.size(), 2u);
    EXPECT_EQ(testsupport::readFile(path), "old contents");
}

// ---- replacing the old file ----

TEST_F(SaveSettings, KeepsPermissionsAndLeavesNoTemporaryFile) {
    testsupport::writeFile(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(settings::SaveSettings(path));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"tarvel.ini"}));
}

TEST_F(SaveSettings, WritesThroughASymbolicLink) {
    fs::create_directory(dir.file("real"));
    testsupport::writeFile(dir.file("real/tarvel.ini"), "old");
    fs::create_symlink("real/tarvel.ini", path);
    setGoldenValues();
    ASSERT_TRUE(settings::SaveSettings(path));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(testsupport::readFile(dir.file("real/tarvel.ini")), goldenFile());
    EXPECT_EQ(entries(dir.file("real")), (std::vector<std::string>{"tarvel.ini"}));
}

// Folder and file permissions do not bind root. Under root the save runs in a child process
// as "nobody", which owns the test folder; the child answers with the number of the first
// expectation that failed (0 = all held).
int asOrdinaryUser(const std::string& folder, const std::function<int()>& check) {
    if (::geteuid() != 0) return check();
    const uid_t nobody = 65534;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (::lchown(e.path().c_str(), nobody, nobody) != 0) return 100;
    if (::chown(folder.c_str(), nobody, nobody) != 0) return 101;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) ::_exit(102);
        ::_exit(check());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 103;
    return WEXITSTATUS(status);
}

TEST_F(SaveSettings, ReadOnlyFolderWithWritableFileIsWrittenInPlace) {
    testsupport::writeFile(path, std::string(10000, 'x'));
    setGoldenValues();
    const std::string golden = goldenFile();
    const int failed = asOrdinaryUser(dir.path(), [&] {
        if (::chmod(dir.path().c_str(), 0555) != 0) return 1;
        if (!settings::SaveSettings(path)) return 2;
        if (!ports.box.boxes.empty()) return 3;
        if (testsupport::readFile(path) != golden) return 4;
        if (entries(dir.path()) != std::vector<std::string>{"tarvel.ini"}) return 5;
        return 0;
    });
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(failed, 0);
}

TEST_F(SaveSettings, NothingWritableShowsTheSystemErrorAndKeepsTheOldFile) {
    testsupport::writeFile(path, "old");
    const int failed = asOrdinaryUser(dir.path(), [&] {
        if (::chmod(path.c_str(), 0444) != 0 || ::chmod(dir.path().c_str(), 0555) != 0) return 1;
        if (settings::SaveSettings(path)) return 2;
        if (ports.box.boxes.size() != 1) return 3;
        if (ports.box.boxes[0].caption != "Tarvelweb") return 4;
        if (ports.box.boxes[0].text != "Die Datei \"" + path + "\" kann nicht erstellt werden.\r\nPermission denied (13)")
            return 5;
        if (testsupport::readFile(path) != "old") return 6;
        return 0;
    });
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(failed, 0);
}

// A write-protected file in a writable folder is not replaced behind its back.
TEST_F(SaveSettings, WriteProtectedFileShowsTheSystemError) {
    testsupport::writeFile(path, "old");
    const int failed = asOrdinaryUser(dir.path(), [&] {
        if (::chmod(path.c_str(), 0444) != 0) return 1;
        if (settings::SaveSettings(path)) return 2;
        if (ports.box.boxes.size() != 1) return 3;
        if (ports.box.boxes[0].text != "Die Datei \"" + path + "\" kann nicht erstellt werden.\r\nPermission denied (13)")
            return 4;
        if (testsupport::readFile(path) != "old") return 5;
        if (entries(dir.path()) != std::vector<std::string>{"tarvel.ini"}) return 6;
        return 0;
    });
    EXPECT_EQ(failed, 0);
}

TEST_F(SaveSettings, FifoIsNotReplaced) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    EXPECT_TRUE(settings::SaveSettings(path));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, MessageE(path));
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"tarvel.ini"}));
}

// Someone else's file that we may write keeps its owner and group.
TEST_F(SaveSettings, KeepsOwnerAndGroupOfAFileWeMayWrite) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file another owner";
    testsupport::writeFile(path, "old");
    setGoldenValues();
    const std::string golden = goldenFile();
    const uid_t nobody = 65534, other = 4321;
    ASSERT_EQ(::chown(dir.path().c_str(), nobody, nobody), 0);
    ASSERT_EQ(::chown(path.c_str(), other, other), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) ::_exit(102);
        ::_exit(settings::SaveSettings(path) && ports.box.boxes.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, other);
    EXPECT_EQ(st.st_gid, other);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(testsupport::readFile(path), golden);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"tarvel.ini"}));
}

TEST_F(SaveSettings, MissingFolderIsACreateFailure) {
    const std::string missing = dir.file("fehlt/tarvel.ini");
    EXPECT_FALSE(settings::SaveSettings(missing));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "Tarvelweb");
    EXPECT_NE(ports.box.boxes[0].text.find("No such file or directory (2)"), std::string::npos);
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(SaveSettings, FailedReplaceShowsMessageEAndKeepsTheOldOne) {
    // A folder where the file should be: the new file cannot take its place.
    fs::create_directory(path);
    testsupport::writeFile(dir.file("tarvel.ini/inside"), "keep");
    EXPECT_TRUE(settings::SaveSettings(path));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, MessageE(path));
    EXPECT_EQ(testsupport::readFile(dir.file("tarvel.ini/inside")), "keep");
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"tarvel.ini"}));
}

// ---- the rights test on a mounted volume ----

TEST_F(SaveSettings, LocalPathIsWrittenWithoutRightsTest) {
    ASSERT_TRUE(settings::SaveSettings(path));
    testsupport::writeFile(path, "old");
    ASSERT_TRUE(settings::SaveSettings(path));
    EXPECT_TRUE(server->queries.empty());
    EXPECT_TRUE(ports.box.boxes.empty());
    EXPECT_EQ(testsupport::readFile(path).substr(0, 7), "[TYP]\r\n");
}

TEST_F(SaveSettings, PathThePathParserCannotTakeIsWrittenWithoutRightsTest) {
    // Below a volume, but with a directory part longer than the parser's 255-byte answers: "?".
    mount(dir.path());
    const std::string deep = dir.file(std::string(120, 'a') + "/" + std::string(120, 'b') + "/" + std::string(20, 'c'));
    fs::create_directories(deep);
    const std::string longPath = deep + "/tarvel.ini";
    EXPECT_EQ(nwapi::GetRightsText(longPath), "?");
    ports.box.boxes.clear();

    EXPECT_TRUE(settings::SaveSettings(longPath));  // new file, folder "?"
    testsupport::writeFile(longPath, "old");
    EXPECT_TRUE(settings::SaveSettings(longPath));  // existing file "?"
    EXPECT_EQ(testsupport::readFile(longPath).substr(0, 7), "[TYP]\r\n");
    EXPECT_TRUE(server->queries.empty());
    // Only the parser's own boxes, no refusal.
    ASSERT_EQ(ports.box.boxes.size(), 2u);
    for (const auto& box : ports.box.boxes) EXPECT_EQ(box.caption, "NW-Fehler");
}

TEST_F(SaveSettings, ExistingFileNeedsEraseOnFileAndAllButAccessOnFolder) {
    mount(dir.path());
    testsupport::writeFile(path, "old");
    server->rights[rightsKey("DATEN", "tarvel.ini")] = 0x013;  // RWE
    server->rights[rightsKey("DATEN", "")] = 0x0DB;            // RWECMF
    EXPECT_TRUE(settings::SaveSettings(path));
    EXPECT_TRUE(ports.box.boxes.empty());
    EXPECT_EQ(testsupport::readFile(path).substr(0, 7), "[TYP]\r\n");

    testsupport::writeFile(path, "old");
    server->rights[rightsKey("DATEN", "tarvel.ini")] = 0x003;  // RW: no erase
    server->rights[rightsKey("DATEN", "")] = 0x1FB;
    EXPECT_TRUE(settings::SaveSettings(path));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "INI-Datei-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text, "Um die Datei\r\n" + path +
                                           "\r\nbearbeiten zu können, scheinen Sie\r\nkeine ausreichenden Rechte zu "
                                           "besitzen !\r\n\r\n[RW]: " + path + "\r\n[SRWECMFA]: " + dir.path() +
                                           "/\r\n\r\nSpeichern wird abgebrochen.");
    EXPECT_EQ(testsupport::readFile(path), "old");

    server->rights[rightsKey("DATEN", "tarvel.ini")] = 0x1FB;
    server->rights[rightsKey("DATEN", "")] = 0x09B;  // RWECM, no file scan
    EXPECT_TRUE(settings::SaveSettings(path));
    EXPECT_EQ(ports.box.boxes.size(), 2u);
    EXPECT_EQ(testsupport::readFile(path), "old");
}

TEST_F(SaveSettings, NewFileNeedsAllButAccessOnFolder) {
    mount(dir.path());
    server->rights[rightsKey("DATEN", "")] = 0x05B;  // RWECF, no modify
    EXPECT_TRUE(settings::SaveSettings(path));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Um die Datei\r\n" + path +
                                           "\r\nerzeugen zu können, scheinen Sie\r\nkeine ausreichenden "
                                           "Verzeichnisrechte zu besitzen !\r\n\r\n[RWECF]: " + dir.path() +
                                           "/\r\n\r\nSpeichern wird abgebrochen.");
    EXPECT_FALSE(fs::exists(path));

    // A failed rights query reads "F", which holds none of the letters.
    server->rightsStatus = nw::INVALID_PATH;
    EXPECT_TRUE(settings::SaveSettings(path));
    ASSERT_EQ(ports.box.boxes.size(), 3u);  // the NW-Fehler box, then message D
    EXPECT_EQ(ports.box.boxes[1].caption, "NW-Fehler");
    EXPECT_NE(ports.box.boxes[2].text.find("\r\n[F]: "), std::string::npos);
    EXPECT_FALSE(fs::exists(path));

    server->rightsStatus = 0;
    server->rights[rightsKey("DATEN", "")] = 0x0DB;
    EXPECT_TRUE(settings::SaveSettings(path));
    EXPECT_EQ(ports.box.boxes.size(), 3u);
    EXPECT_TRUE(fs::exists(path));
}

}  // namespace
