// The desk on the demo school: teachers' sessions run the real deny job in this process, bound
// as their own account (the process's one connection is bound again when the other teacher
// acts). What the holds say and who is in the deny group must agree after every step.
#include "../nwapi/layer_fixture.h"
#include "deny/holds.h"
#include "deny/job.h"
#include "deny/members.h"
#include "deny/schedule.h"
#include "deny/selection.h"
#include "web/desk.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <unordered_set>

using testsupport::kDeny;
using testsupport::kDenyFull;
using text::NameList;

namespace {

const std::string kTeacher = "lehrer1.LEHRER.UNTERRICHT";  // may change KLASSE5A and KLASSE5B only
const std::string kAdmin = "admin.UNTERRICHT";
const std::string kOtherClass = "KLASSE6A.SCHUELER.UNTERRICHT";

class DeskTest : public testsupport::LayerTest {
public:
    std::string bound;
    std::function<void()> beforeNextChange;  // run once, inside the next change, before its job
    std::vector<platform::RecordedBox>& boxes() { return ports.box.boxes; }

    // Binds the process's connection as op unless it is already.
    void bindAs(const std::string& op) {
        if (bound == op) return;
        nwapi::DoneNWConnection();
        nw::resetClient();
        nwapi::resetLayerForTesting();
        testsupport::writeClientConfig(dir.path(), treeFile, op);
        bool ok = false;
        nwapi::InitNWConnection(ok);
        ASSERT_TRUE(ok) << op;
        bound = op;
    }

    // A fresh demo school bound as the administrator, a fresh state folder and its desk; p gets
    // two pupils of KLASSE5A and one of a class the teacher may not change.
    std::unique_ptr<testsupport::TempDir> school, state;
    std::unique_ptr<deny::HoldStore> store;
    std::unique_ptr<web::Desk> desk;
    NameList p;
    void freshSchool() {
        desk.reset(), store.reset(), state.reset();
        school = std::make_unique<testsupport::TempDir>();
        state = std::make_unique<testsupport::TempDir>();
        testsupport::useDemoTree(*school);
        treeFile = school->file("school.tree");
        bound.clear();
        bindAs(kAdmin);
        p.clear();
        nwapi::SetzeContext("[root]");
        ASSERT_TRUE(nwapi::SearchObjects("KLASSE5A.SCHUELER.UNTERRICHT", p, "User"));
        p.resize(2);
        ASSERT_TRUE(nwapi::SearchObjects(kOtherClass, p, "User"));
        p.resize(3);
        std::string error;
        store = deny::HoldStore::open(state->path(), error);
        ASSERT_TRUE(store) << error;
        desk = std::make_unique<web::Desk>(*store, "SCHULSERVER", kDeny);
    }
};

// A teacher's worker, run in this process.
class InProcessSession : public web::DirectorySession {
public:
    InProcessSession(DeskTest& test, std::string op) : test_(test), op_(std::move(op)) {}
    std::string operatorName() const override { return op_; }

    web::GatherResult gather(const NameList& names) override {
        test_.bindAs(op_);
        const size_t before = test_.boxes().size();
        web::GatherResult r;
        r.ok = deny::gatherUsers(deny::entriesOfNames(names), r.users, r.skipped);
        r.boxes = boxesSince(before);
        return r;
    }

    web::ChangeResult change(deny::Direction direction, const NameList& users, const deny::ProgressFn& progress) override {
        if (auto hook = std::exchange(test_.beforeNextChange, {})) hook();
        test_.bindAs(op_);
        const size_t before = test_.boxes().size();
        web::ChangeResult r;
        deny::JobOptions options;
        options.progress = progress;
        options.keepPendingGos = true;  // the service keeps no plan of its own beside the holds
        r.job = deny::runJob(direction, users, kDeny, options);
        NameList members;
        r.inGroupKnown = deny::readMembers(kDeny, members);
        std::unordered_set<std::string> in;
        for (const auto& m : members) in.insert(deny::scheduleKey(m));
        for (const auto& u : users)
            if (in.count(deny::scheduleKey(u))) r.inGroup.push_back(u);
        r.boxes = boxesSince(before);
        return r;
    }

private:
    std::vector<web::Box> boxesSince(size_t before) {
        std::vector<web::Box> out;
        for (size_t i = before; i < test_.boxes().size(); ++i)
            out.push_back({test_.boxes()[i].caption, test_.boxes()[i].text});
        return out;
    }
    DeskTest& test_;
    std::string op_;
};

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

}  // namespace

