// The stop/go job as the window and tarvel-ctl run it: what a selection gathers, what the one
// result says after success, cancel, a failure and a time-out, and that a rerun completes.
#include "../nwapi/layer_fixture.h"
#include "deny/job.h"
#include "deny/members.h"
#include "deny/selection.h"

#include <algorithm>
#include <csignal>
#include <unistd.h>
#include <string>

using namespace nwapi;
using testsupport::kDeny;
using testsupport::kDenyFull;
using testsupport::LayerTest;
using Call = nw::FaultBackend::Call;

namespace {

const std::string kClass = "KLASSE5A.SCHUELER.UNTERRICHT";  // 24 pupils, none denied
const std::string kGast01 = "Gast01.PROJEKTE.UNTERRICHT";    // denied already

}  // namespace

class DenyJob : public LayerTest {
protected:
    NameList pupils() {
        NameList users;
        SetzeContext("[root]");
        EXPECT_TRUE(SearchObjects(kClass, users, "User"));
        EXPECT_EQ(users.size(), 24u);
        return users;
    }
    size_t wholeIn(const NameList& users) {
        size_t n = 0;
        for (const auto& u : users)
            n += holds(kDenyFull, "Member", u) && (!keepsAllPlaces() || (holds(u, "Group Membership", kDenyFull) &&
                                                                         holds(u, "Security Equals", kDenyFull)));
        return n;
    }
    size_t untouched(const NameList& users) {
        size_t n = 0;
        for (const auto& u : users)
            n += !holds(kDenyFull, "Member", u) && !holds(u, "Group Membership", kDenyFull) &&
                 !holds(u, "Security Equals", kDenyFull);  // on AD no user has the last two
        return n;
    }
};
ALL_BACKENDS(DenyJob);

TEST_P(DenyJob, SelectionGathersUsersAndEveryUserBelowContainers) {
    connectDemo();
    // A user, a class (Organizational Unit), a group, and the whole school (the Organization).
    const auto entries = deny::entriesOfNames({kGast01, kClass, "G_Lehrer.LEHRER.UNTERRICHT", "UNTERRICHT"});
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].kind, deny::EntryKind::User);
    EXPECT_EQ(entries[1].kind, deny::EntryKind::Container);
    EXPECT_EQ(entries[2].kind, deny::EntryKind::Other);
    EXPECT_EQ(entries[3].kind, deny::EntryKind::Container);
    NameList school;
    SetzeContext("[root]");
    ASSERT_TRUE(SearchObjects("UNTERRICHT", school, "User"));
    NameList users, skipped;
    EXPECT_TRUE(deny::gatherUsers(entries, users, skipped));
    EXPECT_EQ(skipped, NameList());
    ASSERT_EQ(users.size(), 25u + school.size());
    EXPECT_EQ(users.front(), kGast01);
    // The school's own users, in no unit, come with the Organization.
    EXPECT_EQ(std::count(users.begin(), users.end(), "admin.UNTERRICHT"), 1);
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
}

TEST_F(DenyJob, SearchFailingPartWayGathersNothingToActOn) {
    connectDemo(true);
    faults->failNth(Call::SearchPage, 2, nw::ERR_TRANSPORT_FAILURE);
    NameList users, skipped;
    EXPECT_FALSE(deny::gatherUsers({{"SCHUELER.UNTERRICHT", deny::EntryKind::Container}}, users, skipped));
    EXPECT_EQ(ports.box.boxes.size(), 1u);
}

