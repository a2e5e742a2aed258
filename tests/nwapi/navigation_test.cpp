// Name context, listing, search, members, existence and base class on a real tree.
#include "layer_fixture.h"
#include "../nwclient/memory_backend.h"

#include <set>

using namespace nwapi;
using testsupport::LayerTest;

namespace {

bool contains(const NameList& list, const std::string& entry) {
    return std::find(list.begin(), list.end(), entry) != list.end();
}

}  // namespace

// The demo school's cases, on the embedded tree and on slapd.
class Navigation : public LayerTest {};
BOTH_BACKENDS(Navigation);

TEST_P(Navigation, SetzeContextRecordsTheNameAsPassed) {
    connectDemo();
    SetzeContext("[root]");
    EXPECT_EQ(HoleAktContext(), "[root]");
    SetzeContext("projekte.unterricht");
    EXPECT_EQ(HoleAktContext(), "projekte.unterricht");
    EXPECT_TRUE(ObjektExistiert("Gast01"));
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_P(Navigation, SetzeContextRefusedKeepsTheCurrentContext) {
    connectDemo();
    SetzeContext("PROJEKTE.UNTERRICHT");
    SetzeContext(std::string(600, 'x') + ".UNTERRICHT");  // longer than any name buffer
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "NDS-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler " + std::to_string(GetLastNDSError()) + ". NWDSSetContext");
    EXPECT_LT(GetLastNDSError(), 0);
    EXPECT_EQ(HoleAktContext(), "PROJEKTE.UNTERRICHT");
    EXPECT_TRUE(ObjektExistiert("Gast01"));
}

