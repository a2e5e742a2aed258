// Where the settings file is: the window's default beside the program and its command-line
// switches, and the installed launcher's search (tarvel-ctl's is tested with tarvel-ctl).
#include "settings/settings_path.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

using settings::ComputeSettingsPath;
using settings::FindSwitch;

namespace {

const std::string Folder = "/opt/Tarvel Web/";

std::string pathFor(std::vector<std::string> parameters) {
    parameters.insert(parameters.begin(), Folder + "tarvel");
    return ComputeSettingsPath(Folder, parameters);
}

TEST(FindSwitch, FirstParameterThatHoldsItAnyCase) {
    const std::vector<std::string> args = {"/INI=prog", "x", "a/Ini=b", "/ini=c"};
    auto r = FindSwitch(args, "/ini=");
    EXPECT_EQ(r.index, 2);
    EXPECT_EQ(r.position, 7);  // 1-based, just behind the switch
    r = FindSwitch(args, "ini:");
    EXPECT_EQ(r.index, 0);
    EXPECT_EQ(r.position, 0);
    // The program itself is never searched.
    EXPECT_EQ(FindSwitch({"/ini=x"}, "/ini=").index, 0);
    EXPECT_EQ(FindSwitch({}, "/ini=").index, 0);
}

TEST(SettingsPath, DefaultLowerCasesOnlyTheFileName) {
    EXPECT_EQ(pathFor({}), "/opt/Tarvel Web/tarvel.ini");
    EXPECT_EQ(pathFor({"--verbose"}), "/opt/Tarvel Web/tarvel.ini");
    EXPECT_EQ(ComputeSettingsPath("C:\\PROGRAMME\\TARVEL\\", {"x"}), "C:\\PROGRAMME\\TARVEL\\tarvel.ini");
}

TEST(SettingsPath, SwitchValues) {
    EXPECT_EQ(pathFor({"/INI=Schule"}), Folder + "Schule.ini");
    EXPECT_EQ(pathFor({"ini:d:\\daten\\x.cfg"}), "d:\\daten\\x.cfg");
    EXPECT_EQ(pathFor({"/ini=d:\\s"}), "d:\\s.ini");
    EXPECT_EQ(pathFor({"/ini="}), Folder + ".ini");
    EXPECT_EQ(pathFor({"x/ini=y"}), Folder + "y.ini");
    // "/ini=" is tried before "ini=", so the second parameter wins.
    EXPECT_EQ(pathFor({"ini=a", "/ini=b"}), Folder + "b.ini");
    EXPECT_EQ(pathFor({"/ini:a", "/INI=b"}), Folder + "b.ini");
}

TEST(SettingsPath, SlashIsAFolderSeparator) {
    EXPECT_EQ(pathFor({"/ini=/home/Lehrer/Tarvel"}), "/home/Lehrer/Tarvel.ini");
    EXPECT_EQ(pathFor({"/ini=conf/Schule.INI"}), "conf/Schule.INI");
    // A dot anywhere, even in a folder, means no ".ini" is added.
    EXPECT_EQ(pathFor({"/ini=/home/a.b/Tarvel"}), "/home/a.b/Tarvel");
}

TEST(SettingsPath, FolderEndsAtLastSeparator) {
    EXPECT_EQ(settings::FolderOf("/home/x/tarvel.ini"), "/home/x/");
    EXPECT_EQ(settings::FolderOf("F:\\DATEN\\X.INI"), "F:\\DATEN\\");
    EXPECT_EQ(settings::FolderOf("SERVER/DATEN:X.INI"), "SERVER/DATEN:");
    EXPECT_EQ(settings::FolderOf("tarvel.ini"), "");
}

// The installed `tarvel` names the files to the window by the same rule as tarvel-ctl.
TEST(Launcher, NamesTheFilesTheCommandLineProgramsFind) {
    testsupport::TempDir dir;
    const std::string bin = dir.file("bin"), user = dir.file("home/.config/tarvel");
    std::filesystem::create_directories(bin);
    testsupport::writeFile(bin + "/tarvel", "#!/bin/sh\nfor a; do echo \"$a\"; done\n");
    std::filesystem::permissions(bin + "/tarvel", std::filesystem::perms::owner_all);
    std::string launcher = testsupport::readFile(TARVEL_SOURCE_DIR "/packaging/tarvel-launch.in");
    testsupport::writeFile(dir.file("launch"), launcher.replace(launcher.find("@TARVEL_INSTALLED_PROGRAM@"), 26, bin + "/tarvel"));
    const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
        // files made before the start, arguments, what the window gets
        {{}, "", "/ini=" + user + "/tarvel.ini\n"},  // none anywhere: the user's own, to be saved
        {{bin + "/tarvel.ini", bin + "/nwclient.conf", user + "/nwclient.conf"}, "-platform x",
         "/ini=" + bin + "/tarvel.ini\n--nwclient=" + user + "/nwclient.conf\n-platform\nx\n"},
        {{}, "--ini x.ini --nwclient=y 'a b'", "/ini=" + dir.path() + "/x.ini\n--nwclient=y\na b\n"},
        {{}, "--ini=/srv/s --nwclient y", "/ini=/srv/./s\n--nwclient=y\n"},  // the window adds no ".ini"
        {{bin + "/nwclient.conf"}, "/INI=schule", "--nwclient=" + bin + "/nwclient.conf\n/INI=schule\n"},
    };
    for (const auto& [files, arguments, expected] : cases) {
        for (const std::string& f : {dir.file("home"), bin + "/tarvel.ini", bin + "/nwclient.conf"}) std::filesystem::remove_all(f);
        for (const std::string& f : files)
            std::filesystem::create_directories(std::filesystem::path(f).parent_path()), testsupport::writeFile(f, "");
        std::string out;
        EXPECT_EQ(testsupport::runCommand("cd " + dir.path() + " && env -u XDG_CONFIG_HOME HOME=" + dir.file("home") +
                                              " sh launch " + arguments, &out), 0);
        EXPECT_EQ(out, expected) << arguments;
    }
}

}  // namespace
