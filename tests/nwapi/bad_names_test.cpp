// Bad names through every layer operation: empty, too long for a name buffer, unknown, and names
// whose components hold an escaped dot. Each gets its answer and a status, never a crash or a cut.
#include "layer_fixture.h"

#include "nwclient/embedded/tree_store.h"

using namespace nwapi;
using testsupport::kDeny;
using testsupport::kDenyFull;
using testsupport::LayerTest;

namespace {

bool contains(const NameList& list, const std::string& entry) {
    return std::find(list.begin(), list.end(), entry) != list.end();
}

}  // namespace

class BadNames : public LayerTest {};
BOTH_BACKENDS(BadNames);

TEST_P(BadNames, EmptyNamesAreTheNameContextOrRefused) {
    connectDemo();
    SetzeContext("PROJEKTE.UNTERRICHT");
    SetzeContext("");
    EXPECT_EQ(HoleAktContext(), "");  // recorded as passed; the client takes it as the root
    EXPECT_TRUE(ObjektExistiert("UNTERRICHT"));

    bool ok = false;
    WechseleContextMitTest("", ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(HoleAktContext(), "[root]");

    NameList list;
    ListeUnterobjekte("", list, 0);  // "." names nothing
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(GetBaseClass(""), "");
    EXPECT_EQ(UebergeordneterContext(""), "[root]");
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();

    EXPECT_FALSE(SearchObjects("", list, "User"));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -342. NWDSSearch (SearchObjects)");
}

TEST_P(BadNames, EmptyUserOrGroupNameChangesNothing) {
    connectDemo(true);
    SetzeContext("[root]");
    // The empty name would stand for the name context itself: the tree root here.
    NameList users{"", "Gast03.PROJEKTE.UNTERRICHT"};
    EXPECT_FALSE(AddMultipleUsersToGroup(users, kDeny));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text,
              "Fehler -342. AddMultipleUsersToGroup ([" + kDeny + "] Group Membership/Security Eq. of )");
    NameList members{"Gast03.PROJEKTE.UNTERRICHT"};
    EXPECT_FALSE(AddMultipleUsersToGroup(members, ""));
    EXPECT_FALSE(DeleteMultipleUsersFromGroup(members, ""));
    EXPECT_EQ(ports.box.boxes.size(), 3u);
    EXPECT_TRUE(faults->requests.empty());
    expectInGroup("Gast03.PROJEKTE.UNTERRICHT", kDenyFull, false);
    EXPECT_EQ(layer().modifyBuffer, nullptr);
}