// Names no change can take, left in a class by older tools or damage, and one typed past the
// limits: the rest of the class is changed, each is named, none is dropped silently.
TEST_F(DenyJob, OddNamesAreNamedAndTheRestOfTheClassIsChanged) {
    connectDemo();
    const std::string klasse = std::to_string(idOf(kClass));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(treeFile.c_str(), &db), SQLITE_OK);
    const std::string insert = "INSERT INTO objects(parent, name, name_key, class, container, mtime) VALUES";
    EXPECT_EQ(sqlite3_exec(db, (insert + "(" + klasse + ", '', '', 'User', 0, 0), (" + klasse +
                                ", 'Evil' || char(0) || 'X', 'evil' || char(0) || 'x', 'User', 0, 0), (" + klasse +
                                ", 'Schuelfr99', 'schueler99', 'User', 0, 0)").c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::string tooLong = std::string(300, 'x') + "." + kClass;
    NameList users, skipped;
    ASSERT_TRUE(deny::gatherUsers({{kClass, deny::EntryKind::Container}, {tooLong, deny::EntryKind::User}}, users,
                                  skipped));
    EXPECT_EQ(users.size(), 24u);
    EXPECT_EQ(skipped, (NameList{"(leer)." + kClass, "Evil\\00X." + kClass, "Schuelfr99." + kClass, tooLong}));
    EXPECT_EQ(ports.box.boxes.size(), 1u) << "the search's own box";
    const auto lines = deny::skippedLines(skipped);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0].find("unvollständig: 4 Einträge"), std::string::npos) << lines[0];

    const deny::JobResult r = deny::runJob(deny::Direction::Stop, users, kDeny);
    EXPECT_TRUE(r.ok()) << r.firstFailure;
    EXPECT_EQ(wholeIn(users), 24u);
}

TEST_P(DenyJob, ResultCountsChangedAndUnchanged) {
    connectDemo();
    NameList users = pupils();
    users.push_back(kGast01);
    users.push_back(users.front());  // a repeated name counts once
    users.push_back(users[1] + deny::throughText("H.UNTERRICHT"));  // so does a deny list's row of it
    std::vector<std::pair<size_t, size_t>> seen;
    SetzeContext(kClass);  // where the operator stands does not change whom the full names name
    deny::JobResult r = deny::runJob(deny::Direction::Stop, users, kDeny,
                                     {[&](size_t done, size_t total) { seen.emplace_back(done, total); }, {}});
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.requested, 25u);
    EXPECT_EQ(r.toChange, 24u);
    EXPECT_EQ(r.changed, 24u);
    EXPECT_EQ(r.unchanged, 1u);
    EXPECT_EQ(r.halfDone, 0u);
    ASSERT_EQ(seen.size(), 25u);
    EXPECT_EQ(seen.front(), std::make_pair(size_t(0), size_t(24)));
    EXPECT_EQ(seen.back(), std::make_pair(size_t(24), size_t(24)));
    EXPECT_EQ(wholeIn(pupils()), 24u);

    const NameList stopped = pupils();
    SetzeContext("PROJEKTE.UNTERRICHT");
    r = deny::runJob(deny::Direction::Go, stopped, kDeny);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.changed, 24u);
    EXPECT_EQ(untouched(pupils()), 24u);
    EXPECT_TRUE(holds(kDenyFull, "Member", kGast01));
}

// A cancel stops between users; whoever got their own side gets the group's side too. On AD it
// stops between the group's requests (of 5 here), and counts those the answered ones carried.
TEST_P(DenyJob, CancelLeavesEveryPupilWholeOrUntouched) {
    adSettings["membervalues"] = "5";
    connectDemo();
    size_t answered = 0;
    deny::JobResult r = deny::runJob(deny::Direction::Stop, pupils(), kDeny,
                                     {[&](size_t done, size_t) { answered = done; }, [&] { return answered >= 5; }});
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.firstFailure, 0);
    EXPECT_GE(r.changed, 5u);
    EXPECT_LT(r.changed, 24u);
    if (!keepsAllPlaces()) {
        EXPECT_EQ(r.changed, 5u);
    }
    EXPECT_EQ(r.halfDone, 0u);
    EXPECT_EQ(wholeIn(pupils()), r.changed);
    EXPECT_EQ(untouched(pupils()), 24u - r.changed);
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();

    r = deny::runJob(deny::Direction::Stop, pupils(), kDeny);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(wholeIn(pupils()), 24u);
}

