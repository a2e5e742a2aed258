// Where the settings file is: the default beside the program and the command-line switches.
#include "settings/settings_path.h"

#include <gtest/gtest.h>

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

}  // namespace