TEST_P(Navigation, ChangeWithTestTakesTheDirectorysSpelling) {
    connectDemo();
    bool ok = false;
    WechseleContextMitTest("projekte.unterricht", ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(HoleAktContext(), "PROJEKTE.UNTERRICHT");
    WechseleContextMitTest("[ROOT]", ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(HoleAktContext(), "[root]");
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_P(Navigation, FailedChangeWithTestGoesBackToTheOldNameContext) {
    connectDemo();
    bool ok = false;
    WechseleContextMitTest("PROJEKTE.UNTERRICHT", ok);
    ASSERT_TRUE(ok);
    WechseleContextMitTest("NIRGENDS.UNTERRICHT", ok);
    EXPECT_FALSE(ok);
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "NDS-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -601. NWDSList (WechseleContextMitTest)");
    EXPECT_EQ(HoleAktContext(), "PROJEKTE.UNTERRICHT");
    // Relative names still resolve where the rows are.
    EXPECT_TRUE(ObjektExistiert("Gast01"));
    char name[nw::MAX_DN_BYTES] = {};
    ASSERT_EQ(nw::NWDSGetContext(layer().context, nw::DCK_NAME_CONTEXT, name), 0);
    EXPECT_STREQ(name, "PROJEKTE.UNTERRICHT");
}

TEST_P(Navigation, ListingModesAndEntryForm) {
    connectDemo();
    NameList all, containers, leaves;
    ListeUnterobjekte("PROJEKTE.UNTERRICHT", all, 0);
    ListeUnterobjekte(".PROJEKTE.UNTERRICHT", containers, 1);
    ListeUnterobjekte("PROJEKTE.UNTERRICHT", leaves, 2);
    EXPECT_TRUE(contains(all, "[Group] G_User_Internet_Deny"));
    EXPECT_TRUE(contains(all, "[User] Gast01"));
    EXPECT_EQ(all.size(), 7u);  // two groups, five guests
    EXPECT_TRUE(containers.empty());
    EXPECT_EQ(leaves, all);

    NameList top;
    ListeUnterobjekte("UNTERRICHT", top, 1);
    EXPECT_TRUE(contains(top, "[Organizational Unit] SCHUELER"));
    EXPECT_TRUE(contains(top, "[Organizational Unit] ARCHIV"));
    for (const auto& e : top) EXPECT_EQ(e.find("[User]"), std::string::npos) << e;

    NameList root;
    ListeUnterobjekte("[root]", root, 0);
    EXPECT_TRUE(contains(root, "[Organization] UNTERRICHT"));
    EXPECT_TRUE(contains(root, "[Country] DE"));
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_P(Navigation, EmptyContainerGivesTheLoneEntryExceptForContainersOnly) {
    connectDemo();
    NameList all{"kept"}, containers, leaves;
    ListeUnterobjekte("ARCHIV.UNTERRICHT", all, 0);
    ListeUnterobjekte("ARCHIV.UNTERRICHT", containers, 1);
    ListeUnterobjekte("ARCHIV.UNTERRICHT", leaves, 2);
    EXPECT_EQ(all, (NameList{"kept", "[] "}));  // appended, never cleared
    EXPECT_TRUE(containers.empty());
    EXPECT_EQ(leaves, NameList{"[] "});
}

TEST_P(Navigation, ListingOfAnUnknownOrLeafNameEndsQuietly) {
    connectDemo();
    NameList list;
    ListeUnterobjekte("NIRGENDS.UNTERRICHT", list, 0);
    ListeUnterobjekte(std::string(700, 'y'), list, 0);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_P(Navigation, ListingThroughManyBatchesKeepsOrderAndTheContainersOnlyChoice) {
    connectGenerated(3000, 1, 0, true);
    // 3000 users below K00001: far more than one 4096-byte reply.
    NameList all;
    ListeUnterobjekte("K00001.SCHUELER.UNTERRICHT", all, 0);
    ASSERT_EQ(all.size(), 3000u);
    EXPECT_EQ(all.front(), "[User] U0000001");
    EXPECT_EQ(all.back(), "[User] U0003000");
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
    int pages = faults->calls(nw::FaultBackend::Call::ListPage);
    EXPECT_GT(pages, 0);

    NameList containers;
    ListeUnterobjekte("SCHUELER.UNTERRICHT", containers, 1);
    EXPECT_EQ(containers, NameList{"[Organizational Unit] K00001"});
    NameList leaves;
    ListeUnterobjekte("K00001.SCHUELER.UNTERRICHT", leaves, 2);
    EXPECT_EQ(leaves, all);
    // Pumped before every entry and at every batch boundary.
    EXPECT_GT(ports.pump.count, 2 * 3000);
}

TEST_P(Navigation, ListingThatBreaksOffKeepsWhatItHas) {
    connectGenerated(3000, 1, 0, true);
    faults->failNth(nw::FaultBackend::Call::ListPage, 1, nw::ERR_NO_SUCH_ENTRY, -1);
    NameList list;
    ListeUnterobjekte("K00001.SCHUELER.UNTERRICHT", list, 0);
    EXPECT_LT(list.size(), 3000u);
    EXPECT_TRUE(ports.box.boxes.empty());
    // The duplicate context and its iteration are gone: a fresh listing is complete.
    faults->clearFailures();
    NameList again;
    ListeUnterobjekte("K00001.SCHUELER.UNTERRICHT", again, 0);
    EXPECT_EQ(again.size(), 3000u);
}

TEST_P(Navigation, NestedListingFromThePumpDoesNotDisturbTheOuterOne) {
    connectGenerated(600, 1);
    NameList inner;
    bool nested = false;
    ports.pump.onPump = [&](int count) {
        if (count == 50 && !nested) {
            nested = true;
            ListeUnterobjekte("PROJEKTE.UNTERRICHT", inner, 0);
            SetzeContext("PROJEKTE.UNTERRICHT");  // the layer's context moves meanwhile
        }
    };
    NameList outer;
    ListeUnterobjekte("K00001.SCHUELER.UNTERRICHT", outer, 0);
    EXPECT_TRUE(nested);
    EXPECT_EQ(outer.size(), 600u);
    EXPECT_TRUE(contains(inner, "[Group] G_User_Internet_Deny"));
}

TEST_P(Navigation, SearchFindsEveryUserOfTheSubtreeAsFullNames) {
    connectDemo(true);
    SetzeContext("[root]");
    NameList users{"kept"};
    EXPECT_TRUE(SearchObjects("SCHUELER.UNTERRICHT", users, "User"));
    EXPECT_TRUE(ports.box.boxes.empty());
    EXPECT_EQ(users.size(), 1u + 24 + 27 + 22 + 30 + 20 + 25);
    for (size_t i = 1; i < users.size(); ++i) {
        EXPECT_NE(users[i].front(), '.');
        EXPECT_NE(users[i].back(), '.');
        EXPECT_NE(users[i].find(".SCHUELER.UNTERRICHT"), std::string::npos) << users[i];
    }
    std::set<std::string> unique(users.begin(), users.end());
    EXPECT_EQ(unique.size(), users.size());

    // Some servers end full names with the separator: the list holds them without it.
    ASSERT_NE(faults, nullptr);
    faults->onPage([](nw::FaultBackend::Call, std::vector<nw::ObjectSummary>& page) {
        for (auto& s : page) s.name += s.name.size() % 2 ? "." : "..";
    });
    NameList dotted{"kept"};
    EXPECT_TRUE(SearchObjects("SCHUELER.UNTERRICHT", dotted, "User"));
    EXPECT_EQ(dotted, users);
    faults->onPage({});

    NameList none;
    EXPECT_TRUE(SearchObjects("ARCHIV.UNTERRICHT", none, "User"));
    EXPECT_TRUE(none.empty());
}

TEST_P(Navigation, SearchThatFailsPartWayIsReportedAndKeepsWhatItFound) {
    connectGenerated(2000, 4, 0, true);
    faults->failNth(nw::FaultBackend::Call::SearchPage, 2, nw::ERR_TRANSPORT_FAILURE);
    SetzeContext("[root]");
    NameList users;
    EXPECT_FALSE(SearchObjects("SCHUELER.UNTERRICHT", users, "User"));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "NDS-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -625. NWDSSearch (SearchObjects)");
    EXPECT_GT(users.size(), 0u);
    EXPECT_LT(users.size(), 2000u);
}

TEST_P(Navigation, SearchBelowAnUnknownBaseIsReported) {
    connectDemo();
    NameList users;
    EXPECT_FALSE(SearchObjects("NIRGENDS.UNTERRICHT", users, "User"));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -601. NWDSSearch (SearchObjects)");
}

TEST_P(Navigation, GroupMembersAndTheirErrors) {
    connectDemo();
    NameList list{"old"};
    int32_t error = 99;
    GetGroupMembers(testsupport::kDeny, list, error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(list.size(), 5u);
    EXPECT_TRUE(contains(list, "Gast01.PROJEKTE.UNTERRICHT"));

    // A group without members: empty, error 0, no box, the missing attribute recorded.
    GetGroupMembers("G_Lehrer.LEHRER.UNTERRICHT", list, error);
    EXPECT_EQ(list.size(), 6u);
    GetGroupMembers("G_Schueler.SCHUELER.UNTERRICHT", list, error);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(error, 0);
    EXPECT_EQ(std::abs(GetLastNDSError()), 603);
    EXPECT_TRUE(ports.box.boxes.empty());

    list = {"old"};
    GetGroupMembers(".NIRGENDS.PROJEKTE.UNTERRICHT", list, error);
    EXPECT_EQ(error, -601);
    EXPECT_TRUE(list.empty());
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -601. GetAttributeMultiValueStringList (Member)");
}

TEST_P(Navigation, ExistenceAndBaseClassShowNoBox) {
    connectDemo();
    EXPECT_TRUE(ObjektExistiert(testsupport::kDeny));
    EXPECT_TRUE(ObjektExistiert("g_user_internet_deny.projekte.unterricht"));
    EXPECT_FALSE(ObjektExistiert(".NIRGENDS.UNTERRICHT"));
    EXPECT_FALSE(ObjektExistiert("G_User_Internet_Deny"));  // relative to [root]
    EXPECT_EQ(GetBaseClass("Gast01.PROJEKTE.UNTERRICHT"), "User");
    EXPECT_EQ(GetBaseClass(".SCHUELER.UNTERRICHT"), "Organizational Unit");
    EXPECT_EQ(GetBaseClass("UNTERRICHT"), "Organization");
    SetzeContext("PROJEKTE.UNTERRICHT");
    EXPECT_EQ(GetBaseClass("Gast01"), "");  // always taken as absolute
    EXPECT_EQ(GetBaseClass("NIRGENDS"), "");
    EXPECT_TRUE(ports.box.boxes.empty());
}

// A directory that hands out member names with trailing dots: exactly one is taken off, and an
// escaped dot at the end belongs to the name.
TEST_F(LayerTest, GroupMembersLoseOneTrailingDot) {
    auto backend = std::make_unique<testsupport::MemoryBackend>();
    nw::ObjectId org = backend->add(nw::ROOT_ID, "ORG", "Organization", true);
    nw::ObjectId group = backend->add(org, "G", "Group");
    backend->set(group, "Member", nw::SYN_DIST_NAME,
                 {backend->text("A.ORG."), backend->text("B.ORG.."), backend->text("C\\."), backend->text("D.ORG")});
    nw::installBackend(std::move(backend));
    bool ok = false;
    InitNWConnection(ok);
    ASSERT_TRUE(ok);
    NameList list;
    int32_t error = 1;
    GetGroupMembers(".G.ORG", list, error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(list, (NameList{"A.ORG", "B.ORG.", "C\\.", "D.ORG"}));
}

// Window messages are processed before each entry is taken, before each entry is read after the
// first, and at each batch boundary and the end: 2n - 1 + batches; 2 for an empty container
// (the lone entry and the end).
TEST_P(Navigation, ListingPumpsBeforeEachEntryAndAtEachBatchBoundary) {
    connectGenerated(700, 1);
    const std::string container = ".K00001.SCHUELER.UNTERRICHT";
    int batches = 0;
    {
        nw::Buf_T* reply = nullptr;
        ASSERT_EQ(nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &reply), 0);
        int32_t iteration = nw::NO_MORE_ITERATIONS;
        do {
            ASSERT_EQ(nw::NWDSList(layer().context, container.c_str(), &iteration, reply), 0);
            ++batches;
        } while (iteration != nw::NO_MORE_ITERATIONS);
        nw::NWDSFreeBuf(reply);
    }
    ASSERT_GT(batches, 2);
    NameList list;
    ports.pump.count = 0;
    ListeUnterobjekte(container, list, 0);
    ASSERT_EQ(list.size(), 700u);
    EXPECT_EQ(ports.pump.count, 2 * 700 - 1 + batches);
}

TEST_P(Navigation, EmptyContainerListingPumpsTwice) {
    connectDemo();
    NameList list;
    ListeUnterobjekte("ARCHIV.UNTERRICHT", list, 1);
    EXPECT_EQ(ports.pump.count, 2);
}
