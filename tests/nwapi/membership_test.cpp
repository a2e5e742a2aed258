// Group membership changes on all three sides, with their failures and retries.
#include "layer_fixture.h"
#include "../nwclient/memory_backend.h"
#include "nwclient/client_state.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nwapi;
using testsupport::kDeny;
using testsupport::kDenyFull;
using testsupport::LayerTest;
using Call = nw::FaultBackend::Call;

namespace {

const std::string kGast03 = "Gast03.PROJEKTE.UNTERRICHT";
const std::string kGast04 = "Gast04.PROJEKTE.UNTERRICHT";
const std::string kGast05 = "Gast05.PROJEKTE.UNTERRICHT";
const std::string kLehrer2 = "lehrer2.LEHRER.UNTERRICHT";  // already in G_Lehrer
const std::string kPupilsGroup = ".G_Schueler.SCHUELER.UNTERRICHT";  // no members

std::string addUserText(const std::string& group, const std::string& user) {
    return "Fehler -672. AddMultipleUsersToGroup ([" + group + "] Group Membership/Security Eq. of " + user + ")";
}

}  // namespace

class Membership : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
    }
    void start(bool withFaults = true) {
        connectDemo(withFaults);
        SetzeContext("[root]");
    }
    // "type attribute values" of each change sent for the object, in order.
    std::vector<std::string> changesTo(const std::string& fullName) {
        std::vector<std::string> out;
        nw::ObjectId id = idOf(fullName);
        for (const auto& request : faults->requests) {
            if (request.id != id) continue;
            for (const auto& c : request.changes)
                out.push_back(std::to_string(c.type) + " " + c.attribute + " " + std::to_string(c.values.size()));
        }
        return out;
    }
};
BOTH_BACKENDS(Membership);
// What holds whatever places the directory keeps: these run on AD as well.
class MembershipEverywhere : public Membership {};
ALL_BACKENDS(MembershipEverywhere);

TEST_P(MembershipEverywhere, StopPutsEveryUserInAllThreePlaces) {
    start();
    const size_t buffers = nw::state().buffers.size();
    NameList users{kGast03, kGast04, kLehrer2};
    EXPECT_TRUE(AddMultipleUsersToGroup(users, kDeny));
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    EXPECT_EQ(users, (NameList{kGast03, kGast04, kLehrer2}));
    for (const auto& u : users) expectInGroup(u, kDenyFull, true);
    EXPECT_EQ(changesTo(kDenyFull), std::vector<std::string>{"4 Member 3"});  // the group had members
    // A user with other groups keeps them (the value was added, not the attribute); AD keeps no
    // Group Membership at all.
    EXPECT_EQ(holds(kLehrer2, "Group Membership", "G_Lehrer.LEHRER.UNTERRICHT"), keepsAllPlaces());
    EXPECT_EQ(layer().modifyBuffer, nullptr);
    EXPECT_EQ(nw::state().buffers.size(), buffers) << "every request buffer is given back";

    EXPECT_TRUE(DeleteMultipleUsersFromGroup(users, kDeny));
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    for (const auto& u : users) expectInGroup(u, kDenyFull, false);
    EXPECT_EQ(holds(kLehrer2, "Group Membership", "G_Lehrer.LEHRER.UNTERRICHT"), keepsAllPlaces());
    EXPECT_EQ(changesTo(kDenyFull), (std::vector<std::string>{"4 Member 3", "3 Member 3"}));
    expectInGroup("Gast01.PROJEKTE.UNTERRICHT", kDenyFull, true);  // untouched
    EXPECT_EQ(nw::state().buffers.size(), buffers);
}

TEST_P(MembershipEverywhere, AllAlreadyMembersMeansNothingIsWritten) {
    start();
    NameList users{"gast01.projekte.unterricht", "GAST02.PROJEKTE.UNTERRICHT"};
    EXPECT_TRUE(AddMultipleUsersToGroup(users, kDeny));
    EXPECT_TRUE(users.empty());
    EXPECT_EQ(faults->calls(Call::Modify), 0);
    EXPECT_EQ(faults->calls(Call::AddEquiv), 0);
    EXPECT_TRUE(ports.box.boxes.empty());
}