// A user's request without an answer is unknown: nothing undone, nothing more sent (not even
// the group's side), one box, and a second run completes.
TEST_F(DenyJob, TimeOutSendsNothingMoreAndARerunCompletes) {
    connectDemo(true);
    const NameList users = pupils();
    faults->failNth(Call::Modify, 4, nw::ERR_TIME_OUT);
    deny::JobResult r = deny::runJob(deny::Direction::Stop, users, kDeny);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.firstFailure, nw::ERR_TIME_OUT);
    EXPECT_EQ(r.changed, 0u);
    EXPECT_EQ(r.halfDone, 4u);  // three done on their own side, one unknown
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -659. " + r.failedOperation);
    EXPECT_EQ(faults->calls(Call::Modify), 4);  // nothing after the unanswered request
    EXPECT_FALSE(holds(kDenyFull, "Member", users.front()));

    r = deny::runJob(deny::Direction::Stop, users, kDeny);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(wholeIn(users), 24u);
    EXPECT_EQ(ports.box.boxes.size(), 1u);
}

// A failed group side leaves the users half done, and the result says how many.
TEST_F(DenyJob, FailedGroupSideCountsHalfDone) {
    connectDemo(true);
    const NameList users = pupils();
    faults->failNth(Call::Modify, 25, nw::ERR_NO_ACCESS);
    deny::JobResult r = deny::runJob(deny::Direction::Stop, users, kDeny);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.firstFailure, nw::ERR_NO_ACCESS);
    EXPECT_EQ(r.halfDone, 24u);
    EXPECT_EQ(r.changed, 0u);
    EXPECT_FALSE(r.timedOut);
}

// A server that stops answering in the middle of a stop (SIGSTOP): the unanswered request is
// unknown, so nothing is undone and nothing more is sent; once the server answers again, a second
// run completes every pupil.
class DenyJobOnServer : public DenyJob {};
INSTANTIATE_TEST_SUITE_P(Ldap, DenyJobOnServer, ::testing::Values(testsupport::Backend::Ldap), testsupport::backendName);

TEST_P(DenyJobOnServer, HungServerIsNotUndoneBlindlyAndARerunCompletes) {
    connectDemo(true);
    const NameList users = pupils();
    const pid_t slapd = pid_t(std::stol(testsupport::readFile(server->folder() + "/slapd/slapd.pid")));
    ASSERT_GT(slapd, 0);
    auto allCalls = [&] {
        int n = 0;
        for (int k = int(Call::ServerName); k <= int(Call::EffectiveRights); ++k) n += faults->calls(Call(k));
        return n;
    };
    bool stopped = false;
    int callsWhenStopped = 0;
    faults->onModify([&](int n, nw::ObjectId) {
        if (n == 4 && !stopped) {
            stopped = ldaptest::stopProcess(slapd);
            callsWhenStopped = allCalls();
        }
    });
    deny::JobResult r = deny::runJob(deny::Direction::Stop, users, kDeny);
    const int modifies = faults->calls(Call::Modify);
    const int callsAfter = allCalls();
    kill(slapd, SIGCONT);
    faults->onModify(nullptr);
    ASSERT_TRUE(stopped);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.firstFailure, nw::ERR_TIME_OUT);
    EXPECT_GE(r.halfDone, 1u);
    EXPECT_EQ(modifies, 4);
    EXPECT_LE(callsAfter - callsWhenStopped, 1);  // nothing after the unanswered request
    ASSERT_EQ(ports.box.boxes.size(), 1u);
    EXPECT_EQ(ports.box.boxes[0].text, "Fehler -659. " + r.failedOperation);

    // Pressed again once the server answers: until its answers to the given-up requests arrive,
    // a press sends nothing and fails at once.
    for (int press = 0; press < 200; ++press) {
        ports.box.boxes.clear();
        r = deny::runJob(deny::Direction::Stop, users, kDeny);
        if (r.firstFailure != nw::ERR_TIME_OUT) break;
        usleep(25000);
    }
    EXPECT_TRUE(r.ok()) << r.firstFailure << " " << r.failedOperation;
    EXPECT_TRUE(ports.box.boxes.empty()) << boxTexts().front();
    for (const auto& u : users) expectInGroup(u, kDenyFull, true);
}
