// The same demo school on both backends: the embedded tree and slapd loaded with its LDIF export
// must look the same through the program's layers.
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "platform/recording.h"
#include "slapd_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace ldaptest;

namespace {

struct Seen {
    std::vector<nwapi::NameList> lists;
};

class BothBackends : public ::testing::Test {
protected:
    platform::RecordingPorts ports;
    testsupport::TempDir dir;

    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        nwapi::DoneNWConnection();
        nw::resetClient();
        nwapi::resetLayerForTesting();
    }

    // Runs the probe on the embedded demo school, then on slapd with its export; returns both.
    std::pair<Seen, Seen> onBoth(const std::function<void(Seen&)>& probe) {
        Seen embedded, ldap;
        testsupport::useDemoTree(dir);
        connect();
        probe(embedded);
        reset();

        std::string ldif = dir.file("demo.ldif");
        EXPECT_EQ(testsupport::runTreeTool("export --ldif " + ldif + " " + dir.file("school.tree") + " --base " + BASE),
                  0);
        Slapd server(ldif);
        server.useAs("admin");
        connect();
        probe(ldap);
        reset();
        return {embedded, ldap};
    }

    void connect() {
        bool ok = false;
        nwapi::InitNWConnection(ok);
        ASSERT_TRUE(ok);
        ASSERT_TRUE(ports.box.boxes.empty()) << ports.box.boxes.front().text;
        nwapi::SetzeContext("[root]");
    }
};

nwapi::NameList sorted(nwapi::NameList list) {
    std::sort(list.begin(), list.end());
    return list;
}

}  // namespace

TEST_F(BothBackends, ContainersListAlike) {
    auto [embedded, ldap] = onBoth([](Seen& seen) {
        for (const char* container : {".UNTERRICHT", ".PROJEKTE.UNTERRICHT", ".SCHUELER.UNTERRICHT",
                                      ".KLASSE5A.SCHUELER.UNTERRICHT", ".KLASSE7B.SCHUELER.UNTERRICHT"}) {
            nwapi::NameList entries;
            nwapi::ListeUnterobjekte(container, entries, 0);
            seen.lists.push_back(sorted(entries));
            nwapi::NameList containers;
            nwapi::ListeUnterobjekte(container, containers, 1);
            seen.lists.push_back(sorted(containers));
        }
    });
    ASSERT_EQ(embedded.lists.size(), ldap.lists.size());
    // UNTERRICHT holds a server object LDAP keeps as a device; everything else is the same.
    auto withoutServer = [](nwapi::NameList l) {
        l.erase(std::remove_if(l.begin(), l.end(), [](const std::string& e) { return e.find("SCHULSERVER") != std::string::npos; }),
                l.end());
        return l;
    };
    for (size_t i = 0; i < embedded.lists.size(); ++i) {
        if (i % 2 == 0) {
            EXPECT_FALSE(embedded.lists[i].empty()) << i;  // every container holds something
        }
        EXPECT_EQ(withoutServer(ldap.lists[i]), withoutServer(embedded.lists[i])) << "listing " << i;
    }
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_F(BothBackends, SearchMembersAndValuesAlike) {
    auto [embedded, ldap] = onBoth([](Seen& seen) {
        nwapi::NameList users;
        EXPECT_TRUE(nwapi::SearchObjects(".UNTERRICHT", users, "User"));
        seen.lists.push_back(sorted(users));
        nwapi::NameList members;
        int32_t error = 0;
        nwapi::GetGroupMembers(".G_User_Internet_Deny.PROJEKTE.UNTERRICHT", members, error);
        seen.lists.push_back(sorted(members));
        for (const char* attribute : {"Description", "Surname", "Given Name", "Full Name", "Telephone Number", "Group Membership",
                                      "Security Equals", "Member"}) {
            for (const char* object : {".admin.UNTERRICHT", ".Gast01.PROJEKTE.UNTERRICHT", ".UNTERRICHT",
                                       ".G_KLASSE5A.KLASSE5A.SCHUELER.UNTERRICHT"}) {
                nwapi::NameList values;
                EXPECT_TRUE(nwapi::GetAttributeMultiValueStringList(nwapi::layer().context, object, attribute, values))
                    << object << " " << attribute;
                seen.lists.push_back(values);
            }
        }
    });
    ASSERT_EQ(embedded.lists.size(), ldap.lists.size());
    EXPECT_GT(embedded.lists[0].size(), 100u);
    EXPECT_GE(embedded.lists[1].size(), 2u);
    for (size_t i = 0; i < embedded.lists.size(); ++i) EXPECT_EQ(ldap.lists[i], embedded.lists[i]) << "probe " << i;
    EXPECT_TRUE(ports.box.boxes.empty()) << ports.box.boxes.front().text;
}

TEST_F(BothBackends, StopAndGoLeaveTheSameMembers) {
    auto [embedded, ldap] = onBoth([](Seen& seen) {
        const std::string deny = ".G_User_Internet_Deny.PROJEKTE.UNTERRICHT";
        nwapi::NameList users;
        ASSERT_TRUE(nwapi::SearchObjects(".KLASSE5B.SCHUELER.UNTERRICHT", users, "User"));
        users = sorted(users);  // the same users below on both, whatever order each search gives
        nwapi::NameList stop = users;
        EXPECT_TRUE(nwapi::AddMultipleUsersToGroup(stop, deny));
        nwapi::NameList afterStop;
        int32_t error = 0;
        nwapi::GetGroupMembers(deny, afterStop, error);
        seen.lists.push_back(sorted(afterStop));
        nwapi::NameList go = {users[0], users[1]};
        EXPECT_TRUE(nwapi::DeleteMultipleUsersFromGroup(go, deny));
        nwapi::NameList afterGo;
        nwapi::GetGroupMembers(deny, afterGo, error);
        seen.lists.push_back(sorted(afterGo));
        for (const std::string& user : {users[0], users[2]}) {
            nwapi::NameList values;
            nwapi::GetAttributeMultiValueStringList(nwapi::layer().context, "." + user, "Security Equals", values);
            seen.lists.push_back(sorted(values));
        }
    });
    ASSERT_EQ(embedded.lists.size(), ldap.lists.size());
    for (size_t i = 0; i < embedded.lists.size(); ++i) EXPECT_EQ(ldap.lists[i], embedded.lists[i]) << "probe " << i;
    EXPECT_TRUE(ports.box.boxes.empty()) << ports.box.boxes.front().text;
}
