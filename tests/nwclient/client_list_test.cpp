// Listing containers: replies filled to the byte, batches through the iteration handle,
// relative names, and what happens when the backend fails in between.
#include "client_fixture.h"
#include "nwclient/client_state.h"

#include <set>

using namespace nw;
using testsupport::ClientTest;

TEST_F(ClientTest, ListingGivesRelativeNamesWithClassesAndFlags) {
    auto l = list(".PROJEKTE.UNTERRICHT");
    ASSERT_EQ(l.status, SUCCESSFUL);
    EXPECT_EQ(l.names, (std::vector<std::string>{"G_User_Internet_Deny", "Gast01", "Gast02"}));
    EXPECT_EQ(l.classes, (std::vector<std::string>{"Group", "User", "User"}));
    EXPECT_EQ(l.replies, 1);
    auto top = list("UNTERRICHT");
    ASSERT_EQ(top.status, SUCCESSFUL);
    EXPECT_EQ(top.names, (std::vector<std::string>{"PROJEKTE", "SCHUELER", "LEER", "A\\.B", "GROSS"}));
    EXPECT_EQ(top.flags[0], DS_CONTAINER_ENTRY);
    EXPECT_EQ(list("[Root]").names, std::vector<std::string>{"UNTERRICHT"});
}

TEST_F(ClientTest, ListingTheNameContextItself) {
    ASSERT_EQ(setContext("A\\.B.UNTERRICHT"), SUCCESSFUL);
    EXPECT_EQ(list("").names, std::vector<std::string>{"x"});
    EXPECT_EQ(list("NIRGENDS").status, ERR_NO_SUCH_ENTRY);
}

TEST_F(ClientTest, EmptyContainerGivesOneReplyWithNoEntriesAndNoIteration) {
    Buf_T* buf = nullptr;
    ASSERT_EQ(NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &buf), SUCCESSFUL);
    int32_t iter = NO_MORE_ITERATIONS;
    ASSERT_EQ(NWDSList(ctx, ".LEER.UNTERRICHT", &iter, buf), SUCCESSFUL);
    EXPECT_EQ(iter, NO_MORE_ITERATIONS);
    uint32_t count = 99;
    ASSERT_EQ(NWDSGetObjectCount(ctx, buf, &count), SUCCESSFUL);
    EXPECT_EQ(count, 0u);
    char name[MAX_DN_BYTES];
    EXPECT_EQ(NWDSGetObjectName(ctx, buf, name, nullptr, nullptr), ERR_BUFFER_EMPTY);
    NWDSFreeBuf(buf);
}

TEST_F(ClientTest, LargeContainerComesInSeveralFullReplies) {
    auto l = list(".GROSS.UNTERRICHT");
    ASSERT_EQ(l.status, SUCCESSFUL);
    ASSERT_EQ(l.names.size(), 620u);
    EXPECT_GE(l.replies, 6);
    EXPECT_EQ(std::set<std::string>(l.names.begin(), l.names.end()).size(), 620u);
    EXPECT_EQ(l.names.front(), "ou0");
    EXPECT_EQ(l.names.back(), "user599");
    EXPECT_TRUE(state().iterations.empty());
}

TEST_F(ClientTest, ReplyHoldsExactlyAsManyEntriesAsFitTheBytes) {
    // Each entry: name of 11 bytes (4 + 12), flags, count, time (12), "User" (4 + 8), attribute
    // count (4) = 44 bytes; 93 of them and the count field are exactly 4096 bytes.
    auto ou = tree->add(unterricht, "EXAKT", "Organizational Unit", true);
    for (int i = 0; i < 200; ++i) {
        char name[12];
        snprintf(name, sizeof name, "u%010d", i);
        tree->add(ou, name, "User");
    }
    for (size_t size : {size_t(4096), size_t(4095)}) {
        Buf_T* buf = nullptr;
        ASSERT_EQ(NWDSAllocBuf(size, &buf), SUCCESSFUL);
        int32_t iter = NO_MORE_ITERATIONS;
        ASSERT_EQ(NWDSList(ctx, ".EXAKT.UNTERRICHT", &iter, buf), SUCCESSFUL);
        uint32_t count = 0;
        NWDSGetObjectCount(ctx, buf, &count);
        EXPECT_EQ(count, size == 4096 ? 93u : 92u);
        EXPECT_NE(iter, NO_MORE_ITERATIONS);
        EXPECT_EQ(NWDSCloseIteration(ctx, iter, DSV_READ), SUCCESSFUL);
        NWDSFreeBuf(buf);
    }
    auto l = list(".EXAKT.UNTERRICHT");
    EXPECT_EQ(l.names.size(), 200u);
    EXPECT_EQ(l.replies, 3);  // 93 + 93 + 14
}

TEST_F(ClientTest, ContainersOnlyHoldsForEveryBatch) {
    auto l = list(".GROSS.UNTERRICHT", true, 256);
    ASSERT_EQ(l.status, SUCCESSFUL);
    EXPECT_GT(l.replies, 2);
    ASSERT_EQ(l.names.size(), 20u);
    for (size_t i = 0; i < l.names.size(); ++i) {
        EXPECT_EQ(l.flags[i], DS_CONTAINER_ENTRY);
        EXPECT_EQ(l.names[i], "ou" + std::to_string(i * 30));
    }
}

