// Names and name contexts: how a typeless name is resolved, read back and limited.
#include "client_fixture.h"
#include "nwclient/names.h"

using namespace nw;
using testsupport::ClientTest;

namespace {

std::vector<std::string> rootFirst(const std::string& context, const std::string& name, NWDSCCODE* rc = nullptr) {
    std::vector<std::string> ctx, out;
    EXPECT_EQ(names::parseContext(context, ctx), SUCCESSFUL);
    NWDSCCODE status = names::resolveAgainst(ctx, name, out);
    if (rc) *rc = status;
    return out;
}

using V = std::vector<std::string>;

}  // namespace

TEST(Names, RelativeNamesHangBelowTheContextAndAbsoluteOnesDoNot) {
    EXPECT_EQ(rootFirst("PROJEKTE.UNTERRICHT", "Gast01"), (V{"UNTERRICHT", "PROJEKTE", "Gast01"}));
    EXPECT_EQ(rootFirst(".PROJEKTE.UNTERRICHT", "Gast01"), (V{"UNTERRICHT", "PROJEKTE", "Gast01"}));
    EXPECT_EQ(rootFirst("PROJEKTE.UNTERRICHT", ".SCHUELER.UNTERRICHT"), (V{"UNTERRICHT", "SCHUELER"}));
    EXPECT_EQ(rootFirst("PROJEKTE.UNTERRICHT", "SCHUELER.UNTERRICHT.[Root]"), (V{"UNTERRICHT", "SCHUELER"}));
    EXPECT_EQ(rootFirst("PROJEKTE.UNTERRICHT", ""), (V{"UNTERRICHT", "PROJEKTE"}));
    EXPECT_EQ(rootFirst("PROJEKTE.UNTERRICHT", "[ROOT]"), V{});
    EXPECT_EQ(rootFirst("PROJEKTE.UNTERRICHT", ".[root]"), V{});
    EXPECT_EQ(rootFirst("[rOOt]", "UNTERRICHT"), V{"UNTERRICHT"});
    EXPECT_EQ(rootFirst("SCHULE.[ROOT]", "LEHRER"), (V{"SCHULE", "LEHRER"}));
}

TEST(Names, TrailingDotsClimbTheContext) {
    EXPECT_EQ(rootFirst("PROJEKTE.UNTERRICHT", "SCHUELER."), (V{"UNTERRICHT", "SCHUELER"}));
    NWDSCCODE rc = 0;
    rootFirst("UNTERRICHT", "x..", &rc);
    EXPECT_EQ(rc, ERR_INVALID_DS_NAME);
}

TEST(Names, EscapedDotsAndBackslashesStayInsideTheirComponent) {
    EXPECT_EQ(rootFirst("[root]", "x.A\\.B.UNTERRICHT"), (V{"UNTERRICHT", "A.B", "x"}));
    EXPECT_EQ(rootFirst("[root]", "a\\\\b.O"), (V{"O", "a\\b"}));
    EXPECT_EQ(names::escape("A.B\\C"), "A\\.B\\\\C");
    EXPECT_EQ(names::joinRootFirst({"UNTERRICHT", "A.B", "x"}), "x.A\\.B.UNTERRICHT");
    // An escaped "[root]" text is an ordinary component, never the root.
    names::Parsed p;
    EXPECT_EQ(names::parse("a.\\[root]", p), SUCCESSFUL);
    EXPECT_FALSE(p.absolute);
}

TEST(Names, MalformedNamesAreRefused) {
    names::Parsed p;
    EXPECT_EQ(names::parse("a..b", p), ERR_INVALID_DS_NAME);
    EXPECT_EQ(names::parse(".", p), ERR_INVALID_DS_NAME);
    EXPECT_EQ(names::parse("a.[root].b", p), ERR_INVALID_DS_NAME);
    EXPECT_EQ(names::parse(".a.", p), ERR_INVALID_DS_NAME);
}