TEST_P(MembershipEverywhere, RemovingNonMembersWritesNothing) {
    start();
    NameList users{kGast03, "gast01.projekte.unterricht"};
    EXPECT_TRUE(DeleteMultipleUsersFromGroup(users, kDeny));
    EXPECT_EQ(users, NameList{"gast01.projekte.unterricht"});  // only actual members stay
    expectInGroup("Gast01.PROJEKTE.UNTERRICHT", kDenyFull, false);

    NameList none{kGast03};
    int modifies = faults->calls(Call::Modify);
    EXPECT_TRUE(DeleteMultipleUsersFromGroup(none, kPupilsGroup));  // a group without members
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(faults->calls(Call::Modify), modifies);
}

TEST_P(Membership, GroupWithoutMembersGetsTheAttributeAndAUserWithoutGroupsToo) {
    start();
    NameList users{kGast03, kLehrer2};
    EXPECT_TRUE(AddMultipleUsersToGroup(users, kPupilsGroup));
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    for (const auto& u : users) expectInGroup(u, "G_Schueler.SCHUELER.UNTERRICHT", true);
    EXPECT_EQ(changesTo("G_Schueler.SCHUELER.UNTERRICHT"), std::vector<std::string>{"0 Member 2"});
}

// Another tool (or a broken-off run) left the group in the user's own list only: the stop still
// gives the user the equivalence and the group's side, and the one value stays one.
TEST_P(Membership, StopCompletesAUserWhoseGroupMembershipAlreadyNamesTheGroup) {
    start();
    nw::Buf_T* buffer = nullptr;
    ASSERT_EQ(nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &buffer), 0);
    nw::NWDSInitBuf(layer().context, nw::DSV_MODIFY_ENTRY, buffer);
    nw::NWDSPutChange(layer().context, buffer, nw::DS_ADD_ATTRIBUTE, "Group Membership");
    nw::NWDSPutAttrVal(layer().context, buffer, nw::SYN_DIST_NAME, kDeny.c_str());
    int32_t iteration = -1;
    ASSERT_EQ(nw::NWDSModifyObject(layer().context, kGast03.c_str(), &iteration, 0, buffer), 0);
    nw::NWDSFreeBuf(buffer);
    ASSERT_TRUE(holds(kGast03, "Group Membership", kDenyFull));
    ASSERT_FALSE(holds(kGast03, "Security Equals", kDenyFull));

    NameList users{kGast03};
    EXPECT_TRUE(AddMultipleUsersToGroup(users, kDeny));
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    expectInGroup(kGast03, kDenyFull, true);
    EXPECT_EQ(values(kGast03, "Group Membership"), NameList{kDenyFull});
}

// Members that another change left with only some of their places (a repair during a stop took
// their own side) are not "already stopped": pressing again completes each of them.
TEST_P(Membership, StopCompletesMembersThatLackAnyOtherPlace) {
    testsupport::useDemoTree(dir);
    treeFile = dir.file("school.tree");
    struct Case {
        std::string user;
        bool groupMembership, securityEquals, equivalentToMe;
    };
    const std::vector<Case> cases = {
        {"Gast01.PROJEKTE.UNTERRICHT", false, true, true},
        {"Gast02.PROJEKTE.UNTERRICHT", true, false, true},
        {kGast03, false, false, true},
        {kGast04, true, true, false},
    };
    std::string members, equivalents;
    for (const Case& c : cases) {
        members += " " + c.user;
        if (c.equivalentToMe) equivalents += " " + c.user;
        for (const auto& [attribute, on] : {std::pair{"Group Membership", c.groupMembership},
                                            std::pair{"Security Equals", c.securityEquals}})
            ASSERT_EQ(testsupport::runTreeTool("set " + treeFile + " " + c.user + " '" + attribute + "' 1" +
                                               (on ? " " + kDenyFull : "")), 0);
    }
    ASSERT_EQ(testsupport::runTreeTool("set " + treeFile + " " + kDenyFull + " Member 1" + members), 0);
    ASSERT_EQ(testsupport::runTreeTool("set " + treeFile + " " + kDenyFull + " 'Equivalent To Me' 1" + equivalents), 0);
    if (onLdap()) startServer();
    connect(true, "admin.UNTERRICHT");
    SetzeContext("[root]");

    NameList users;
    for (const Case& c : cases) users.push_back(c.user);
    MembershipOutcome outcome;
    EXPECT_TRUE(AddMultipleUsersToGroup(users, kDeny, MembershipProgress{}, &outcome));
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    EXPECT_EQ(outcome.toChange, cases.size());
    for (const Case& c : cases) expectInGroup(c.user, kDenyFull, true);
}

