#include "browse/browse.h"

#include <gtest/gtest.h>

#include <string>

using browse::NameList;

namespace {

class BrowseText : public ::testing::Test {
protected:
    void SetUp() override { text::setLocaleForTesting("de_DE"); }
    void TearDown() override { text::setLocaleForTesting(""); }
};

TEST(KlassenSymbole, NamedPositionsAndPlaceholders) {
    EXPECT_STREQ(browse::KlassenSymbole[0], "..");
    EXPECT_STREQ(browse::KlassenSymbole[1], "Unknown");
    EXPECT_STREQ(browse::KlassenSymbole[10], "Country");
    EXPECT_STREQ(browse::KlassenSymbole[14], "Group");
    EXPECT_STREQ(browse::KlassenSymbole[browse::SymbolOrganization], "Organization");
    EXPECT_STREQ(browse::KlassenSymbole[browse::SymbolOrganizationalUnit], "Organizational Unit");
    EXPECT_STREQ(browse::KlassenSymbole[browse::SymbolUser], "User");
    EXPECT_STREQ(browse::KlassenSymbole[50], "Workstation");
    EXPECT_STREQ(browse::KlassenSymbole[59], "IPXGW:IPX/IP Gateway Server");
    for (int i : {9, 32, 38}) EXPECT_STREQ(browse::KlassenSymbole[size_t(i)], "?");
}

TEST(Entries, ClassAndNameParts) {
    EXPECT_EQ(browse::KlasseAusEintrag("[User] Gast01"), "User");
    EXPECT_EQ(browse::NameAusEintrag("[User] Gast01"), "Gast01");
    EXPECT_EQ(browse::KlasseAusEintrag("[Organizational Unit] A B"), "Organizational Unit");
    EXPECT_EQ(browse::NameAusEintrag("[Organizational Unit] A B"), "A B");
    // a name holding "]" is cut at the first one only
    EXPECT_EQ(browse::NameAusEintrag("[User] a]b"), "a]b");
    // "..": no class, name unchanged
    EXPECT_EQ(browse::KlasseAusEintrag(".."), "");
    EXPECT_EQ(browse::NameAusEintrag(".."), "..");
    // lone blank entry of an empty container
    EXPECT_EQ(browse::KlasseAusEintrag("[] "), "");
    EXPECT_EQ(browse::NameAusEintrag("[] "), "");
    // no "]": empty class, whole entry as name, unknown icon
    EXPECT_EQ(browse::KlasseAusEintrag("[User Gast01"), "");
    EXPECT_EQ(browse::NameAusEintrag("[User Gast01"), "[User Gast01");
    EXPECT_EQ(browse::SymbolIndex("[User Gast01"), browse::SymbolUnknown);
    EXPECT_EQ(browse::KlasseAusEintrag(""), "");
    EXPECT_EQ(browse::NameAusEintrag("[User]"), "");
}

TEST(Entries, IconLookupIgnoresAsciiCaseOnly) {
    browse::InitKlassenSymbole();
    EXPECT_EQ(browse::SymbolIndex(".."), 0);
    EXPECT_EQ(browse::SymbolIndex("[User] x"), browse::SymbolUser);
    EXPECT_EQ(browse::SymbolIndex("[uSER] x"), browse::SymbolUser);
    EXPECT_EQ(browse::SymbolIndex("[ORGANIZATIONAL UNIT] x"), browse::SymbolOrganizationalUnit);
    EXPECT_EQ(browse::SymbolIndex("[Workstation] pc1"), 50);
    EXPECT_EQ(browse::SymbolIndex("[Printer] p"), 35);
    EXPECT_EQ(browse::SymbolIndex("[Printer (Non NDPS)] p"), browse::SymbolUnknown);
    EXPECT_EQ(browse::SymbolIndex("[Unknown] x"), browse::SymbolUnknown);
    // ".." and "Unknown" are not looked up as classes: positions start at 2
    EXPECT_EQ(browse::SymbolIndex("[..] x"), browse::SymbolUnknown);
    EXPECT_EQ(browse::SymbolIndex("..."), browse::SymbolUnknown);
    EXPECT_EQ(browse::KlassenPosition("group"), 14);
    EXPECT_EQ(browse::KlassenPosition("Gruppe"), -1);
}

TEST(Entries, ContainerClasses) {
    EXPECT_TRUE(browse::IstContainerKlasse("Organization"));
    EXPECT_TRUE(browse::IstContainerKlasse("organizational unit"));
    EXPECT_TRUE(browse::IstContainerKlasse("COUNTRY"));
    EXPECT_FALSE(browse::IstContainerKlasse("Locality"));
    EXPECT_FALSE(browse::IstContainerKlasse("User"));
    EXPECT_FALSE(browse::IstContainerKlasse(""));
}

const NameList kBrowserKlassen = {"Organizational Unit", "Organization", "User", "Workstation"};

TEST(FilterKlassen, KeepsDisplayClassesCaseSensitively) {
    NameList entries = {"[User] a", "[Group] g", "[user] b", "[Workstation] w", "[Printer] p",
                        "[Organization] o", "[Country] DE"};
    browse::FilterKlassen(&kBrowserKlassen, entries);
    EXPECT_EQ(entries, (NameList{"[User] a", "[Workstation] w", "[Organization] o"}));
}

TEST(FilterKlassen, LoneBlankEntryCountsAsEmpty) {
    NameList entries = {"[] "};
    browse::FilterKlassen(&kBrowserKlassen, entries);
    EXPECT_TRUE(entries.empty());
    // also with an empty class list, which otherwise keeps everything
    NameList none;
    entries = {"[] "};
    browse::FilterKlassen(&none, entries);
    EXPECT_TRUE(entries.empty());
    entries = {"[Printer] p", "[Group] g"};
    browse::FilterKlassen(&none, entries);
    EXPECT_EQ(entries.size(), 2u);
    // no class list at all: nothing happens, not even to the blank entry
    entries = {"[] "};
    browse::FilterKlassen(nullptr, entries);
    EXPECT_EQ(entries, NameList{"[] "});
}

TEST_F(BrowseText, ShowWordsArePrefixesOrWholeNames) {
    // ShowContainer "Schue, Kl" arrives as Schue*, Kl*; users are not judged.
    NameList entries = {"..", "[Organizational Unit] Schueler", "[Organizational Unit] KLASSE5",
                        "[Organizational Unit] Projekte", "[User] Projektuser"};
    NameList words = {"Schue*", "Kl*"};
    browse::FilterZeige(entries, words, true);
    EXPECT_EQ(entries, (NameList{"..", "[Organizational Unit] Schueler", "[Organizational Unit] KLASSE5",
                                 "[User] Projektuser"}));

    // a word without "*" lets through only the equal name, in any case
    entries = {"[User] Gast", "[User] GAST", "[User] Gast01"};
    words = {"gast"};
    browse::FilterZeige(entries, words, false);
    EXPECT_EQ(entries, (NameList{"[User] Gast", "[User] GAST"}));

    // umlauts fold too
    entries = {"[User] Schüler1", "[User] Schule"};
    words = {"SCHÜ*"};
    browse::FilterZeige(entries, words, false);
    EXPECT_EQ(entries, NameList{"[User] Schüler1"});
}

TEST_F(BrowseText, LoneStarAndEmptyWordsAreDroppedFromTheListItself) {
    NameList entries = {"[Organizational Unit] A", "[Organization] B"};
    NameList words = {"*", ""};
    browse::FilterZeige(entries, words, true);
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_TRUE(words.empty());

    words = {"*", "B*"};
    browse::FilterZeige(entries, words, true);
    EXPECT_EQ(entries, NameList{"[Organization] B"});
    EXPECT_EQ(words, NameList{"B*"});
}

TEST_F(BrowseText, HideWordsAreSubstringsWithLiteralStar) {
    NameList entries = {"[User] TestSchueler", "[User] LehrerTestUser", "[User] SchuelerVerwalter",
                        "[User] Meier", "[Organizational Unit] Test"};
    NameList words = {"Test", "Verwalter"};
    browse::FilterZeigeNicht(entries, words, false);
    EXPECT_EQ(entries, (NameList{"[User] Meier", "[Organizational Unit] Test"}));

    entries = {"[User] Tester", "[User] xTe*y", "[User] te*"};
    words = {"Te*"};
    browse::FilterZeigeNicht(entries, words, false);
    EXPECT_EQ(entries, NameList{"[User] Tester"});
}

TEST_F(BrowseText, CountryIsJudgedAsContainerAndDotDotNever) {
    NameList entries = {"..", "[Country] DE", "[Locality] Berlin", "[User] DEnis"};
    NameList words = {"DE"};
    browse::FilterZeigeNicht(entries, words, true);
    EXPECT_EQ(entries, (NameList{"..", "[Locality] Berlin", "[User] DEnis"}));

    entries = {"..", "[Locality] Berlin"};
    words = {"x*"};
    browse::FilterZeige(entries, words, false);  // Locality is a leaf here
    EXPECT_EQ(entries, NameList{".."});
}

TEST_F(BrowseText, SortGroupsByClassInOrder) {
    NameList entries = {"[Workstation] a", "[User] b", "[Organizational Unit] a", "[User] A",
                        "[Organization] z", "[Organizational Unit] 1", "[User] _x"};
    browse::SortiereEintraege(entries);
    EXPECT_EQ(entries, (NameList{"[Organization] z", "[Organizational Unit] 1", "[Organizational Unit] a",
                                 "[User] _x", "[User] A", "[User] b", "[Workstation] a"}));
}

TEST(Contexts, RootSuffixAndRootTest) {
    EXPECT_EQ(browse::StripRootSuffix("PROJEKTE.UNTERRICHT.[ROOT]"), "PROJEKTE.UNTERRICHT");
    EXPECT_EQ(browse::StripRootSuffix("A.[x].[y]"), "A");
    EXPECT_EQ(browse::StripRootSuffix("[root]"), "[root]");
    EXPECT_TRUE(browse::IstRootContext("[ROOT]"));
    EXPECT_TRUE(browse::IstRootContext("[Root]"));
    EXPECT_FALSE(browse::IstRootContext("[root]."));
    EXPECT_FALSE(browse::IstRootContext("UNTERRICHT"));
}

}  // namespace
