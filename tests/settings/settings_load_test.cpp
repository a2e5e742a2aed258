// Loading the settings file: identity and version, the dot rules, switches, integers, the
// four lists, and the refused load that changes nothing.
#include "settings/settings.h"

#include "platform/recording.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

namespace {

using settings::values;

const std::string MessageA = "INI-Datei-Fehler";

class LoadSettings : public ::testing::Test {
protected:
    void SetUp() override { settings::resetToStartValues(); }

    // Loads a file of these lines (CR LF) and returns the boxes shown.
    std::vector<platform::RecordedBox> load(const std::string& body, const std::string& header = "[TYP]\r\nTyp=Tarvel\r\n") {
        testsupport::writeFile(path, header + body);
        ports.box.boxes.clear();
        settings::LoadSettings(path);
        return ports.box.boxes;
    }

    platform::RecordingPorts ports;
    testsupport::TempDir dir;
    std::string path = dir.file("Tarvel Schule.ini");
};

TEST_F(LoadSettings, MissingFileShowsMessageAAndKeepsStartValues) {
    settings::LoadSettings(dir.file("fehlt.ini"));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "INI-Datei-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text, "Die Datei\r\n" + dir.file("fehlt.ini") +
                                           "\r\nexistiert nicht oder\r\nscheint keine Tarvel.INI zu sein !\r\n"
                                           "Tarvel benutzt daher Defaultwerte.");
    EXPECT_EQ(ports.box.boxes[0].buttons, platform::Buttons::Ok);
    EXPECT_EQ(values().GroupInternetUserDeny, "G_User_Internet_Deny.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(values().GroupInternetWSDeny, "G_WS_Internet_Deny.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(values().BasisUserContainer, "[ROOT]");
    EXPECT_EQ(values().ShowFirst, 0);
    EXPECT_TRUE(values().ShowContainerList.empty());
}

TEST_F(LoadSettings, Identity) {
    EXPECT_TRUE(load("", "[typ]\r\nTYP=TARVEL   ; von Hand\r\n").empty());
    EXPECT_TRUE(load("", "[TYP]\r\ntyp=\"Tarvel\"\r\n").empty());
    for (const char* foreign : {"Tarvel2", "Tarvel x", "Tarvelweb", "", "x"}) {
        auto boxes = load("", std::string("[TYP]\r\nTyp=") + foreign + "\r\n");
        ASSERT_EQ(boxes.size(), 1u) << foreign;
        EXPECT_NE(boxes[0].text.find("scheint keine Tarvel.INI zu sein !"), std::string::npos);
    }
    // The identity is looked for in its section only.
    EXPECT_EQ(load("", "[DEFAULT]\r\nTyp=Tarvel\r\n").size(), 1u);
}

TEST_F(LoadSettings, Versions) {
    for (const char* accepted : {"Ver=100\r\n", "Ver=\r\n", "Ver=abc\r\n", "", "Ver=-5\r\n", "Ver=99999999999\r\n"})
        EXPECT_TRUE(load(std::string(accepted) + "[SHOW]\r\nShowFirst=2\r\n").empty()) << accepted;
    EXPECT_EQ(values().ShowFirst, 2);

    auto boxes = load("Ver=101\r\n[SHOW]\r\nShowFirst=1\r\n");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "INI-Datei-Fehler");
    EXPECT_EQ(boxes[0].text, "Die Datei\r\n" + path +
                                 "\r\nhat eine zu hohe Versionsnummer.\r\nSie gehört zu einer neueren "
                                 "Tarvel-Version !\r\nTarvel benutzt daher Defaultwerte.");
    EXPECT_EQ(values().ShowFirst, 2);
}

TEST_F(LoadSettings, RefusedLoadChangesNothingNotEvenLastReadValues) {
    load("[DEFAULT]\r\nBasisUserContainer=.LEHRER.SCHULE\r\n[SHOW]\r\nShowContainer=Kl\r\n");
    const settings::Values before = values();
    load("Ver=200\r\n[DEFAULT]\r\nBasisUserContainer=.ANDERS\r\n[SHOW]\r\nShowContainer=Gym\r\n");
    load("[DEFAULT]\r\nBasisUserContainer=.ANDERS\r\n", "[TYP]\r\nTyp=Fremd\r\n");
    EXPECT_EQ(values().lastReadBaseUserContainer, before.lastReadBaseUserContainer);
    EXPECT_EQ(values().BasisUserContainer, "LEHRER.SCHULE");
    EXPECT_EQ(values().ShowContainerList, before.ShowContainerList);
}