TEST_P(MembershipEverywhere, RepeatedNamesAreChangedOnce) {
    start();
    NameList users{kGast03, "GAST03.projekte.UNTERRICHT", kGast04};
    EXPECT_TRUE(AddMultipleUsersToGroup(users, kDeny));
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    EXPECT_EQ(users, (NameList{kGast03, kGast04}));
    EXPECT_EQ(values(kDenyFull, "Member").size(), 7u);
}

// The user before the failing one is not left half done: it gets the group's side too.
TEST_P(Membership, SecondOfThreeUsersFailsOnItsOwnSide) {
    start();
    faults->failNth(Call::Modify, 2, nw::ERR_NO_ACCESS);
    NameList users{kGast03, kGast04, kGast05};
    MembershipOutcome outcome;
    EXPECT_FALSE(AddMultipleUsersToGroup(users, kDeny, {}, &outcome));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].caption, "NDS-Fehler");
    EXPECT_EQ(ports.box.boxes[0].text, addUserText(kDeny, kGast04));
    expectInGroup(kGast03, kDenyFull, true);
    EXPECT_FALSE(holds(kGast04, "Group Membership", kDenyFull));
    EXPECT_FALSE(holds(kDenyFull, "Member", kGast04));
    expectInGroup(kGast05, kDenyFull, false);
    EXPECT_EQ(outcome.toChange, 3u);
    EXPECT_EQ(outcome.changed, 1u);
    EXPECT_EQ(outcome.halfDone, 0u);
    EXPECT_EQ(outcome.firstFailure, nw::ERR_NO_ACCESS);
    EXPECT_EQ(outcome.failedOperation, ports.box.boxes[0].text.substr(std::string("Fehler -672. ").size()));
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(layer().modifyBuffer, nullptr);

    // The retry completes: the first user's value is not added twice.
    EXPECT_TRUE(AddMultipleUsersToGroup(users, kDeny));
    EXPECT_EQ(ports.box.boxes.size(), 1u);
    for (const auto& u : users) expectInGroup(u, kDenyFull, true);
    EXPECT_EQ(values(kGast03, "Group Membership"), NameList{kDenyFull});
}

TEST_P(Membership, GroupRequestFailsThenARetryCompletes) {
    start();
    faults->failNth(Call::Modify, 3, nw::ERR_TRANSPORT_FAILURE);
    NameList users{kGast03, kGast04};
    EXPECT_FALSE(AddMultipleUsersToGroup(users, kDeny));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text,
              "Fehler -625. AddMultipleUsersToGroup ([" + kGast04 + "] Member/Equivalent To Me of " + kDeny + ")");
    for (const auto& u : users) {
        EXPECT_TRUE(holds(u, "Group Membership", kDenyFull));
        EXPECT_TRUE(holds(u, "Security Equals", kDenyFull));
        EXPECT_FALSE(holds(kDenyFull, "Member", u));
    }
    EXPECT_TRUE(AddMultipleUsersToGroup(users, kDeny));
    EXPECT_EQ(ports.box.boxes.size(), 1u) << boxTexts().back();
    for (const auto& u : users) expectInGroup(u, kDenyFull, true);
}

