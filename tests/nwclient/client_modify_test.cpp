// Modify requests: byte accounting up to "buffer full", DN values as references to existing
// objects, one backend call per request, security equivalence.
#include "client_fixture.h"

using namespace nw;
using testsupport::ClientTest;

class Modify : public ClientTest {
protected:
    Buf_T* req = nullptr;
    void SetUp() override {
        ClientTest::SetUp();
        ASSERT_EQ(NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &req), SUCCESSFUL);
        ASSERT_EQ(NWDSInitBuf(ctx, DSV_MODIFY_ENTRY, req), SUCCESSFUL);
    }
};

TEST_F(Modify, DnValuesAreResolvedToFullNamesAndSentInOneCall) {
    ASSERT_EQ(setContext("PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    ASSERT_EQ(NWDSPutChange(ctx, req, DS_ADD_ATTRIBUTE, "Member"), SUCCESSFUL);
    ASSERT_EQ(NWDSPutAttrVal(ctx, req, SYN_DIST_NAME, "gast01"), SUCCESSFUL);
    ASSERT_EQ(NWDSPutAttrVal(ctx, req, SYN_DIST_NAME, ".x.a\\.b.unterricht"), SUCCESSFUL);
    ASSERT_EQ(NWDSPutChange(ctx, req, DS_ADDITIONAL_VALUE, "Description"), SUCCESSFUL);
    ASSERT_EQ(NWDSPutAttrVal(ctx, req, SYN_CI_STRING, "gast01"), SUCCESSFUL);
    int32_t iter = 5;
    ASSERT_EQ(NWDSModifyObject(ctx, "G_User_Internet_Deny", &iter, 0, req), SUCCESSFUL);
    EXPECT_EQ(iter, NO_MORE_ITERATIONS);
    EXPECT_EQ(tree->modifyCalls, 1);
    ASSERT_EQ(tree->lastChanges.size(), 2u);
    EXPECT_EQ(tree->lastChanges[0].type, DS_ADD_ATTRIBUTE);
    EXPECT_EQ(tree->lastChanges[0].syntax, SYN_DIST_NAME);
    EXPECT_EQ(tree->texts(denyGroup, "Member"),
              (std::vector<std::string>{"Gast01.PROJEKTE.UNTERRICHT", "x.A\\.B.UNTERRICHT"}));
    EXPECT_EQ(tree->texts(denyGroup, "Description"), std::vector<std::string>{"gast01"});  // plain text stays
    // Read back through the client: full names.
    auto r = readTexts("G_User_Internet_Deny", "Member");
    EXPECT_EQ(r.texts, (std::vector<std::string>{"Gast01.PROJEKTE.UNTERRICHT", "x.A\\.B.UNTERRICHT"}));
}

TEST_F(Modify, ADnValueThatNamesNothingFailsTheWholeRequest) {
    ASSERT_EQ(NWDSPutChange(ctx, req, DS_ADDITIONAL_VALUE, "Member"), SUCCESSFUL);
    ASSERT_EQ(NWDSPutAttrVal(ctx, req, SYN_DIST_NAME, ".Gast01.PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    ASSERT_EQ(NWDSPutAttrVal(ctx, req, SYN_DIST_NAME, ".Gast99.PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    EXPECT_EQ(NWDSModifyObject(ctx, ".G_User_Internet_Deny.PROJEKTE.UNTERRICHT", nullptr, 0, req), ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(tree->modifyCalls, 0);
    EXPECT_TRUE(tree->texts(denyGroup, "Member").empty());
    EXPECT_EQ(NWDSModifyObject(ctx, ".Nobody.PROJEKTE.UNTERRICHT", nullptr, 0, req), ERR_NO_SUCH_ENTRY);
}

TEST_F(Modify, ACL_SubjectIsAReferenceToo) {
    ASSERT_EQ(setContext("PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    Object_ACL_T acl{const_cast<char*>("[Entry Rights]"), const_cast<char*>("Gast02"), DS_ENTRY_BROWSE};
    ASSERT_EQ(NWDSPutChange(ctx, req, DS_ADD_VALUE, "ACL"), SUCCESSFUL);
    ASSERT_EQ(NWDSPutAttrVal(ctx, req, SYN_OBJECT_ACL, &acl), SUCCESSFUL);
    ASSERT_EQ(NWDSModifyObject(ctx, "Gast01", nullptr, 0, req), SUCCESSFUL);
    ASSERT_EQ(tree->lastChanges.size(), 1u);
    EXPECT_EQ(tree->lastChanges[0].syntax, SYN_OBJECT_ACL);
    EXPECT_EQ(tree->lastChanges[0].values[0].text, "[Entry Rights]");
    EXPECT_EQ(tree->lastChanges[0].values[0].text2, "Gast02.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(tree->lastChanges[0].values[0].number, int64_t(DS_ENTRY_BROWSE));
}

TEST_F(Modify, RequestFullAtTheByteEdgeLeavesTheBufferAsItWas) {
    // Count 4 + change (type 4, "Description" 4 + 12, value count 4) = 28 bytes; each value of
    // 23 characters takes syntax 4 + length 4 + 24 = 32 bytes: 127 fit (4092), the 128th not.
    ASSERT_EQ(NWDSPutChange(ctx, req, DS_ADDITIONAL_VALUE, "Description"), SUCCESSFUL);
    int put = 0;
    NWDSCCODE rc = SUCCESSFUL;
    while (rc == SUCCESSFUL) {
        char value[24];
        snprintf(value, sizeof value, "v%022d", put);
        rc = NWDSPutAttrVal(ctx, req, SYN_CI_STRING, value);
        if (rc == SUCCESSFUL) ++put;
    }
    EXPECT_EQ(rc, ERR_BUFFER_FULL);
    EXPECT_EQ(put, 127);
    EXPECT_EQ(NWDSPutChange(ctx, req, DS_ADDITIONAL_VALUE, "Description"), ERR_BUFFER_FULL);
    // A value of 3 bytes needs 12 bytes and there are 4 left: refused as well.
    EXPECT_EQ(NWDSPutAttrVal(ctx, req, SYN_CI_STRING, "abc"), ERR_BUFFER_FULL);
    ASSERT_EQ(NWDSModifyObject(ctx, ".Gast01.PROJEKTE.UNTERRICHT", nullptr, 0, req), SUCCESSFUL);
    ASSERT_EQ(tree->lastChanges.size(), 1u);
    EXPECT_EQ(tree->lastChanges[0].values.size(), 127u);
    EXPECT_EQ(tree->lastChanges[0].values.back().text, "v0000000000000000000126");
}

TEST_F(Modify, RequestsAreBuiltInOrder) {
    EXPECT_EQ(NWDSPutAttrVal(ctx, req, SYN_DIST_NAME, "Gast01"), ERR_BAD_VERB);  // no change record yet
    ASSERT_EQ(NWDSPutChange(ctx, req, DS_REMOVE_VALUE, "Member"), SUCCESSFUL);
    EXPECT_EQ(NWDSPutAttrVal(ctx, req, SYN_DIST_NAME, std::string(257, 'a').c_str()), ERR_DN_TOO_LONG);
    EXPECT_EQ(NWDSPutAttrVal(ctx, req, SYN_DIST_NAME, nullptr), ERR_NULL_POINTER);
    EXPECT_EQ(NWDSPutAttrVal(ctx, req, SYN_STREAM, "x"), ERR_INVALID_ATTR_SYNTAX);
    EXPECT_EQ(NWDSPutChange(ctx, req, 9, "Member"), ERR_INVALID_REQUEST);
    // Re-initialising empties the request.
    ASSERT_EQ(NWDSInitBuf(ctx, DSV_MODIFY_ENTRY, req), SUCCESSFUL);
    ASSERT_EQ(NWDSModifyObject(ctx, ".Gast01.PROJEKTE.UNTERRICHT", nullptr, 0, req), SUCCESSFUL);
    EXPECT_TRUE(tree->lastChanges.empty());
}

TEST_F(Modify, ChangeWithoutValuesTakesTheSchemaSyntax) {
    tree->set(gast01, "Description", SYN_CI_STRING, {tree->text("weg")});
    ASSERT_EQ(NWDSPutChange(ctx, req, DS_REMOVE_ATTRIBUTE, "Description"), SUCCESSFUL);
    ASSERT_EQ(NWDSModifyObject(ctx, ".Gast01.PROJEKTE.UNTERRICHT", nullptr, 0, req), SUCCESSFUL);
    EXPECT_EQ(tree->lastChanges.at(0).syntax, SYN_CI_STRING);
    EXPECT_TRUE(tree->texts(gast01, "Description").empty());
}

TEST_F(Modify, BackendFailureComesBackUnchanged) {
    faults->failNth(FaultBackend::Call::Modify, 1, ERR_NO_ACCESS);
    ASSERT_EQ(NWDSPutChange(ctx, req, DS_ADDITIONAL_VALUE, "Group Membership"), SUCCESSFUL);
    ASSERT_EQ(NWDSPutAttrVal(ctx, req, SYN_DIST_NAME, ".G_User_Internet_Deny.PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    EXPECT_EQ(NWDSModifyObject(ctx, ".Gast01.PROJEKTE.UNTERRICHT", nullptr, 0, req), ERR_NO_ACCESS);
    EXPECT_EQ(NWDSModifyObject(ctx, ".Gast01.PROJEKTE.UNTERRICHT", nullptr, 0, req), SUCCESSFUL);
    EXPECT_EQ(tree->texts(gast01, "Group Membership"),
              std::vector<std::string>{"G_User_Internet_Deny.PROJEKTE.UNTERRICHT"});
}

TEST_F(Modify, SecurityEquivalenceResolvesBothNames) {
    ASSERT_EQ(setContext("PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    ASSERT_EQ(NWDSAddSecurityEquiv(ctx, "Gast01", "G_User_Internet_Deny"), SUCCESSFUL);
    EXPECT_EQ(tree->texts(gast01, "Security Equals"),
              std::vector<std::string>{"G_User_Internet_Deny.PROJEKTE.UNTERRICHT"});
    EXPECT_EQ(tree->texts(denyGroup, "Equivalent To Me"), std::vector<std::string>{"Gast01.PROJEKTE.UNTERRICHT"});
    EXPECT_EQ(NWDSAddSecurityEquiv(ctx, "Gast01", "G_User_Internet_Deny"), ERR_DUPLICATE_VALUE);
    EXPECT_EQ(NWDSAddSecurityEquiv(ctx, "Gast01", "Keine"), ERR_NO_SUCH_ENTRY);
    ASSERT_EQ(NWDSRemSecurityEquiv(ctx, ".Gast01.PROJEKTE.UNTERRICHT", "G_User_Internet_Deny"), SUCCESSFUL);
    EXPECT_TRUE(tree->texts(gast01, "Security Equals").empty());
    EXPECT_EQ(NWDSRemSecurityEquiv(ctx, "Gast01", "G_User_Internet_Deny"), ERR_NO_SUCH_VALUE);
}

TEST_F(Modify, UserSidesOfAGroupTolerateWhatAnotherRunDidAlready) {
    ASSERT_EQ(setContext("PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    ASSERT_EQ(NWDSAddSecurityEquiv(ctx, "Gast01", "G_User_Internet_Deny"), SUCCESSFUL);
    const std::string deny = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";
    const std::string other = "G_Andere.PROJEKTE.UNTERRICHT";
    // Gast01 (modify 1) already holds the equivalence. Gast02 has no Group Membership, as a
    // server says when a value is added to it (modify 2); while this run creates the attribute
    // (modify 3), another run gives it a first value.
    faults->failNth(FaultBackend::Call::Modify, 2, ERR_NO_SUCH_ATTRIBUTE);
    faults->onModify([&](int n, ObjectId) {
        if (n == 3) tree->set(gast02, "Group Membership", SYN_DIST_NAME, {tree->text(other)});
    });
    std::vector<std::pair<size_t, NWDSCCODE>> answers;
    auto answer = [&](size_t i, NWDSCCODE rc) { answers.emplace_back(i, rc); };
    ASSERT_EQ(NWDSChangeUserSidesOfGroup(ctx, "G_User_Internet_Deny", true, {"Gast01", "Gast02"}, answer, nullptr),
              SUCCESSFUL);
    EXPECT_EQ(answers, (std::vector<std::pair<size_t, NWDSCCODE>>{{0, SUCCESSFUL}, {1, SUCCESSFUL}}));
    EXPECT_EQ(tree->texts(gast01, "Group Membership"), std::vector<std::string>{deny});
    EXPECT_EQ(tree->texts(gast02, "Group Membership"), (std::vector<std::string>{other, deny}));
    EXPECT_EQ(tree->texts(gast02, "Security Equals"), std::vector<std::string>{deny});
    EXPECT_EQ(tree->texts(denyGroup, "Equivalent To Me"),
              (std::vector<std::string>{"Gast01.PROJEKTE.UNTERRICHT", "Gast02.PROJEKTE.UNTERRICHT"}));
}

TEST_F(Modify, MembersOfAGroupTolerateWhatAnotherRunDidAlready) {
    ASSERT_EQ(setContext("PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    std::vector<std::pair<size_t, NWDSCCODE>> answers;
    auto answer = [&](size_t i, NWDSCCODE rc) { answers.emplace_back(i, rc); };
    ASSERT_EQ(NWDSChangeMembersOfGroup(ctx, "G_User_Internet_Deny", true, {"Gast01"}, answer, nullptr), SUCCESSFUL);
    // Gast01 is a member already, then Gast02 is gone already; the last change is cancelled.
    bool cancelNow = false;
    const std::vector<std::pair<bool, std::vector<std::string>>> steps = {
        {true, {"Gast01", "Gast02"}}, {false, {"Gast02"}}, {false, {"Gast02"}}, {true, {"Gast02"}}};
    for (const auto& [add, users] : steps) {
        answers.clear();
        ASSERT_EQ(NWDSChangeMembersOfGroup(ctx, "G_User_Internet_Deny", add, users, answer, [&] { return cancelNow; }),
                  SUCCESSFUL);
        EXPECT_EQ(answers.size(), cancelNow ? 0u : users.size());
        for (const auto& [i, rc] : answers) EXPECT_EQ(rc, SUCCESSFUL) << users[i];
        cancelNow = &users == &steps[2].second;
    }
    EXPECT_EQ(tree->texts(denyGroup, "Member"), std::vector<std::string>{"Gast01.PROJEKTE.UNTERRICHT"});
}
