// The fault-injecting wrapper that other test suites rely on.
#include "memory_backend.h"
#include "nwclient/fault_backend.h"
#include "nwclient/nwclient.h"

#include <gtest/gtest.h>

using namespace nw;
using testsupport::MemoryBackend;

namespace {

struct Wrapped {
    MemoryBackend* tree;
    std::unique_ptr<FaultBackend> faults;
    ObjectId ou = 0;
    Wrapped() {
        auto backend = std::make_unique<MemoryBackend>();
        tree = backend.get();
        tree->pageSize = 2;
        ou = tree->add(ROOT_ID, "O", "Organization", true);
        for (int i = 0; i < 5; ++i) tree->add(ou, "u" + std::to_string(i), "User");
        faults = std::make_unique<FaultBackend>(std::move(backend));
    }
};

}  // namespace

TEST(FaultBackend, FailsExactlyThePlannedCallsOfAKind) {
    Wrapped w;
    w.faults->failNth(FaultBackend::Call::Resolve, 2, ERR_NO_ACCESS);
    w.faults->failNth(FaultBackend::Call::Resolve, 4, ERR_TIME_OUT, 2);
    ObjectId id = 0;
    std::vector<NWDSCCODE> got;
    for (int i = 0; i < 7; ++i) got.push_back(w.faults->resolve({"O"}, id));
    EXPECT_EQ(got, (std::vector<NWDSCCODE>{0, ERR_NO_ACCESS, 0, ERR_TIME_OUT, ERR_TIME_OUT, 0, 0}));
    EXPECT_EQ(w.faults->calls(FaultBackend::Call::Resolve), 7);
    EXPECT_EQ(w.faults->calls(FaultBackend::Call::Describe), 0);
    w.faults->failNth(FaultBackend::Call::Resolve, 8, ERR_FATAL, -1);
    EXPECT_EQ(w.faults->resolve({"O"}, id), ERR_FATAL);
    EXPECT_EQ(w.faults->resolve({"O"}, id), ERR_FATAL);
    w.faults->clearFailures();
    EXPECT_EQ(w.faults->resolve({"O"}, id), SUCCESSFUL);
}

TEST(FaultBackend, AFailingPageEndsItsCursor) {
    Wrapped w;
    w.faults->failNth(FaultBackend::Call::ListPage, 2, ERR_NO_SUCH_ENTRY);
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(w.faults->list(w.ou, false, cursor), SUCCESSFUL);
    std::vector<ObjectSummary> page;
    EXPECT_EQ(cursor->next(page), SUCCESSFUL);
    EXPECT_EQ(page.size(), 2u);
    EXPECT_EQ(cursor->next(page), ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(cursor->next(page), ERR_NO_SUCH_ENTRY);  // stays failed, the inner cursor is not asked
    EXPECT_TRUE(page.empty());
    EXPECT_EQ(w.faults->calls(FaultBackend::Call::ListPage), 2);
}

TEST(FaultBackend, ModifyHookRunsBeforeEachModifyWithItsNumber) {
    Wrapped w;
    std::vector<int> seen;
    w.faults->onModify([&](int n, ObjectId id) {
        seen.push_back(n);
        EXPECT_EQ(id, w.ou);
    });
    w.faults->failNth(FaultBackend::Call::Modify, 2, ERR_NO_ACCESS);
    Change c{DS_ADDITIONAL_VALUE, "Description", SYN_CI_STRING, {w.tree->text("a")}};
    EXPECT_EQ(w.faults->modify(w.ou, {c}), SUCCESSFUL);
    c.values[0].text = "b";
    EXPECT_EQ(w.faults->modify(w.ou, {c}), ERR_NO_ACCESS);
    EXPECT_EQ(w.tree->texts(w.ou, "Description"), std::vector<std::string>{"a"});
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}