TEST(Names, LimitsSitExactlyAtTheEdge) {
    names::Parsed p;
    std::string c128(128, 'a'), c127(127, 'b');
    EXPECT_EQ(names::parse(c128 + "." + c127, p), SUCCESSFUL);               // 256 characters
    EXPECT_EQ(names::parse(c128 + "." + c127 + "c", p), ERR_DN_TOO_LONG);    // 257
    EXPECT_EQ(names::parse(c128 + "a", p), ERR_RDN_TOO_LONG);                 // one component of 129
    // Bytes: 64 four-byte characters, a dot and 64 more are 513 bytes in 129 characters.
    std::string wide;
    for (int i = 0; i < 64; ++i) wide += "\xF0\x9F\x98\x80";
    std::string bytes513 = wide + "." + wide;
    ASSERT_EQ(bytes513.size(), 513u);
    EXPECT_EQ(names::parse(bytes513, p), SUCCESSFUL);
    EXPECT_EQ(names::parse(bytes513 + "a", p), ERR_DN_TOO_LONG);              // 514 bytes
}

TEST(Names, ANameThatFitsAloneMayNotFitWithItsContext) {
    NWDSCCODE rc = 0;
    std::string ctx = std::string(128, 'c') + "." + std::string(120, 'd');  // 249 characters
    rootFirst(ctx, "abcdef", &rc);                                         // 256 with the dot
    EXPECT_EQ(rc, SUCCESSFUL);
    rootFirst(ctx, "abcdefg", &rc);
    EXPECT_EQ(rc, ERR_DN_TOO_LONG);
}

TEST_F(ClientTest, NewContextStartsAtRootWithDefaultFlags) {
    EXPECT_EQ(getContext(), "[root]");
    uint32_t flags = 0, confidence = 7;
    EXPECT_EQ(NWDSGetContext(ctx, DCK_FLAGS, &flags), SUCCESSFUL);
    EXPECT_EQ(flags, DCV_DEFAULT_FLAGS);
    EXPECT_EQ(NWDSGetContext(ctx, DCK_CONFIDENCE, &confidence), SUCCESSFUL);
    EXPECT_EQ(confidence, 0u);
}

TEST_F(ClientTest, NameContextReadsBackAsTheDirectorySpellsIt) {
    ASSERT_EQ(setContext(".projekte.unterricht"), SUCCESSFUL);
    EXPECT_EQ(getContext(), "PROJEKTE.UNTERRICHT");
    ASSERT_EQ(setContext("[ROOT]"), SUCCESSFUL);
    EXPECT_EQ(getContext(), "[root]");
    ASSERT_EQ(setContext(".NIRGENDS.unterricht"), SUCCESSFUL);  // names nothing: kept as set
    EXPECT_EQ(getContext(), "NIRGENDS.unterricht");
    ASSERT_EQ(setContext("x.a\\.b.unterricht"), SUCCESSFUL);
    EXPECT_EQ(getContext(), "x.A\\.B.UNTERRICHT");
}

