#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

namespace {

// Every case starts from the German collation the program uses under LC_ALL=C.
class TextTest : public ::testing::Test {
protected:
    void SetUp() override { text::setLocaleForTesting("de_DE"); }
    void TearDown() override { text::setLocaleForTesting(""); }
};

TEST_F(TextTest, ListingCaptionsSortByClassThenName) {
    // "]" is punctuation and must sort before the letter that continues the longer class name.
    text::NameList rows = {"[Workstation] a", "[User] a", "[Organizational Unit] a", "[Organization] x"};
    text::sortLocaleNoCase(rows);
    EXPECT_EQ(rows, (text::NameList{"[Organization] x", "[Organizational Unit] a", "[User] a",
                                    "[Workstation] a"}));
    EXPECT_LT(text::compareLocaleNoCase("[Organization] x", "[Organizational Unit] a"), 0);
}

TEST_F(TextTest, PunctuationBeforeDigitsBeforeLetters) {
    EXPECT_LT(text::compareLocaleNoCase("-", "0"), 0);
    EXPECT_LT(text::compareLocaleNoCase("_x", "1x"), 0);
    EXPECT_LT(text::compareLocaleNoCase("9", "a"), 0);
    EXPECT_LT(text::compareLocaleNoCase("9", "A"), 0);
    // Punctuation is not skipped: "a-c" is not "ac".
    EXPECT_NE(text::compareLocaleNoCase("a-c", "ac"), 0);
    EXPECT_LT(text::compareLocaleNoCase("a-c", "ab"), 0);
}

TEST_F(TextTest, CaseIgnoredAccentsKept) {
    EXPECT_TRUE(text::equalsLocaleNoCase("SCHÜLER", "schüler"));
    EXPECT_TRUE(text::equalsLocaleNoCase("Müller", "MÜLLER"));
    EXPECT_FALSE(text::equalsLocaleNoCase("Müller", "Muller"));
    EXPECT_FALSE(text::equalsLocaleNoCase("abc", "abcd"));
    // German order: ä with a, not after z.
    EXPECT_LT(text::compareLocaleNoCase("Äpfel", "Birne"), 0);
    EXPECT_LT(text::compareLocaleNoCase("apfel", "Äpfel"), 0);
}

TEST_F(TextTest, SortKeyAgreesWithComparison) {
    const text::NameList names = {"SCHÜLER", "schüler", "Schueler", "a-c", "ac", "A-C",
                                  "straße", "STRASSE", "9a", "", "[User] x", "[user] X"};
    for (const auto& a : names)
        for (const auto& b : names) {
            const int cmp = text::compareLocaleNoCase(a, b);
            const std::string ka = text::localeSortKey(a), kb = text::localeSortKey(b);
            EXPECT_EQ(cmp == 0, ka == kb) << a << " / " << b;
            if (cmp != 0) {
                EXPECT_EQ(cmp < 0, ka < kb) << a << " / " << b;
            }
        }
}

TEST_F(TextTest, SortIsStableForEqualNames) {
    text::NameList rows = {"b", "Anna", "ANNA", "anna"};
    text::sortLocaleNoCase(rows);
    EXPECT_EQ(rows, (text::NameList{"Anna", "ANNA", "anna", "b"}));
}

TEST_F(TextTest, LocaleFromEnvironmentWithGermanForC) {
    text::setLocaleForTesting("");
    ::setenv("LC_ALL", "C.UTF-8", 1);
    EXPECT_EQ(text::activeLocale(), "de_DE");
    ::setenv("LC_ALL", "POSIX", 1);
    EXPECT_EQ(text::activeLocale(), "de_DE");
    ::unsetenv("LC_ALL");
    ::setenv("LC_COLLATE", "sv_SE.UTF-8", 1);
    ::setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(text::activeLocale(), "sv_SE");
    ::unsetenv("LC_COLLATE");
    EXPECT_EQ(text::activeLocale(), "en_US");
    ::unsetenv("LANG");
    EXPECT_EQ(text::activeLocale(), "de_DE");
}

TEST_F(TextTest, CollatorFollowsLocaleChange) {
    // Swedish sorts ä after z, German with a: the cached collator must not outlive a change.
    EXPECT_LT(text::compareLocaleNoCase("ä", "z"), 0);
    text::setLocaleForTesting("sv_SE");
    EXPECT_GT(text::compareLocaleNoCase("ä", "z"), 0);
    text::setLocaleForTesting("de_DE");
    EXPECT_LT(text::compareLocaleNoCase("ä", "z"), 0);
}

TEST_F(TextTest, LowerCasing) {
    EXPECT_EQ(text::toLowerLocale("SCHÜLER ÄÖÜ"), "schüler äöü");
    EXPECT_EQ(text::toLowerAscii("SCHÜLER"), "schÜler");
    EXPECT_EQ(text::toUpperAscii("[root]ä"), "[ROOT]ä");
    EXPECT_TRUE(text::equalsAsciiNoCase("[Root]", "[rOOT]"));
    EXPECT_FALSE(text::equalsAsciiNoCase("Ü", "ü"));
    EXPECT_EQ(text::findAsciiNoCase("abcXYZ", "xy"), 3u);
    EXPECT_EQ(text::findAsciiNoCase("ab", "abc"), std::string_view::npos);
}

TEST_F(TextTest, PrefixAndSubstringIgnoreCase) {
    EXPECT_TRUE(text::startsWithLocaleNoCase("Schüler01", "SCHÜ"));
    EXPECT_FALSE(text::startsWithLocaleNoCase("Schüler01", "Schu"));
    EXPECT_TRUE(text::containsLocaleNoCase("[User] Gast01", "gast"));
    EXPECT_TRUE(text::containsLocaleNoCase("ÜBUNG", "bung"));
    EXPECT_FALSE(text::containsLocaleNoCase("Klasse", "klassen"));
    EXPECT_TRUE(text::containsLocaleNoCase("abc", ""));
}

TEST(Hex, DigitsOfBothCasesReadBackAndNothingElseIsADigit) {
    const std::string bytes("\x00\x09\x10\x7f\xa5\xff", 6);
    const std::string hex = text::toHexUpper(bytes);
    EXPECT_EQ(hex, "0009107FA5FF");
    std::string lower = hex;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& h : {hex, lower}) {
        std::string back;
        for (size_t i = 0; i + 1 < h.size(); i += 2)
            back += char(text::hexDigitValue(h[i]) * 16 + text::hexDigitValue(h[i + 1]));
        EXPECT_EQ(back, bytes) << h;
    }
    for (char c : {'/', ':', '@', 'G', '`', 'g', ' ', '\0'}) EXPECT_EQ(text::hexDigitValue(c), -1) << c;
}

