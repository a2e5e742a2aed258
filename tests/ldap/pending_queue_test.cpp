// The queue of equivalence sides an entry keeps until its next change: which values a request
// takes, in which order, and what stays.
#include "nwclient/ldap/ldap_pending_queue.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace nw::ldapbackend;

namespace {

// Values "a".."f" queued in that order ("c" twice: added, then removed), pairs 1..7.
PendingQueue sample() {
    PendingQueue q;
    uint64_t pair = 1;
    for (const char* key : {"a", "b", "c", "d", "c", "e", "f"})
        q.push(Pending{pair != 5, "equivalenttome", "equivalentToMe", std::string("cn=") + key, key, 9, pair++});
    return q;
}

std::string keys(const std::vector<Pending>& values) {
    std::string out;
    for (const Pending& p : values) out += p.valueKey + (p.add ? "" : "-");
    return out;
}

TEST(PendingQueue, APartTakesTheNamedValuesFirstThenTheFrontAndTheRestKeepsItsOrder) {
    struct Case {
        size_t most;
        std::unordered_set<std::string> preferred;
        std::string taken, rest;
    } cases[] = {
        {3, {"e", "c"}, "cc-e", "abdf"},
        {2, {"f", "d", "c"}, "cd", "abc-ef"},  // queue order, not the named order
        {4, {"x"}, "abcd", "c-ef"},
        {0, {"a"}, "", "abcdc-ef"},
        {7, {"f"}, "abcdc-ef", ""},  // room for all: everything, in order
    };
    for (const Case& c : cases) {
        PendingQueue q = sample();
        EXPECT_EQ(keys(q.takePart(c.most, c.preferred)), c.taken) << c.taken;
        EXPECT_EQ(q.size(), c.rest.size() - std::count(c.rest.begin(), c.rest.end(), '-'));
        EXPECT_EQ(keys(q.takeAll()), c.rest) << c.taken;
    }
}

TEST(PendingQueue, TheLastQueuingOfAValueCountsAndDroppedValuesAreGone) {
    PendingQueue q = sample();
    ASSERT_NE(q.last("equivalenttome", "c"), nullptr);
    EXPECT_FALSE(q.last("equivalenttome", "c")->add);
    EXPECT_EQ(q.last("securityequals", "c"), nullptr);
    EXPECT_TRUE(q.dropPair(5));
    EXPECT_FALSE(q.dropPair(5));
    EXPECT_TRUE(q.last("equivalenttome", "c")->add);
    EXPECT_EQ(q.dropIf("c", [](const Pending& p) { return p.attribute == "equivalenttome"; }), 1u);
    EXPECT_EQ(q.last("equivalenttome", "c"), nullptr);
    EXPECT_TRUE(q.dropPair(2));
    EXPECT_EQ(keys(q.takePart(2, {"f"})), "fa");
    EXPECT_EQ(keys(q.takeAll()), "de");
}

}  // namespace