TEST_F(ClientTest, ABufferTooSmallForOneEntryIsAnErrorNotALoop) {
    auto l = list(".PROJEKTE.UNTERRICHT", false, 32);
    EXPECT_EQ(l.status, ERR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(state().iterations.empty());
}

TEST_F(ClientTest, ContainerVanishingBetweenBatchesEndsTheIterationWithTheError) {
    faults->failNth(FaultBackend::Call::ListPage, 3, ERR_NO_SUCH_ENTRY);
    auto l = list(".GROSS.UNTERRICHT");
    EXPECT_EQ(l.status, ERR_NO_SUCH_ENTRY);
    EXPECT_GE(l.replies, 1);
    EXPECT_LT(l.names.size(), 620u);
    EXPECT_EQ(l.names.front(), "ou0");  // what came before the failure stays valid
    EXPECT_TRUE(state().iterations.empty());
}

TEST_F(ClientTest, ClosingAnIterationOrItsContextFreesIt) {
    Buf_T* buf = nullptr;
    ASSERT_EQ(NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &buf), SUCCESSFUL);
    int32_t iter = NO_MORE_ITERATIONS;
    ASSERT_EQ(NWDSList(ctx, ".GROSS.UNTERRICHT", &iter, buf), SUCCESSFUL);
    ASSERT_NE(iter, NO_MORE_ITERATIONS);
    EXPECT_EQ(NWDSCloseIteration(ctx, iter, DSV_READ), SUCCESSFUL);
    EXPECT_EQ(NWDSList(ctx, ".GROSS.UNTERRICHT", &iter, buf), ERR_INVALID_HANDLE);

    NWDSContextHandle dup = -1;
    ASSERT_EQ(NWDSDuplicateContextHandle(ctx, &dup), SUCCESSFUL);
    iter = NO_MORE_ITERATIONS;
    ASSERT_EQ(NWDSList(dup, ".GROSS.UNTERRICHT", &iter, buf), SUCCESSFUL);
    ASSERT_NE(iter, NO_MORE_ITERATIONS);
    EXPECT_EQ(NWDSList(ctx, ".GROSS.UNTERRICHT", &iter, buf), ERR_INVALID_HANDLE);  // not this context's
    EXPECT_EQ(state().iterations.size(), 1u);
    EXPECT_EQ(NWDSFreeContext(dup), SUCCESSFUL);
    EXPECT_TRUE(state().iterations.empty());
    NWDSFreeBuf(buf);
}

TEST_F(ClientTest, AbandonedIterationsDoNotPileUp) {
    Buf_T* buf = nullptr;
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &buf);
    std::vector<int32_t> handles;
    for (size_t i = 0; i < MAX_ITERATIONS_PER_CONTEXT + 3; ++i) {
        int32_t iter = NO_MORE_ITERATIONS;
        ASSERT_EQ(NWDSList(ctx, ".GROSS.UNTERRICHT", &iter, buf), SUCCESSFUL);
        handles.push_back(iter);
    }
    EXPECT_EQ(state().iterations.size(), MAX_ITERATIONS_PER_CONTEXT);
    int32_t first = handles.front(), last = handles.back();
    EXPECT_EQ(NWDSList(ctx, ".GROSS.UNTERRICHT", &first, buf), ERR_INVALID_HANDLE);
    EXPECT_EQ(NWDSList(ctx, ".GROSS.UNTERRICHT", &last, buf), SUCCESSFUL);
    NWDSFreeBuf(buf);
}

TEST_F(ClientTest, NestedListingsDoNotDisturbEachOther) {
    Buf_T* a = nullptr;
    Buf_T* b = nullptr;
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &a);
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &b);
    int32_t ia = NO_MORE_ITERATIONS;
    ASSERT_EQ(NWDSList(ctx, ".GROSS.UNTERRICHT", &ia, a), SUCCESSFUL);
    auto inner = list(".SCHUELER.UNTERRICHT");
    EXPECT_EQ(inner.names, std::vector<std::string>{"KLASSE5A"});
    size_t total = 0;
    while (true) {
        uint32_t count = 0;
        NWDSGetObjectCount(ctx, a, &count);
        total += count;
        if (ia == NO_MORE_ITERATIONS) break;
        ASSERT_EQ(NWDSList(ctx, ".GROSS.UNTERRICHT", &ia, a), SUCCESSFUL);
    }
    EXPECT_EQ(total, 620u);
    NWDSFreeBuf(a);
    NWDSFreeBuf(b);
}

TEST_F(ClientTest, BuffersRefuseTheWrongUse) {
    Buf_T* buf = nullptr;
    ASSERT_EQ(NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &buf), SUCCESSFUL);
    ASSERT_EQ(NWDSInitBuf(ctx, DSV_READ, buf), SUCCESSFUL);
    uint32_t count = 0;
    EXPECT_EQ(NWDSGetObjectCount(ctx, buf, &count), ERR_BAD_VERB);  // a request, not a listing
    EXPECT_EQ(NWDSPutChange(ctx, buf, DS_ADD_VALUE, "Member"), ERR_BAD_VERB);
    EXPECT_EQ(NWDSInitBuf(ctx, 77, buf), ERR_BAD_VERB);
    EXPECT_EQ(NWDSAllocBuf(0, &buf), ERR_BUFFER_ZERO_LENGTH);
    EXPECT_EQ(NWDSFreeBuf(buf), SUCCESSFUL);
    EXPECT_EQ(NWDSFreeBuf(buf), ERR_INVALID_HANDLE);  // a second free is caught, not a crash
}
