// Subtree search by class: the filter, full names in batches, and failures part-way.
#include "client_fixture.h"
#include "nwclient/client_state.h"

#include <set>

using namespace nw;
using testsupport::ClientTest;

namespace {

int freedValues = 0;
void countFree(uint32_t, void*) { ++freedValues; }

}  // namespace

class Search : public ClientTest {
protected:
    struct Found {
        NWDSCCODE status = 0;
        std::vector<std::string> names;
        int replies = 0;
    };

    Buf_T* filterFor(const std::string& className) {
        Buf_T* filter = nullptr;
        NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &filter);
        NWDSInitBuf(ctx, DSV_SEARCH_FILTER, filter);
        Filter_Cursor_T* cur = nullptr;
        NWDSAllocFilter(&cur);
        NWDSAddFilterToken(cur, FTOK_ANAME, "Object Class", SYN_CLASS_NAME);
        NWDSAddFilterToken(cur, FTOK_EQ, nullptr, 0);
        NWDSAddFilterToken(cur, FTOK_AVAL, className.c_str(), SYN_CLASS_NAME);
        NWDSAddFilterToken(cur, FTOK_END, nullptr, 0);
        EXPECT_EQ(NWDSPutFilter(ctx, filter, cur, nullptr), SUCCESSFUL);
        return filter;
    }

    Found search(const std::string& base, const std::string& className, int scope = DS_SEARCH_SUBTREE,
                 const char* wanted = "") {
        Found f;
        Buf_T* filter = filterFor(className);
        Buf_T* names = nullptr;
        NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &names);
        NWDSInitBuf(ctx, DSV_SEARCH, names);
        NWDSPutAttrName(ctx, names, wanted);
        Buf_T* reply = nullptr;
        NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &reply);
        int32_t iter = NO_MORE_ITERATIONS;
        do {
            int32_t searched = -1;
            f.status = NWDSSearch(ctx, base.c_str(), scope, 0, filter, DS_ATTRIBUTE_VALUES, 0, names, &iter, 0,
                                  &searched, reply);
            if (f.status) break;
            ++f.replies;
            uint32_t count = 0;
            NWDSGetObjectCount(ctx, reply, &count);
            EXPECT_EQ(uint32_t(searched), count);
            for (uint32_t i = 0; i < count; ++i) {
                char name[MAX_DN_BYTES];
                uint32_t attrs = 9;
                EXPECT_EQ(NWDSGetObjectName(ctx, reply, name, &attrs, nullptr), SUCCESSFUL);
                EXPECT_EQ(attrs, 0u);
                f.names.push_back(name);
            }
        } while (iter != NO_MORE_ITERATIONS);
        NWDSFreeBuf(reply);
        NWDSFreeBuf(names);
        NWDSFreeBuf(filter);
        return f;
    }
};

TEST_F(Search, FindsEveryObjectOfTheClassBelowTheBaseWithFullNames) {
    auto f = search(".SCHUELER.UNTERRICHT", "User");
    ASSERT_EQ(f.status, SUCCESSFUL);
    ASSERT_EQ(f.names.size(), 25u);
    EXPECT_EQ(f.names.front(), "s5a1.KLASSE5A.SCHUELER.UNTERRICHT");
    auto dotted = search(".UNTERRICHT", "user");
    ASSERT_EQ(dotted.status, SUCCESSFUL);
    EXPECT_EQ(dotted.names.size(), 2u + 25u + 1u + 600u);
    EXPECT_GE(dotted.replies, 5);
    EXPECT_EQ(std::set<std::string>(dotted.names.begin(), dotted.names.end()).size(), dotted.names.size());
    EXPECT_TRUE(std::count(dotted.names.begin(), dotted.names.end(), "x.A\\.B.UNTERRICHT"));
    EXPECT_TRUE(state().iterations.empty());
}