TEST_F(LoadSettings, DotRulesAndLastReadValues) {
    ASSERT_TRUE(load("[DEFAULT]\r\nBasisUserContainer=..SCHUELER.SCHULE\r\n"
                     "BasisWorkstationContainer=RAUM.SCHULE\r\n"
                     "GroupInternetUserDeny=Sperre.SCHULE\r\n"
                     "GroupInternetWSDeny=.WSSperre.SCHULE\r\n")
                    .empty());
    EXPECT_EQ(values().BasisUserContainer, ".SCHUELER.SCHULE");  // one dot only
    EXPECT_EQ(values().BasisWorkstationContainer, "RAUM.SCHULE");
    EXPECT_EQ(values().GroupInternetUserDeny, ".Sperre.SCHULE");
    EXPECT_EQ(values().GroupInternetWSDeny, ".WSSperre.SCHULE");

    // Empty or missing keys keep what was read last; the dot rules apply again.
    ASSERT_TRUE(load("[DEFAULT]\r\nBasisUserContainer=\r\nGroupInternetUserDeny= ; nichts\r\n").empty());
    EXPECT_EQ(values().BasisUserContainer, ".SCHUELER.SCHULE");
    EXPECT_EQ(values().BasisWorkstationContainer, "RAUM.SCHULE");
    EXPECT_EQ(values().GroupInternetUserDeny, ".Sperre.SCHULE");
    EXPECT_EQ(values().lastReadGroupInternetUserDeny, "Sperre.SCHULE");

    // From start values: a file without DEFAULT gives the groups their leading dot.
    settings::resetToStartValues();
    ASSERT_TRUE(load("").empty());
    EXPECT_EQ(values().GroupInternetUserDeny, ".G_User_Internet_Deny.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(values().BasisUserContainer, "[ROOT]");
}

TEST_F(LoadSettings, SwitchesAndShowFirst) {
    load("[SWITCH]\r\nBasisUserContainerGoUpALevel=WAHR\r\nBasisGroupContainerGoUpALevel=Yes\r\n[SHOW]\r\nShowFirst=7\r\n");
    EXPECT_TRUE(values().BasisUserContainerGoUpALevel);
    EXPECT_TRUE(values().BasisGroupContainerGoUpALevel);
    EXPECT_EQ(values().ShowFirst, 7);
    load("[SWITCH]\r\nBasisUserContainerGoUpALevel=on\r\nBasisGroupContainerGoUpALevel=nein\r\n[SHOW]\r\nShowFirst=zwei\r\n");
    EXPECT_FALSE(values().BasisUserContainerGoUpALevel);
    EXPECT_FALSE(values().BasisGroupContainerGoUpALevel);
    EXPECT_EQ(values().ShowFirst, 1);
}

TEST_F(LoadSettings, ListsTrimmedWithOneStarOnShowLists) {
    load("[SHOW]\r\n"
         "ShowContainer= Kl , ,Gym*, Schü ; Kommentar, danach\r\n"
         "NoShowContainer=Verwalter, min ,VERWALTER\r\n"
         "ShowLeaf=*\r\n"
         "NoShowLeaf= Test*, ,\r\n");
    EXPECT_EQ(values().ShowContainerList, (text::NameList{"Kl*", "Gym*", "Schü*"}));
    EXPECT_EQ(values().NoShowContainerList, (text::NameList{"Verwalter", "min", "VERWALTER"}));
    EXPECT_EQ(values().ShowLeafList, (text::NameList{"*"}));
    EXPECT_EQ(values().NoShowLeafList, (text::NameList{"Test*"}));

    // Every accepted load refills the lists, emptying those whose key is gone.
    load("[SHOW]\r\nShowLeaf=,\r\n");
    EXPECT_TRUE(values().ShowContainerList.empty());
    EXPECT_TRUE(values().NoShowContainerList.empty());
    EXPECT_TRUE(values().ShowLeafList.empty());
}

TEST_F(LoadSettings, FileEditedOnLinuxOrWindows) {
    load("[DEFAULT]\r\nBasisUserContainer=SCH\xC3\x9CLER.SCHULE\r\n", "\xEF\xBB\xBF[TYP]\nTyp=Tarvel\n");
    EXPECT_EQ(values().BasisUserContainer, "SCHÜLER.SCHULE");
    load("[DEFAULT]\r\nBasisUserContainer=SCH\xDCLER.SCHULE\r\n");
    EXPECT_EQ(values().BasisUserContainer, "SCHÜLER.SCHULE");
    load("[DEFAULT]\r\nBasisUserContainer=SCH\xC3\x9CLER.SCHULE\r\n");
    EXPECT_EQ(values().BasisUserContainer, "SCHÜLER.SCHULE");
    // a UTF-8 mark before Windows-1252 bytes
    load("[DEFAULT]\r\nBasisUserContainer=SCH\xDCLER.SCHULE\r\n", "\xEF\xBB\xBF[TYP]\r\nTyp=Tarvel\r\n");
    EXPECT_EQ(values().BasisUserContainer, "SCHÜLER.SCHULE");
}

// Saved by Notepad as "Unicode" (UTF-16 LE with FF FE): read as Windows reads it.
TEST_F(LoadSettings, NotepadUnicodeFile) {
    const std::u16string text = u"[TYP]\r\nTyp=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nBasisUserContainer=.SCHÜLER.SCHULE\r\n"
                                u"GroupInternetUserDeny=G_Sperre.SCHÜLER.SCHULE\r\n[SHOW]\r\nShowLeaf=Kl, Gym\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += char(c & 0xFF);
        bytes += char(c >> 8);
    }
    testsupport::writeFile(path, bytes);
    settings::LoadSettings(path);
    EXPECT_TRUE(ports.box.boxes.empty());
    EXPECT_EQ(values().BasisUserContainer, "SCHÜLER.SCHULE");
    EXPECT_EQ(values().GroupInternetUserDeny, ".G_Sperre.SCHÜLER.SCHULE");
    EXPECT_EQ(values().ShowLeafList, (text::NameList{"Kl*", "Gym*"}));
}

}  // namespace
