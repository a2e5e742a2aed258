// The deny list's order: by container from the root down, then by name.
#include "browse/member_order.h"

#include <gtest/gtest.h>

using browse::KomponentenUmgekehrt;
using browse::SortiereNachContainer;
using text::NameList;

TEST(MemberOrder, ReversesComponentsKeepingEscapedDots) {
    EXPECT_EQ(KomponentenUmgekehrt("A.B.C"), "C.B.A");
    EXPECT_EQ(KomponentenUmgekehrt("Gast01"), "Gast01");
    EXPECT_EQ(KomponentenUmgekehrt(".A.B"), "B.A");  // the trailing dot that results goes
    EXPECT_EQ(KomponentenUmgekehrt("Dr\\. Who.X"), "X.Dr\\. Who");
    EXPECT_EQ(KomponentenUmgekehrt(""), "");
}

TEST(MemberOrder, ContainersFromTheRootDownThenNames) {
    text::setLocaleForTesting("de_DE");
    NameList names = {"A.Y.ORG", "B.X.ORG", "Z.A.ORG"};
    SortiereNachContainer(names);
    EXPECT_EQ(names, (NameList{"Z.A.ORG", "B.X.ORG", "A.Y.ORG"}));

    // Letter case does not count; a deeper container follows its parent's own members; names
    // come back unchanged, a leading dot included.
    names = {"b.klasse5a.schueler.unterricht", ".Gast01.PROJEKTE.UNTERRICHT", "A.KLASSE5A.SCHUELER.UNTERRICHT",
             "admin.UNTERRICHT", "c.SCHUELER.UNTERRICHT"};
    SortiereNachContainer(names);
    EXPECT_EQ(names, (NameList{"admin.UNTERRICHT", ".Gast01.PROJEKTE.UNTERRICHT", "c.SCHUELER.UNTERRICHT",
                               "A.KLASSE5A.SCHUELER.UNTERRICHT", "b.klasse5a.schueler.unterricht"}));
    text::setLocaleForTesting("");
}

TEST(MemberOrder, EqualNamesKeepTheirOrder) {
    text::setLocaleForTesting("de_DE");
    NameList names = {"X.B", "x.b", "X.A"};
    SortiereNachContainer(names);
    EXPECT_EQ(names, (NameList{"X.A", "X.B", "x.b"}));
    text::setLocaleForTesting("");
}