TEST_P(Membership, DeleteTextsAndGoRetryWhereTheUserSideIsAlreadyGone) {
    start();
    // Gast01's own side lost the value (as other tools leave it); Gast02 is whole.
    NameList gone;
    nw::Buf_T* buffer = nullptr;
    ASSERT_EQ(nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &buffer), 0);
    nw::NWDSInitBuf(layer().context, nw::DSV_MODIFY_ENTRY, buffer);
    nw::NWDSPutChange(layer().context, buffer, nw::DS_REMOVE_VALUE, "Group Membership");
    nw::NWDSPutAttrVal(layer().context, buffer, nw::SYN_DIST_NAME, kDeny.c_str());
    int32_t iteration = -1;
    ASSERT_EQ(nw::NWDSModifyObject(layer().context, "Gast01.PROJEKTE.UNTERRICHT", &iteration, 0, buffer), 0);
    nw::NWDSFreeBuf(buffer);
    ASSERT_EQ(nw::NWDSRemSecurityEquiv(layer().context, "Gast01.PROJEKTE.UNTERRICHT", kDeny.c_str()), 0);

    faults->failNth(Call::Modify, 4, nw::ERR_NO_ACCESS);  // after the two users and this call's own
    NameList users{"Gast01.PROJEKTE.UNTERRICHT", "Gast02.PROJEKTE.UNTERRICHT"};
    EXPECT_FALSE(DeleteMultipleUsersFromGroup(users, kDeny));
    ASSERT_EQ(ports.box.boxes.size(), 1u) << boxTexts().front();
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -672.  DeleteMultipleUsersFromGroup ([Gast02.PROJEKTE.UNTERRICHT]Member/Equivalent To Me of " +
                                           kDeny + ")");
    EXPECT_TRUE(DeleteMultipleUsersFromGroup(users, kDeny));
    EXPECT_EQ(ports.box.boxes.size(), 1u) << boxTexts().back();
    for (const auto& u : users) expectInGroup(u, kDenyFull, false);
}

TEST_P(Membership, UserSideFailureOnGoNamesTheUser) {
    start();
    faults->failNth(Call::Modify, 1, nw::ERR_NO_ACCESS);
    NameList users{"Gast02.PROJEKTE.UNTERRICHT"};
    EXPECT_FALSE(DeleteMultipleUsersFromGroup(users, kDeny));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -672. DeleteMultipleUsersFromGroup ([" + kDeny +
                                           "] Group Membership/Security Eq. of Gast02.PROJEKTE.UNTERRICHT)");
    EXPECT_TRUE(holds(kDenyFull, "Member", "Gast02.PROJEKTE.UNTERRICHT"));
}

TEST_P(Membership, FailedSecurityEquivalenceIsReportedAndStopsTheRun) {
    start();
    faults->failNth(Call::AddEquiv, 2, nw::ERR_NO_ACCESS);
    NameList users{kGast03, kGast04, kGast05};
    EXPECT_FALSE(AddMultipleUsersToGroup(users, kDeny));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, addUserText(kDeny, kGast04));
    expectInGroup(kGast03, kDenyFull, true);
    EXPECT_FALSE(holds(kDenyFull, "Member", kGast04));
    expectInGroup(kGast05, kDenyFull, false);

    faults->failNth(Call::RemoveEquiv, 1, nw::ERR_NO_ACCESS);
    NameList members{"Gast01.PROJEKTE.UNTERRICHT"};
    EXPECT_FALSE(DeleteMultipleUsersFromGroup(members, kDeny));
    ASSERT_EQ(ports.box.boxes.size(), 2u);
    EXPECT_EQ(ports.box.boxes[1].text, "Fehler -672. DeleteMultipleUsersFromGroup ([" + kDeny +
                                           "] Group Membership/Security Eq. of Gast01.PROJEKTE.UNTERRICHT)");
}