TEST_F(Search, BaseResolvesAgainstTheNameContext) {
    ASSERT_EQ(setContext("UNTERRICHT"), SUCCESSFUL);
    EXPECT_EQ(search("PROJEKTE", "User").names,
              (std::vector<std::string>{"Gast01.PROJEKTE.UNTERRICHT", "Gast02.PROJEKTE.UNTERRICHT"}));
    EXPECT_EQ(search("LEER", "User").names.size(), 0u);
    EXPECT_EQ(search("NIRGENDS", "User").status, ERR_NO_SUCH_ENTRY);
}

TEST_F(Search, AFailingBatchIsReportedNotSwallowed) {
    faults->failNth(FaultBackend::Call::SearchPage, 4, ERR_TIME_OUT);
    auto f = search(".UNTERRICHT", "User");
    EXPECT_EQ(f.status, ERR_TIME_OUT);
    EXPECT_GT(f.names.size(), 0u);
    EXPECT_LT(f.names.size(), 628u);
    EXPECT_TRUE(state().iterations.empty());
}

TEST_F(Search, OnlyTheSubtreeScopeAndNoAttributeData) {
    EXPECT_EQ(search(".UNTERRICHT", "User", DS_SEARCH_SUBORDINATES).status, ERR_INVALID_REQUEST);
    EXPECT_EQ(search(".UNTERRICHT", "User", DS_SEARCH_SUBTREE, "Member").status, ERR_INVALID_REQUEST);
}

TEST_F(Search, FilterIsAttributeEqualsValueAndPutFilterUsesTheCursorUp) {
    Buf_T* filter = nullptr;
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &filter);
    NWDSInitBuf(ctx, DSV_SEARCH_FILTER, filter);
    Filter_Cursor_T* cur = nullptr;
    ASSERT_EQ(NWDSAllocFilter(&cur), SUCCESSFUL);
    NWDSAddFilterToken(cur, FTOK_ANAME, "Object Class", SYN_CLASS_NAME);
    NWDSAddFilterToken(cur, FTOK_EQ, nullptr, 0);
    NWDSAddFilterToken(cur, FTOK_AVAL, "User", SYN_CLASS_NAME);
    NWDSAddFilterToken(cur, FTOK_OR, nullptr, 0);
    NWDSAddFilterToken(cur, FTOK_PRESENT, nullptr, 0);
    freedValues = 0;
    EXPECT_EQ(NWDSPutFilter(ctx, filter, cur, countFree), ERR_INVALID_FILTER_SYNTAX);
    EXPECT_EQ(freedValues, 2);  // the two values handed to the cursor
    EXPECT_EQ(NWDSFreeFilter(cur, countFree), ERR_INVALID_HANDLE);  // already gone, no double free
    EXPECT_EQ(freedValues, 2);

    // A filter buffer that holds no filter, and a filter in a buffer of the wrong kind.
    Buf_T* names = nullptr;
    Buf_T* reply = nullptr;
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &names);
    NWDSInitBuf(ctx, DSV_SEARCH, names);
    NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &reply);
    int32_t iter = NO_MORE_ITERATIONS;
    EXPECT_EQ(NWDSSearch(ctx, ".UNTERRICHT", 2, 0, filter, 1, 0, names, &iter, 0, nullptr, reply),
              ERR_INVALID_FILTER_SYNTAX);
    EXPECT_EQ(NWDSSearch(ctx, ".UNTERRICHT", 2, 0, names, 1, 0, names, &iter, 0, nullptr, reply), ERR_BAD_VERB);
    ASSERT_EQ(NWDSAllocFilter(&cur), SUCCESSFUL);
    int32_t number = 5;
    EXPECT_EQ(NWDSAddFilterToken(cur, FTOK_AVAL, &number, SYN_INTEGER), ERR_INVALID_FILTER_SYNTAX);
    EXPECT_EQ(NWDSPutFilter(ctx, names, cur, nullptr), ERR_BAD_VERB);
    NWDSFreeBuf(reply);
    NWDSFreeBuf(names);
    NWDSFreeBuf(filter);
}
