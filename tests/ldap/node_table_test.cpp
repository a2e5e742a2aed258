// What the LDAP backend keeps per object: DNs packed in blocks, lists of texts many entries share
// kept once, value keys kept as hashes.
#include "nwclient/ldap/ldap_backend_impl.h"

#include <gtest/gtest.h>

using namespace nw::ldapbackend;

TEST(NodeTable, EveryDnComesBackWholeAcrossBlocksAndIsFoundByItsKey) {
    NodeTable table;
    std::vector<std::string> dns;
    // Short and long DNs, one longer than a block, so DNs end exactly at and just past block ends.
    for (size_t i = 0; i < 4000; ++i) {
        const size_t pad = i == 1500 ? 70000 : i % 97 == 0 ? 3000 : i % 7;
        dns.push_back("cn=" + std::string(pad, 'x') + std::to_string(i) + ",ou=S,o=U");
        EXPECT_EQ(table.add(dns.back(), "key" + std::to_string(i)), static_cast<nw::ObjectId>(i));
    }
    ASSERT_EQ(table.size(), dns.size());
    for (size_t i = 0; i < dns.size(); ++i) {
        ASSERT_EQ(table.dnAt(i), dns[i]) << i;
        ASSERT_EQ(table.find("key" + std::to_string(i)), static_cast<nw::ObjectId>(i));
    }
    EXPECT_EQ(table.find("key4000"), -1);
}

TEST(SharedList, EqualListsAreKeptOnceAndAChangeToOneLeavesTheOthers) {
    using Texts = std::vector<std::string>;
    SharedList a, b, c, d;
    a.assign({"inetorgperson", "top"});
    b = Texts{"inetorgperson", "top"};
    c.assign({"inetorgperson", "top"});
    d.assign({"cn=g1", "cn=g2", "cn=g3"});
    EXPECT_EQ(&static_cast<const Texts&>(a), &static_cast<const Texts&>(b));
    b.push_back("tarvelmembership");
    c.clear();
    d.erase(d.begin() + 1);
    EXPECT_EQ(static_cast<const Texts&>(a), (Texts{"inetorgperson", "top"}));
    EXPECT_EQ(static_cast<const Texts&>(b), (Texts{"inetorgperson", "top", "tarvelmembership"}));
    EXPECT_TRUE(c.empty());
    EXPECT_EQ(static_cast<const Texts&>(d), (Texts{"cn=g1", "cn=g3"}));
    d.erase(d.begin());
    d.erase(d.begin());
    EXPECT_TRUE(d.empty());
}

TEST(KeySet, HoldsWhatWasInsertedUntilErasedOrCleared) {
    KeySet keys;
    EXPECT_EQ(keys.count("cn=a,o=u"), 0u);
    keys.erase("cn=a,o=u");  // nothing there yet
    keys.insert("cn=a,o=u");
    keys.insert("cn=b,o=u");
    keys.insert("cn=a,o=u");
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys.count("cn=a,o=u"), 1u);
    EXPECT_EQ(keys.count("cn=c,o=u"), 0u);
    keys.erase("cn=a,o=u");
    EXPECT_EQ(keys.count("cn=a,o=u"), 0u);
    EXPECT_EQ(keys.count("cn=b,o=u"), 1u);
    keys.clear();
    EXPECT_EQ(keys.count("cn=b,o=u"), 0u);
}