TEST_P(BadNames, NamesTooLongForANameBufferAreRefusedWithAStatus) {
    connectDemo(true);
    SetzeContext("[root]");
    for (size_t length : {size_t(514), size_t(600), size_t(5000)}) {
        SCOPED_TRACE(length);
        ports.box.boxes.clear();
        const std::string longName = std::string(length - 11, 'x') + ".UNTERRICHT";
        ASSERT_EQ(longName.size(), length);

        SetzeContext(longName);
        bool ok = true;
        WechseleContextMitTest(longName, ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(HoleAktContext(), "[root]");
        NameList list;
        ListeUnterobjekte(longName, list, 0);
        EXPECT_TRUE(list.empty());
        EXPECT_FALSE(ObjektExistiert(longName));
        EXPECT_EQ(GetBaseClass(longName), "");
        ASSERT_EQ(ports.box.boxes.size(), 2u);
        EXPECT_EQ(ports.box.boxes[0].text, "Fehler -353. NWDSSetContext");
        EXPECT_EQ(ports.box.boxes[1].text, "Fehler -353. NWDSSetContext");

        EXPECT_FALSE(SearchObjects(longName, list, "User"));
        int32_t error = 0;
        GetGroupMembers(longName, list, error);
        EXPECT_EQ(error, -353);
        ASSERT_EQ(ports.box.boxes.size(), 4u);
        EXPECT_EQ(ports.box.boxes[2].text, "Fehler -353. NWDSSearch (SearchObjects)");
        EXPECT_EQ(ports.box.boxes[3].text, "Fehler -353. GetAttributeMultiValueStringList (Member)");

        // Refused before the first change, not after the users before it were changed.
        NameList users{"Gast03.PROJEKTE.UNTERRICHT", longName};
        EXPECT_FALSE(AddMultipleUsersToGroup(users, kDeny));
        ASSERT_EQ(ports.box.boxes.size(), 5u);
        EXPECT_EQ(ports.box.boxes[4].text, "Fehler -353. AddMultipleUsersToGroup ([" + kDeny +
                                               "] Group Membership/Security Eq. of " + longName + ")");
        users = {"Gast01.PROJEKTE.UNTERRICHT", longName};
        EXPECT_FALSE(DeleteMultipleUsersFromGroup(users, longName));
        EXPECT_EQ(ports.box.boxes.size(), 6u);
    }
    expectInGroup("Gast03.PROJEKTE.UNTERRICHT", kDenyFull, false);
    EXPECT_TRUE(faults->requests.empty());
    EXPECT_TRUE(ObjektExistiert("Gast01.PROJEKTE.UNTERRICHT"));
}

TEST_P(BadNames, UnknownNamesAnswerNoSuchEntry) {
    connectDemo(true);
    SetzeContext("[root]");
    NameList users{"Niemand.PROJEKTE.UNTERRICHT"};
    EXPECT_FALSE(AddMultipleUsersToGroup(users, kDeny));
    ASSERT_FALSE(ports.box.boxes.empty());
    EXPECT_EQ(ports.box.boxes.back().text,
              "Fehler -601. AddMultipleUsersToGroup ([" + kDeny + "] Group Membership/Security Eq. of " + users[0] + ")");
    NameList members{"Gast01.PROJEKTE.UNTERRICHT"};
    ports.box.boxes.clear();
    EXPECT_FALSE(DeleteMultipleUsersFromGroup(members, ".Niemand.PROJEKTE.UNTERRICHT"));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -601. GetAttributeMultiValueStringList (Member)");
    EXPECT_TRUE(faults->requests.empty());
}

TEST_P(BadNames, EscapedDotsTravelThroughListingSearchAndMembership) {
    testsupport::useDemoTree(dir);
    treeFile = dir.file("school.tree");
    {
        nw::NWCCODE status = 0;
        auto store = nw::embedded::TreeStore::open(treeFile, status);
        ASSERT_TRUE(store) << status;
        nw::ObjectId pupils = -1, form = -1, user = -1;
        ASSERT_EQ(store->resolveFullName("SCHUELER.UNTERRICHT", pupils), 0);
        ASSERT_EQ(store->addObject(pupils, "Klasse 5.A", "Organizational Unit", form), 0);
        ASSERT_EQ(store->addObject(form, "M.Meier", "User", user), 0);
    }
    if (onLdap()) startServer();  // the export carries the dotted names into DNs
    connect(true, "admin.UNTERRICHT");
    const std::string form = "Klasse 5\\.A.SCHUELER.UNTERRICHT";
    const std::string user = "M\\.Meier." + form;

    NameList list;
    ListeUnterobjekte("SCHUELER.UNTERRICHT", list, 1);
    EXPECT_TRUE(contains(list, "[Organizational Unit] Klasse 5\\.A"));
    list.clear();
    ListeUnterobjekte(form, list, 0);
    EXPECT_EQ(list, NameList{"[User] M\\.Meier"});
    EXPECT_EQ(UebergeordneterContext(user), form);
    EXPECT_EQ(NameMitContext(form, "M\\.Meier"), user);
    EXPECT_EQ(GetBaseClass(user), "User");

    bool ok = false;
    WechseleContextMitTest(form, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(HoleAktContext(), form);
    EXPECT_TRUE(ObjektExistiert("M\\.Meier"));
    EXPECT_FALSE(ObjektExistiert("M.Meier"));  // unescaped: Meier below M

    SetzeContext("[root]");
    NameList users;
    ASSERT_TRUE(SearchObjects(form, users, "User"));
    EXPECT_EQ(users, NameList{user});
    ASSERT_TRUE(AddMultipleUsersToGroup(users, kDeny));
    NameList groups;
    EXPECT_TRUE(GetAttributeMultiValueStringList(layer().context, user, "Group Membership", groups));
    EXPECT_TRUE(contains(groups, kDenyFull));
    groups.clear();
    EXPECT_TRUE(GetAttributeMultiValueStringList(layer().context, user, "Security Equals", groups));
    EXPECT_TRUE(contains(groups, kDenyFull));
    int32_t error = 1;
    GetGroupMembers(kDeny, list, error);
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(contains(list, user));
    users = {user};
    ASSERT_TRUE(DeleteMultipleUsersFromGroup(users, kDeny));
    EXPECT_EQ(users, NameList{user});
    GetGroupMembers(kDeny, list, error);
    EXPECT_FALSE(contains(list, user));
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
}