TEST_F(ClientTest, RelativeNamesResolveAgainstTheNameContext) {
    uint32_t id = 0;
    ASSERT_EQ(setContext("PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    EXPECT_EQ(NWDSMapNameToID(ctx, 1, "Gast01", &id), SUCCESSFUL);
    EXPECT_EQ(id, uint32_t(gast01));
    EXPECT_EQ(NWDSMapNameToID(ctx, 1, "KLASSE5A", &id), ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(NWDSMapNameToID(ctx, 1, ".SCHUELER.UNTERRICHT", &id), SUCCESSFUL);
    EXPECT_EQ(NWDSMapNameToID(ctx, 1, "KLASSE5A.SCHUELER.UNTERRICHT.[root]", &id), SUCCESSFUL);
    EXPECT_EQ(id, uint32_t(klasse5a));
    EXPECT_EQ(NWDSMapNameToID(ctx, 1, "", &id), SUCCESSFUL);
    EXPECT_EQ(id, uint32_t(projekte));
}

TEST_F(ClientTest, ReadObjectInfoGivesTheFullNameAndBaseClass) {
    char dn[MAX_DN_BYTES];
    Object_Info_T info{};
    ASSERT_EQ(NWDSReadObjectInfo(ctx, ".gast02.projekte.unterricht", dn, &info), SUCCESSFUL);
    EXPECT_STREQ(dn, "Gast02.PROJEKTE.UNTERRICHT");
    EXPECT_STREQ(info.baseClass, "User");
    EXPECT_EQ(info.objectFlags & DS_CONTAINER_ENTRY, 0u);
    ASSERT_EQ(NWDSReadObjectInfo(ctx, ".x.A\\.B.UNTERRICHT", dn, &info), SUCCESSFUL);
    EXPECT_STREQ(dn, "x.A\\.B.UNTERRICHT");
    EXPECT_EQ(NWDSReadObjectInfo(ctx, ".x.A.B.UNTERRICHT", dn, &info), ERR_NO_SUCH_ENTRY);
}

TEST_F(ClientTest, OverlongNamesAreRefusedNotCut) {
    std::string tooLong(MAX_DN_BYTES, 'a');  // no NUL within 514 bytes
    EXPECT_EQ(NWDSSetContext(ctx, DCK_NAME_CONTEXT, tooLong.c_str()), ERR_DN_TOO_LONG);
    EXPECT_EQ(getContext(), "[root]");
    uint32_t id = 0;
    EXPECT_EQ(NWDSMapNameToID(ctx, 1, std::string(257, 'a').c_str(), &id), ERR_DN_TOO_LONG);
    EXPECT_EQ(NWDSMapNameToID(ctx, 1, std::string(129, 'a').c_str(), &id), ERR_RDN_TOO_LONG);
    EXPECT_EQ(NWDSMapNameToID(ctx, 1, std::string(128, 'a').c_str(), &id), ERR_NO_SUCH_ENTRY);
}

TEST_F(ClientTest, DuplicateCopiesEverySettingAndStaysIndependent) {
    ASSERT_EQ(setContext("PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    uint32_t flags = DCV_DEFAULT_FLAGS | DCV_TYPELESS_NAMES | DCV_CANONICALIZE_NAMES, confidence = 1;
    ASSERT_EQ(NWDSSetContext(ctx, DCK_FLAGS, &flags), SUCCESSFUL);
    ASSERT_EQ(NWDSSetContext(ctx, DCK_CONFIDENCE, &confidence), SUCCESSFUL);
    NWDSContextHandle dup = -1;
    ASSERT_EQ(NWDSDuplicateContextHandle(ctx, &dup), SUCCESSFUL);
    EXPECT_NE(dup, ctx);
    uint32_t f = 0, c = 0;
    char name[MAX_DN_BYTES];
    NWDSGetContext(dup, DCK_FLAGS, &f);
    NWDSGetContext(dup, DCK_CONFIDENCE, &c);
    NWDSGetContext(dup, DCK_NAME_CONTEXT, name);
    EXPECT_EQ(f, flags);
    EXPECT_EQ(c, 1u);
    EXPECT_STREQ(name, "PROJEKTE.UNTERRICHT");
    ASSERT_EQ(NWDSSetContext(dup, DCK_NAME_CONTEXT, "[root]"), SUCCESSFUL);
    EXPECT_EQ(getContext(), "PROJEKTE.UNTERRICHT");
}

TEST_F(ClientTest, BadHandlesAndKeysAreRefused) {
    uint32_t v = 0;
    EXPECT_EQ(NWDSGetContext(ctx + 100, DCK_FLAGS, &v), ERR_BAD_CONTEXT);
    EXPECT_EQ(NWDSGetContext(ctx, 4, &v), ERR_BAD_KEY);
    EXPECT_EQ(NWDSSetContext(ctx, 0, &v), ERR_BAD_KEY);
    NWDSContextHandle dup = -1;
    ASSERT_EQ(NWDSDuplicateContextHandle(ctx, &dup), SUCCESSFUL);
    EXPECT_EQ(NWDSFreeContext(dup), SUCCESSFUL);
    EXPECT_EQ(NWDSFreeContext(dup), ERR_BAD_CONTEXT);
    EXPECT_EQ(NWDSSetContext(dup, DCK_FLAGS, &v), ERR_BAD_CONTEXT);
    EXPECT_EQ(NWDSFreeContext(-1), ERR_BAD_CONTEXT);
}