// Two pupils of KLASSE5A (P0, P1), the teacher and the administrator as a second teacher, the
// service bound as the administrator. Each row starts from a fresh school with P0 and P1 free.
TEST_F(DeskTest, HoldsOfSeveralTeachersDecideWhenAPupilIsFree) {
    struct World {
        DeskTest& t;
        web::Desk& desk;
        InProcessSession teacher, other, service;  // the service is bound as the administrator
        NameList p;
        std::time_t now;
    };
    struct Case {
        const char* name;
        std::function<web::DeskResult(World&)> run;  // the last step's result is checked
        std::vector<bool> stopped;                   // P0, P1, P2 afterwards
        size_t holdsLeft;
        std::vector<std::string> said;               // in the last result's lines
        bool ok;
    };
    const std::vector<Case> cases = {
        {"a stop for good survives another teacher's release",
         [](World& w) {
             EXPECT_TRUE(w.desk.stop(w.teacher, {w.p[0]}, 0).ok);
             EXPECT_TRUE(w.desk.stop(w.other, {w.p[0], w.p[1]}, w.now + 3600).ok);
             web::DeskResult r = w.desk.release(w.other, {w.p[0], w.p[1]});
             EXPECT_EQ(r.stillHeld, NameList{w.p[0]});
             EXPECT_EQ(r.ended.size(), 2u);
             return r;
         },
         {true, false, false}, 1, {": bleibt gesperrt (Sperre von lehrer1.LEHRER.UNTERRICHT)"}, true},
        {"a release frees once no hold is left",
         [](World& w) {
             EXPECT_TRUE(w.desk.stop(w.teacher, {w.p[0]}, 0).ok);
             EXPECT_TRUE(w.desk.stop(w.other, {w.p[0]}, 0).ok);
             EXPECT_TRUE(w.desk.release(w.teacher, {w.p[0]}).ok);
             return w.desk.release(w.other, {w.p[0]});
         },
         {false, false, false}, 0, {}, true},
        {"Internet an ends every hold and names the holders",
         [](World& w) {
             EXPECT_TRUE(w.desk.stop(w.teacher, {w.p[0], w.p[1]}, 0).ok);
             EXPECT_TRUE(w.desk.stop(w.other, {w.p[0]}, w.now + 3600).ok);
             return w.desk.go(w.other, {w.p[0]});
         },
         {false, true, false}, 1,
         {": Sperre von lehrer1.LEHRER.UNTERRICHT bis auf Weiteres aufgehoben", ": Sperre von admin.UNTERRICHT bis "},
         true},
        {"due frees a pupil whose only hold has ended, not one another still holds",
         [](World& w) {
             EXPECT_TRUE(w.desk.stop(w.teacher, {w.p[0], w.p[1]}, w.now + 60).ok);
             EXPECT_TRUE(w.desk.stop(w.other, {w.p[0]}, 0).ok);
             EXPECT_TRUE(w.desk.due(w.service, w.now + 30).lines.empty()) << "nothing due yet";
             return w.desk.due(w.service, w.now + 60);
         },
         {true, false, false}, 1, {"1 von 1 Benutzern freigegeben"}, true},
        {"a hold arriving while due frees the pupil: stopped again",
         [](World& w) {
             EXPECT_TRUE(w.desk.stop(w.teacher, {w.p[0]}, w.now + 60).ok);
             w.t.beforeNextChange = [&w] { EXPECT_TRUE(w.desk.stop(w.other, {w.p[0]}, 0).ok); };
             return w.desk.due(w.service, w.now + 60);
         },
         {true, false, false}, 1, {": wieder gesperrt (neue Sperre während der Freigabe)"}, true},
        {"a refused stop keeps no hold",
         [](World& w) { return w.desk.stop(w.teacher, {w.p[0], w.p[2]}, 0); },
         {true, false, false}, 1, {}, false},
        {"a refused go leaves the holds as they were",
         [](World& w) {
             EXPECT_TRUE(w.desk.stop(w.other, {w.p[2]}, w.now + 60).ok);
             return w.desk.go(w.teacher, {w.p[2]});
         },
         {false, false, true}, 1, {"1 Benutzer bleibt gesperrt"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshSchool();
        World w{*this, *desk, {*this, kTeacher}, {*this, kAdmin}, {*this, kAdmin}, p, std::time(nullptr)};
        const web::DeskResult r = c.run(w);
        EXPECT_EQ(r.ok, c.ok) << joined(r.lines) << r.stateError;
        for (const std::string& s : c.said) EXPECT_NE(joined(r.lines).find(s), std::string::npos) << s << " in\n" << joined(r.lines);
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(holds(kDenyFull, "Member", p[i]), c.stopped[i]) << p[i];
        // Every stopped pupil of the three has a hold, and every hold is on a stopped pupil.
        std::vector<deny::Hold> left;
        std::string error;
        ASSERT_TRUE(store->all(left, error)) << error;
        EXPECT_EQ(left.size(), c.holdsLeft);
        for (const deny::Hold& h : left) EXPECT_TRUE(holds(kDenyFull, "Member", h.user)) << h.user;
    }
}

// The hold store failing: nothing in the directory is touched, and the result says why.
TEST_F(DeskTest, AFailingStoreChangesNothing) {
    freshSchool();
    InProcessSession teacher(*this, kAdmin);
    ASSERT_TRUE(desk->stop(teacher, {p[0]}, 0).ok);
    testsupport::writeFile(state->file("holds"), "damaged\n");
    const std::vector<std::function<web::DeskResult()>> calls = {
        [&] { return desk->stop(teacher, {p[1]}, 0); }, [&] { return desk->release(teacher, {p[0]}); },
        [&] { return desk->go(teacher, {p[0]}); }, [&] { return desk->due(teacher, std::time(nullptr) + 86400); }};
    for (size_t i = 0; i < calls.size(); ++i) {
        const web::DeskResult r = calls[i]();
        EXPECT_FALSE(r.ok) << i;
        EXPECT_NE(r.stateError.find("Die Liste der Sperren kann nicht gelesen werden:"), std::string::npos) << r.stateError;
        EXPECT_TRUE(holds(kDenyFull, "Member", p[0])) << i;
        EXPECT_FALSE(holds(kDenyFull, "Member", p[1])) << i;
    }
}

// Changes of one tree file take turns: never more than two at once, none left waiting after the
// others ended, and one whose patience ran out behind stuck changes goes ahead instead of hanging.
TEST(ChangeQueueTest, TwoAtATimeAndNoneHangs) {
    web::ChangeQueue queue(std::chrono::hours(1), 2);
    std::atomic<int> inside{0}, done{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::thread> teachers;
    for (int i = 0; i < 8; ++i)
        teachers.emplace_back([&] {
            for (int round = 0; round < 20; ++round) {
                const web::ChangeQueue::Turn turn(&queue);
                if (++inside > 2) overlapped = true;
                std::this_thread::yield();
                --inside;
            }
            ++done;
        });
    for (std::thread& t : teachers) t.join();
    EXPECT_EQ(done, 8);
    EXPECT_FALSE(overlapped);

    web::ChangeQueue impatient(std::chrono::milliseconds(50), 2);
    auto stuck = std::make_unique<web::ChangeQueue::Turn>(&impatient);
    auto stuckToo = std::make_unique<web::ChangeQueue::Turn>(&impatient);
    { const web::ChangeQueue::Turn outOfTurn(&impatient); }  // returns after its patience
    stuck.reset();
    stuckToo.reset();
    { const web::ChangeQueue::Turn next(&impatient); }  // the queue is free again
}