TEST_P(MembershipEverywhere, UnreadableGroupChangesNothing) {
    start();
    NameList users{kGast03};
    EXPECT_FALSE(AddMultipleUsersToGroup(users, ".NIRGENDS.PROJEKTE.UNTERRICHT"));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -601. GetAttributeMultiValueStringList (Member)");
    EXPECT_EQ(faults->calls(Call::Modify), 0);
    EXPECT_EQ(faults->calls(Call::AddEquiv), 0);
}

TEST_P(Membership, NameTooLongForTheStagingBufferIsRefusedNotCut) {
    start();
    std::string longName = std::string(1100, 'x') + ".PROJEKTE.UNTERRICHT";
    NameList users{kGast03, longName};
    EXPECT_FALSE(AddMultipleUsersToGroup(users, kDeny));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -353. AddMultipleUsersToGroup ([" + kDeny +
                                           "] Group Membership/Security Eq. of " + longName + ")");
    EXPECT_EQ(faults->calls(Call::Modify), 0);  // refused before anything changed
    EXPECT_FALSE(holds(kGast03, "Group Membership", kDenyFull));
}

TEST_P(MembershipEverywhere, TeacherWithoutRightsGetsNoAccess) {
    connectDemo(false, "lehrer1.LEHRER.UNTERRICHT");
    SetzeContext("[root]");
    NameList users{kGast03};
    EXPECT_FALSE(AddMultipleUsersToGroup(users, kDeny));
    ASSERT_FALSE(ports.box.boxes.empty());
    // Without a user side (AD) the group's member is what is refused.
    EXPECT_EQ(ports.box.boxes.back().text, keepsAllPlaces() ? addUserText(kDeny, kGast03)
                                                            : "Fehler -672. AddMultipleUsersToGroup ([" + kGast03 + "] Member of " + kDeny + ")");
    EXPECT_EQ(GetLastNDSError(), -672);
    EXPECT_FALSE(holds(kDenyFull, "Member", kGast03));
}

TEST_P(Membership, TeacherStopsAndGoesForTheClassesItMayChange) {
    connectDemo(false, "lehrer1.LEHRER.UNTERRICHT");
    SetzeContext("[root]");
    NameList users;
    ASSERT_TRUE(SearchObjects("KLASSE5A.SCHUELER.UNTERRICHT", users, "User"));
    ASSERT_EQ(users.size(), 24u);
    NameList stop = users;
    EXPECT_TRUE(AddMultipleUsersToGroup(stop, kDeny));
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    for (const auto& u : users) expectInGroup(u, kDenyFull, true);
    NameList go = users;
    EXPECT_TRUE(DeleteMultipleUsersFromGroup(go, kDeny));
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    for (const auto& u : users) expectInGroup(u, kDenyFull, false);
}

TEST_P(Membership, GroupSideGoesInRequestsOfFiveHundredNamesAndAGoStartsAtTheBack) {
    connectGenerated(1200, 2, 0, true);
    SetzeContext("[root]");
    NameList users;
    ASSERT_TRUE(SearchObjects("SCHUELER.UNTERRICHT", users, "User"));
    ASSERT_EQ(users.size(), 1200u);
    NameList stop = users;
    // The progress (users done, requests sent so far) goes on between the group's requests: a
    // window keeps painting while the group is written.
    std::vector<std::pair<size_t, int>> progress;
    const MembershipProgress record{[&](size_t done, size_t) { progress.emplace_back(done, faults->calls(Call::Modify)); }, {}};
    EXPECT_TRUE(AddMultipleUsersToGroup(stop, kDeny, record));
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    // One request per user, then the group's 1,200 values in three of at most 500 (not in
    // 4096-byte pieces: each request on the group makes the server write all of it again).
    EXPECT_EQ(faults->calls(Call::Modify), 1200 + 3);
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(std::vector(progress.end() - 3, progress.end()),
              (std::vector<std::pair<size_t, int>>{{1200, 1200}, {1200, 1201}, {1200, 1202}}));
    EXPECT_EQ(values(kDenyFull, "Member").size(), 1200u);
    expectInGroup(users.back(), kDenyFull, true);

    // The second group request fails: reported with the group-side text, the retry mends it.
    // A go starts at the back: the last 200 are gone, the 500 before them failed.
    NameList go = users;
    faults->failNth(Call::Modify, faults->calls(Call::Modify) + 1200 + 2, nw::ERR_TRANSPORT_FAILURE);
    EXPECT_FALSE(DeleteMultipleUsersFromGroup(go, kDeny));
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text.rfind("Fehler -625.  DeleteMultipleUsersFromGroup ([" + users[999] + "]", 0), 0u)
        << ports.box.boxes[0].text;
    size_t left = values(kDenyFull, "Member").size();
    EXPECT_EQ(left, 1000u);
    EXPECT_FALSE(holds(kDenyFull, "Member", users[1000]));
    EXPECT_TRUE(holds(kDenyFull, "Member", users[999]));
    go = users;
    EXPECT_TRUE(DeleteMultipleUsersFromGroup(go, kDeny));
    EXPECT_EQ(go.size(), left);
    EXPECT_TRUE(values(kDenyFull, "Member").empty());
    expectInGroup(users.front(), kDenyFull, false);
}

