// The two error boxes, the one-shot suppression, and the name rules that need no directory.
#include "nwapi/nwapi.h"
#include "platform/recording.h"

#include <gtest/gtest.h>

using namespace nwapi;

namespace {

class ErrorBoxes : public ::testing::Test {
protected:
    void SetUp() override { resetLayerForTesting(); }
    platform::RecordingPorts ports;
    const std::vector<platform::RecordedBox>& boxes() { return ports.box.boxes; }
};

}  // namespace

TEST_F(ErrorBoxes, NwBoxShowsTheCodeUnsigned) {
    ShowNWError(static_cast<uint32_t>(-1), "NWCallsInit");
    ShowNWError(34817, "NWCCOpenConnByRef");
    ASSERT_EQ(boxes().size(), 2u);
    EXPECT_EQ(boxes()[0].caption, "NW-Fehler");
    EXPECT_EQ(boxes()[0].text, "Fehler 4294967295. NWCallsInit");
    EXPECT_EQ(boxes()[0].buttons, platform::Buttons::OkCancel);
    EXPECT_EQ(boxes()[1].text, "Fehler 34817. NWCCOpenConnByRef");
    EXPECT_EQ(GetLastNDSError(), 0);  // client errors are not NDS errors
}

TEST_F(ErrorBoxes, NdsBoxShowsTheCodeSignedAndRecordsIt) {
    ShowNDSError(-601, "NWDSSetContext");
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].caption, "NDS-Fehler");
    EXPECT_EQ(boxes()[0].text, "Fehler -601. NWDSSetContext");
    EXPECT_EQ(boxes()[0].buttons, platform::Buttons::OkCancel);
    EXPECT_EQ(GetLastNDSError(), -601);
}

TEST_F(ErrorBoxes, ExpectedErrorIsSwallowedOnceInEitherSign) {
    ExpectNDSError(-603);
    ShowNDSError(-603, "GetAttributeMultiValueStringList (Member)");
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(GetLastNDSError(), -603);
    ShowNDSError(-603, "GetAttributeMultiValueStringList (Member)");
    EXPECT_EQ(boxes().size(), 1u);

    ExpectNDSError(-603);
    ShowNDSError(603, "x");
    EXPECT_EQ(boxes().size(), 1u);
    EXPECT_EQ(GetLastNDSError(), 603);
}

TEST_F(ErrorBoxes, OtherCodesLeaveTheSuppressionArmed) {
    ExpectNDSError(-603);
    ShowNDSError(-601, "NWDSSetContext");
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "Fehler -601. NWDSSetContext");
    EXPECT_EQ(GetLastNDSError(), -601);
    ShowNDSError(-603, "later");
    EXPECT_EQ(boxes().size(), 1u);
    EXPECT_EQ(GetLastNDSError(), -603);
}

TEST_F(ErrorBoxes, ArmingAgainReplacesTheExpectedCode) {
    ExpectNDSError(-603);
    ExpectNDSError(-601);
    ShowNDSError(-603, "a");
    ShowNDSError(-601, "b");
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "Fehler -603. a");
}

TEST(ParentContext, Rules) {
    EXPECT_EQ(UebergeordneterContext("KLASSE5A.SCHUELER.SCHULE"), "SCHUELER.SCHULE");
    EXPECT_EQ(UebergeordneterContext(".KLASSE5A.SCHUELER.SCHULE"), "SCHUELER.SCHULE");
    EXPECT_EQ(UebergeordneterContext("SCHULE"), "[root]");
    EXPECT_EQ(UebergeordneterContext(".SCHULE"), "SCHULE");
    EXPECT_EQ(UebergeordneterContext("[root]"), "[root]");
    EXPECT_EQ(UebergeordneterContext(""), "[root]");
    EXPECT_EQ(UebergeordneterContext("."), "[root]");
    EXPECT_EQ(UebergeordneterContext("A.B"), "B");
}

TEST(ParentContext, EscapedDotsBelongToTheComponent) {
    EXPECT_EQ(UebergeordneterContext("Dr\\. Meier.LEHRER.SCHULE"), "LEHRER.SCHULE");
    EXPECT_EQ(UebergeordneterContext("v1\\.2"), "[root]");
    EXPECT_EQ(UebergeordneterContext("a\\\\.B"), "B");  // an escaped backslash, then a real dot
}

TEST(FullName, Rules) {
    EXPECT_EQ(NameMitContext("SCHULE", "LEHRER"), "LEHRER.SCHULE");
    EXPECT_EQ(NameMitContext(".SCHULE", "LEHRER"), "LEHRER.SCHULE");
    EXPECT_EQ(NameMitContext("[root]", "SCHULE"), "SCHULE");
    // Only "[root]" in exactly this spelling counts as the root here.
    EXPECT_EQ(NameMitContext("[ROOT]", "SCHULE"), "SCHULE.[ROOT]");
}