TEST(Cp1252, RoundTripOfEveryByteIncludingUndefinedOnes) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    const std::string utf8 = text::cp1252ToUtf8(all);
    ASSERT_TRUE(text::isValidUtf8(utf8));
    std::string back;
    ASSERT_TRUE(text::utf8ToCp1252(utf8, back));
    EXPECT_EQ(back, all);
}

TEST(Cp1252, KnownMappings) {
    EXPECT_EQ(text::cp1252ToUtf8("\x80"), "€");
    EXPECT_EQ(text::cp1252ToUtf8("\xE4\xF6\xFC\xDF"), "äöüß");
    EXPECT_EQ(text::cp1252ToUtf8("\x84" "x\x93"), "„x“");
    // undefined bytes read as the controls of the same number
    EXPECT_EQ(text::cp1252ToUtf8("\x81"), "\xC2\x81");
    EXPECT_EQ(text::cp1252ToUtf8("\x8D\x8F\x90\x9D"), "\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
    std::string out;
    ASSERT_TRUE(text::utf8ToCp1252("Gruß €", out));
    EXPECT_EQ(out, "Gru\xDF \x80");
}

TEST(Cp1252, RefusesWhatTheCodePageCannotHold) {
    std::string out = "unchanged";
    EXPECT_FALSE(text::utf8ToCp1252("Łódź", out));      // Polish letters outside the code page
    EXPECT_FALSE(text::utf8ToCp1252("ok \xE2\x82", out));  // truncated sequence
    EXPECT_FALSE(text::utf8ToCp1252("\xC2\x80", out));    // U+0080 has no byte: 0x80 is the euro
    EXPECT_FALSE(text::utf8ToCp1252("\xC0\xAF", out));    // overlong
    EXPECT_EQ(out, "unchanged");
    EXPECT_FALSE(text::isValidUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(text::isValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_TRUE(text::isValidUtf8("äöü €"));
}

std::tm sampleTime() {
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 2;  // March
    tm.tm_mday = 7;
    tm.tm_hour = 8;
    tm.tm_min = 5;
    tm.tm_sec = 9;
    return tm;
}

TEST_F(TextTest, GermanDatesWhereThereIsNoLocale) {
    text::setLocaleForTesting("");
    ::setenv("LC_ALL", "C", 1);
    EXPECT_EQ(text::formatShortDate(sampleTime()), "07.03.2026");
    EXPECT_EQ(text::formatLongTime(sampleTime()), "08:05:09");
    ::unsetenv("LC_ALL");
}

TEST_F(TextTest, GermanDatesInGermanLocale) {
    text::setLocaleForTesting("de_DE");
    EXPECT_EQ(text::formatShortDate(sampleTime()), "07.03.2026");
    EXPECT_EQ(text::formatLongTime(sampleTime()), "08:05:09");
}

}  // namespace