TEST_P(Membership, StopKilledPartWayLeavesWholeRequestsAndASecondStopCompletes) {
    startDemo();
    const std::string form = "KLASSE5A.SCHUELER.UNTERRICHT";  // 24 users, none denied yet
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        connect(true, "admin.UNTERRICHT");
        faults->onModify([](int n, nw::ObjectId) {
            if (n == 20) _exit(9);
        });
        SetzeContext("[root]");
        NameList users;
        SearchObjects(form, users, "User");
        AddMultipleUsersToGroup(users, kDeny);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 9);

    connect(false, "admin.UNTERRICHT");
    SetzeContext("[root]");
    NameList users;
    ASSERT_TRUE(SearchObjects(form, users, "User"));
    ASSERT_EQ(users.size(), 24u);
    size_t changed = 0;
    for (const auto& u : users) changed += holds(u, "Group Membership", kDenyFull);
    EXPECT_EQ(changed, 19u);  // the requests before the kill, each whole
    EXPECT_EQ(values(kDenyFull, "Member").size(), 5u);  // the group side comes last

    NameList stop = users;
    EXPECT_TRUE(AddMultipleUsersToGroup(stop, kDeny));
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    for (const auto& u : users) expectInGroup(u, kDenyFull, true);
}

// Teachers pressing at the same moment: four processes, each with its own connection, stop four
// classes on an empty deny group, all sending their group side at the same moment (so each read
// the group empty and the first value of another comes in between); then all four go everyone
// at once (so the Member values they remove are gone meanwhile). Every change succeeds and every
// pupil is whole in all places.
TEST_P(Membership, FourTeachersAtTheSameMoment) {
    const std::vector<std::string> classes = {"KLASSE5A.SCHUELER.UNTERRICHT", "KLASSE5B.SCHUELER.UNTERRICHT",
                                              "KLASSE6A.SCHUELER.UNTERRICHT", "LEHRER.UNTERRICHT"};
    startDemo();
    connect(true, "admin.UNTERRICHT");
    SetzeContext("[root]");
    NameList everyone;
    for (const auto& c : classes) ASSERT_TRUE(SearchObjects(c, everyone, "User"));
    ASSERT_GT(everyone.size(), 72u);
    NameList denied = values(kDenyFull, "Member");
    ASSERT_TRUE(DeleteMultipleUsersFromGroup(denied, kDeny));
    ASSERT_TRUE(values(kDenyFull, "Member").empty());
    DoneNWConnection();
    nw::resetClient();
    resetLayerForTesting();

    auto allAtOnce = [&](bool stop) {
        int arrived[2], go[2];
        ASSERT_EQ(pipe(arrived), 0);
        ASSERT_EQ(pipe(go), 0);
        std::vector<pid_t> children;
        for (size_t k = 0; k < classes.size(); ++k) {
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                connect(true, "admin.UNTERRICHT");
                if (!faults) _exit(3);
                const nw::ObjectId group = idOf(kDenyFull);
                bool waited = false;
                // Hold the group's first request until every teacher has reached its own.
                faults->onModify([&](int, nw::ObjectId id) {
                    if (id != group || waited) return;
                    waited = true;
                    char c = 'x';
                    if (write(arrived[1], &c, 1) != 1 || read(go[0], &c, 1) != 1) _exit(4);
                });
                SetzeContext("[root]");
                NameList users;
                if (stop) {
                    if (!SearchObjects(classes[k], users, "User")) _exit(5);
                } else {
                    users = everyone;
                }
                const bool ok = stop ? AddMultipleUsersToGroup(users, kDeny) : DeleteMultipleUsersFromGroup(users, kDeny);
                if (!waited) { char c = 'x'; if (write(arrived[1], &c, 1) != 1) _exit(4); }
                _exit(ok && ports.box.boxes.empty() ? 0 : 1);
            }
            children.push_back(child);
        }
        // Everyone at the group's door (or finished without one), then all in.
        for (size_t k = 0; k < classes.size(); ++k) {
            pollfd p{arrived[0], POLLIN, 0};
            if (poll(&p, 1, 60000) <= 0) break;
            char c;
            ASSERT_EQ(read(arrived[0], &c, 1), 1);
        }
        const std::string open(classes.size(), 'g');
        ASSERT_EQ(write(go[1], open.data(), open.size()), ssize_t(open.size()));
        for (pid_t child : children) {
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 0) << (stop ? "stop" : "go");
        }
        for (int fd : {arrived[0], arrived[1], go[0], go[1]}) close(fd);
    };

    allAtOnce(true);
    connect(true, "admin.UNTERRICHT");
    SetzeContext("[root]");
    EXPECT_EQ(values(kDenyFull, "Member").size(), everyone.size());
    for (const auto& u : everyone) expectInGroup(u, kDenyFull, true);
    DoneNWConnection();
    nw::resetClient();
    resetLayerForTesting();

    allAtOnce(false);
    connect(true, "admin.UNTERRICHT");
    SetzeContext("[root]");
    EXPECT_TRUE(values(kDenyFull, "Member").empty());
    for (const auto& u : everyone) expectInGroup(u, kDenyFull, false);
}

