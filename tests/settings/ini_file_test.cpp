// The INI reader as Windows reads profile files, the code-page rules, and files that are no
// settings files at all.
#include "settings/ini_file.h"
#include "settings/settings.h"

#include "platform/recording.h"
#include "temp_trees.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>
#include <unistd.h>

using settings::IniFile;

namespace {

std::string value(const IniFile& ini, const char* section, const char* key) {
    std::string v;
    return ini.read(section, key, v) ? v : "<missing>";
}

TEST(IniReader, NamesIgnoreCaseAlsoForUmlauts) {
    const IniFile ini = IniFile::fromText("[Schüler]\r\nNäme=1\r\n[TYP]\r\nTYP=Tarvel\r\n");
    EXPECT_EQ(value(ini, "SCHÜLER", "NÄME"), "1");
    EXPECT_EQ(value(ini, "schüler", "näme"), "1");
    EXPECT_EQ(value(ini, "typ", "Typ"), "Tarvel");
}

TEST(IniReader, LinesAsWindowsReadsThem) {
    const IniFile ini = IniFile::fromText(
        "orphan=before any section\r\n"
        "  [ A b ]  \r\n"
        "; comment=not a key\r\n"
        "   ;also=a comment\r\n"
        "  key one  =  value = with equals  \r\n"
        "quoted=\"  kept blanks \"\r\n"
        "single='x'\r\n"
        "mixed=\"x'\r\n"
        "lonequote=\"\r\n"
        "no equals sign here\r\n"
        "=no key\r\n"
        "dup=first\r\n"
        "DUP=second\r\n"
        "empty=\r\n"
        "[a B]\r\n"
        "dup=from repeated section\r\n"
        "new=from repeated section\r\n");
    EXPECT_EQ(value(ini, "a b", "key one"), "value = with equals");
    EXPECT_EQ(value(ini, "a b", "quoted"), "  kept blanks ");
    EXPECT_EQ(value(ini, "a b", "single"), "x");
    EXPECT_EQ(value(ini, "a b", "mixed"), "\"x'");
    EXPECT_EQ(value(ini, "a b", "lonequote"), "\"");
    EXPECT_EQ(value(ini, "a b", "dup"), "first");
    EXPECT_EQ(value(ini, "a b", "empty"), "");
    EXPECT_EQ(value(ini, "a b", "new"), "<missing>");
    EXPECT_EQ(value(ini, "a b", "; comment"), "<missing>");
    EXPECT_EQ(value(ini, "a b", "no equals sign here"), "<missing>");
    EXPECT_EQ(value(ini, "", "orphan"), "<missing>");
    EXPECT_EQ(ini.sectionCount(), 1u);
}

TEST(IniReader, HeaderWithoutBracketIsNoHeader) {
    const IniFile ini = IniFile::fromText("[TYP]\nTyp=Tarvel\n[SHOW\nShowFirst=2\n[x=y]\n");
    EXPECT_EQ(value(ini, "TYP", "ShowFirst"), "2");
    EXPECT_EQ(value(ini, "SHOW", "ShowFirst"), "<missing>");
    EXPECT_EQ(value(ini, "TYP", "[x"), "<missing>");  // "[x=y]" is a header, not a key
}

TEST(IniReader, AnyLineEnd) {
    for (const char* eol : {"\r\n", "\r", "\n"}) {
        const std::string e = eol;
        const IniFile ini = IniFile::fromText("[TYP]" + e + "Typ=Tarvel" + e + e + "Ver=100");
        EXPECT_EQ(value(ini, "TYP", "Typ"), "Tarvel") << "line end " << int(eol[0]) << e.size();
        EXPECT_EQ(value(ini, "TYP", "Ver"), "100");
    }
    const IniFile mixed = IniFile::fromText("[S]\rA=1\nB=2\r\n\n\rC=3");
    EXPECT_EQ(value(mixed, "S", "A") + value(mixed, "S", "B") + value(mixed, "S", "C"), "123");
}

// No value holds a NUL; the line is noted so the loader can refuse the file.
TEST(IniReader, ValueEndsAtNulAndItsLineIsNoted) {
    const IniFile ini = IniFile::fromBytes(std::string("[S]\r\n\nA=ab\0cd\r\nB=2\0\r\n", 22));
    EXPECT_EQ(value(ini, "S", "A"), "ab");
    EXPECT_EQ(value(ini, "S", "B"), "2");
    EXPECT_EQ(ini.nulLine(), 3u);
    EXPECT_EQ(IniFile::fromText("[S]\r\nA=b\r\n").nulLine(), 0u);
}

TEST(SettingsBytes, Windows1252WithUndefinedBytesAsControls) {
    EXPECT_EQ(settings::decodeSettingsBytes("SCH\xDCLER \x80"), "SCHÜLER €");
    EXPECT_EQ(settings::decodeSettingsBytes("a\x81\x8D\x8F\x90\x9D"), "a\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
    // Plain ASCII is the same either way.
    EXPECT_EQ(settings::decodeSettingsBytes("Tarvel"), "Tarvel");
}

TEST(SettingsBytes, Utf8WhenEditedOnLinux) {
    EXPECT_EQ(settings::decodeSettingsBytes("SCH\xC3\x9CLER"), "SCHÜLER");
    EXPECT_EQ(settings::decodeSettingsBytes("\xEF\xBB\xBF[TYP]"), "[TYP]");
    // A UTF-8 mark before Windows-1252 bytes: the bytes are Windows-1252.
    EXPECT_EQ(settings::decodeSettingsBytes("\xEF\xBB\xBFSCH\xDCLER \x80"), "SCHÜLER €");
    // Not valid UTF-8 without a mark: Windows-1252 (Ã and a control character).
    EXPECT_EQ(settings::decodeSettingsBytes("\xC3\x28"), "\xC3\x83(");
}

// Notepad's "Unicode": UTF-16 little-endian after FF FE, surrogate pairs joined, a lone
// surrogate marked, an odd last byte dropped.
TEST(SettingsBytes, Utf16LittleEndianAfterItsMark) {
    auto utf16 = [](std::u16string_view text) {
        std::string bytes = "\xFF\xFE";
        for (char16_t c : text) {
            bytes += char(c & 0xFF);
            bytes += char(c >> 8);
        }
        return bytes;
    };
    EXPECT_EQ(settings::decodeSettingsBytes(utf16(u"[TYP]\r\nTyp=Tarvel\r\nX=SCHÜLER €")),
              "[TYP]\r\nTyp=Tarvel\r\nX=SCHÜLER €");
    EXPECT_EQ(settings::decodeSettingsBytes(utf16(u"a\U0001F600b")), "a\xF0\x9F\x98\x80" "b");
    EXPECT_EQ(settings::decodeSettingsBytes(utf16(u"a\xD800") + "z"), "a\xEF\xBF\xBD");
    EXPECT_EQ(settings::decodeSettingsBytes("\xFF\xFE"), "");
}

TEST(SettingsValueReaders, CommentCutTrimAndDefaults) {
    const IniFile ini = IniFile::fromText(
        "[S]\nt=  Tarvel  ; comment\nc=;only comment\nctl=x\x01\x02\nb1=JA\nb2=Wahr\nb3=tRuE\nb4=YES\nb5=1\n"
        "b6=on\nb7=2\nb8=nein\nb9=ja ; yes\ni1=-42\ni2=+7\ni3=abc\ni4=2147483648\ni5=-2147483648\ni6=12x\n");
    EXPECT_EQ(settings::ReadSettingText(ini, "S", "t", "d"), "Tarvel");
    EXPECT_EQ(settings::ReadSettingText(ini, "S", "c", "d"), "d");
    EXPECT_EQ(settings::ReadSettingText(ini, "S", "ctl", "d"), "x");
    EXPECT_EQ(settings::ReadSettingText(ini, "S", "missing", "d ;x"), "d");
    EXPECT_EQ(settings::ReadSettingText(ini, "S", "c", ""), "");
    for (const char* on : {"b1", "b2", "b3", "b4", "b5", "b9"}) EXPECT_TRUE(settings::ReadSettingBool(ini, "S", on, "0")) << on;
    for (const char* off : {"b6", "b7", "b8", "missing"}) EXPECT_FALSE(settings::ReadSettingBool(ini, "S", off, "0")) << off;
    EXPECT_EQ(settings::ReadSettingInteger(ini, "S", "i1", "1"), -42);
    EXPECT_EQ(settings::ReadSettingInteger(ini, "S", "i2", "1"), 7);
    EXPECT_EQ(settings::ReadSettingInteger(ini, "S", "i3", "1"), 1);
    EXPECT_EQ(settings::ReadSettingInteger(ini, "S", "i4", "100"), 100);
    EXPECT_EQ(settings::ReadSettingInteger(ini, "S", "i5", "1"), INT32_MIN);
    EXPECT_EQ(settings::ReadSettingInteger(ini, "S", "i6", "1"), 1);
}

TEST(SplitList, TrimmedNonEmptyItemsInOrder) {
    text::NameList list = {"old"};
    settings::SplitList(" Kl , ,Gym*,\tKl ,", ',', list);
    EXPECT_EQ(list, (text::NameList{"Kl", "Gym*", "Kl"}));
    settings::SplitList("", ',', list);
    EXPECT_TRUE(list.empty());
    settings::SplitList(" , ,, ", ',', list);
    EXPECT_TRUE(list.empty());
    settings::SplitList("Müller;x", ';', list);
    EXPECT_EQ(list, (text::NameList{"Müller", "x"}));
}

// ---- files that are no settings files ----

class HostileFiles : public ::testing::Test {
protected:
    void SetUp() override { settings::resetToStartValues(); }
    platform::RecordingPorts ports;
    testsupport::TempDir dir;
};

TEST_F(HostileFiles, BinaryGarbageIsRefusedAndChangesNothing) {
    std::mt19937 random(4711);
    std::string garbage(1 << 20, '\0');
    for (char& c : garbage) c = char(random());
    testsupport::writeFile(dir.file("garbage.ini"), garbage);
    settings::values().ShowFirst = 2;
    const settings::Values before = settings::values();
    settings::LoadSettings(dir.file("garbage.ini"));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "INI-Datei-Fehler");
    EXPECT_EQ(settings::values().ShowFirst, 2);
    EXPECT_EQ(settings::values().GroupInternetUserDeny, before.GroupInternetUserDeny);
}

TEST_F(HostileFiles, FolderOrFifoInsteadOfFileIsRefusedAtOnce) {
    settings::LoadSettings(dir.path());
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_NE(ports.box.boxes[0].text.find("existiert nicht oder"), std::string::npos);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    settings::LoadSettings(dir.file("fifo"));  // must not wait for a writer
    EXPECT_EQ(ports.box.boxes.size(), 2u);
}

TEST_F(HostileFiles, AFileOfTheLargestSizeIsReadWholeOneByteMoreIsRefused) {
    const std::string path = dir.file("limit.ini");
    testsupport::writeFile(path, "[TYP]\r\n");
    ASSERT_EQ(::truncate(path.c_str(), off_t(settings::MaxSettingsFileBytes)), 0);  // sparse: no disk used
    std::string bytes;
    EXPECT_EQ(settings::readSettingsFile(path, bytes), settings::FileRead::Read);
    EXPECT_EQ(bytes.size(), settings::MaxSettingsFileBytes);
    EXPECT_EQ(bytes.substr(0, 7), "[TYP]\r\n");
    ASSERT_EQ(::truncate(path.c_str(), off_t(settings::MaxSettingsFileBytes) + 1), 0);
    EXPECT_EQ(settings::readSettingsFile(path, bytes), settings::FileRead::TooLarge);
    EXPECT_TRUE(bytes.empty());
}

// A damaged or monstrous file is refused with its reason, and nothing of it is taken over.
TEST_F(HostileFiles, NulByteOrOversizeRefusedWithTheirReason) {
    const std::string good = "[TYP]\r\nTyp=Tarvel\r\n[SHOW]\r\nShowFirst=2\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : good + "; x\r\n\r\n;") utf16 += {c, '\0'};
    const struct {
        std::string bytes, said;
    } cases[] = {
        {good + std::string("ShowLeaf=Kl\0Gym\r\n", 17), "enthält in Zeile 5 ein NUL-Zeichen\r\nund ist daher beschädigt !"},
        {good + std::string("; Kommentar \0\r\n", 15), "enthält in Zeile 5 ein NUL-Zeichen"},
        {utf16 + std::string(2, '\0'), "enthält in Zeile 7 ein NUL-Zeichen"},
        {good + std::string((1u << 20) + 1 - good.size(), ';'),
         "ist größer als 1 MiB und\r\nscheint keine Tarvel.INI zu sein !"},
    };
    for (const auto& c : cases) {
        testsupport::writeFile(dir.file("x.ini"), c.bytes);
        ports.box.boxes.clear();
        settings::LoadSettings(dir.file("x.ini"));
        ASSERT_EQ(ports.box.boxes.size(), 1u) << c.said;
        EXPECT_EQ(ports.box.boxes[0].caption, "INI-Datei-Fehler");
        EXPECT_EQ(ports.box.boxes[0].text.rfind("Die Datei\r\n" + dir.file("x.ini") + "\r\n" + c.said, 0), 0u)
            << ports.box.boxes[0].text;
        EXPECT_EQ(settings::values().ShowFirst, 0) << c.said;
    }
    testsupport::writeFile(dir.file("x.ini"), good);  // the same file whole loads
    settings::LoadSettings(dir.file("x.ini"));
    EXPECT_EQ(settings::values().ShowFirst, 2);
}

TEST_F(HostileFiles, LargeFileAndHugeValuesLoad) {
    // Filler keys up to near the limit, the settings after them, one value of 100,000 characters.
    std::string big = "[TYP]\r\nTyp=Tarvel\r\n[FILLER]\r\n";
    const std::string filler = "Schluessel=Wert Wert Wert Wert Wert Wert Wert Wert Wert\r\n";
    while (big.size() < settings::MaxSettingsFileBytes - 250000) big += filler;
    const std::string longName(100000, 'k');
    big += "[DEFAULT]\r\nBasisUserContainer=" + longName + "\r\n[SHOW]\r\nNoShowLeaf=" + longName + ",x\r\n";
    testsupport::writeFile(dir.file("big.ini"), big);
    settings::LoadSettings(dir.file("big.ini"));
    EXPECT_TRUE(ports.box.boxes.empty());
    EXPECT_EQ(settings::values().BasisUserContainer, longName);
    EXPECT_EQ(settings::values().NoShowLeafList, (text::NameList{longName, "x"}));
}

}  // namespace