// The pre-checks compare as the operator's locale does: umlauts ignore case, accents count.
TEST_F(LayerTest, PreChecksIgnoreTheCaseOfUmlautsButNotAccents) {
    auto backend = std::make_unique<testsupport::MemoryBackend>();
    testsupport::MemoryBackend* tree = backend.get();
    nw::ObjectId org = tree->add(nw::ROOT_ID, "ORG", "Organization", true);
    nw::ObjectId group = tree->add(org, "G", "Group");
    nw::ObjectId joerg = tree->add(org, "Jörg", "User");
    tree->add(org, "Jorg", "User");
    for (const char* place : {"Member", "Equivalent To Me"}) tree->set(group, place, nw::SYN_DIST_NAME, {tree->text("Jörg.ORG")});
    for (const char* place : {"Group Membership", "Security Equals"}) tree->set(joerg, place, nw::SYN_DIST_NAME, {tree->text("G.ORG")});
    nw::installBackend(std::move(backend));
    bool ok = false;
    InitNWConnection(ok);
    ASSERT_TRUE(ok);

    NameList users{"JÖRG.org"};
    EXPECT_TRUE(AddMultipleUsersToGroup(users, ".G.ORG"));
    EXPECT_TRUE(users.empty());
    NameList others{"Jorg.ORG"};
    EXPECT_TRUE(DeleteMultipleUsersFromGroup(others, ".G.ORG"));
    EXPECT_TRUE(others.empty());
    EXPECT_EQ(tree->modifyCalls, 0);
    EXPECT_TRUE(ports.box.boxes.empty());
}
