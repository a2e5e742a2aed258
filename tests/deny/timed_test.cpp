// A timed stop or due, and another operator's stop without a time of one of the same pupils: the
// hook of the schedule runs the other stop's three steps (end the go's, change, end them again)
// at every point between the job's steps, in every order, and the pupil stopped for good must
// never be freed by the timed stop's go, while the pupil only stopped for a time is.
#include "../nwapi/layer_fixture.h"
#include "deny/job.h"
#include "deny/schedule.h"
#include "deny/timed.h"

#include <filesystem>
#include <functional>

using testsupport::kDeny;
using testsupport::kDenyFull;

namespace {

const std::string kForGood = "Gast03.PROJEKTE.UNTERRICHT";  // the other operator stops this one
const std::string kForATime = "Gast04.PROJEKTE.UNTERRICHT";

class TimedRace : public testsupport::LayerTest {
protected:
    void TearDown() override {
        deny::setSchedulePointHook({});
        LayerTest::TearDown();
    }
    bool stopped(const std::string& user) { return holds(kDenyFull, "Member", user); }
    deny::JobResult quietly(deny::Direction direction, const text::NameList& users) {
        deny::JobOptions options;
        options.keepPendingGos = true;
        return deny::runJob(direction, users, kDeny, options);
    }
    // Both users free, nothing planned.
    void reset() {
        quietly(deny::Direction::Go, {kForGood, kForATime});
        std::filesystem::remove(dir.file("tarvel-schedule"));
    }
    // Both stopped by a timed stop whose go is due.
    void stopBothForATime(std::time_t due) {
        std::string error;
        ASSERT_TRUE(quietly(deny::Direction::Stop, {kForGood, kForATime}).ok());
        ASSERT_TRUE(deny::updateSchedule(dir.file("tarvel-schedule"), [&](std::vector<deny::PendingGo>& entries) {
            entries = {{due, kDeny, kForGood}, {due, kDeny, kForATime}};
            return true;
        }, error)) << error;
    }
    // The other operator's stop without a time, in its three steps.
    std::vector<std::function<void()>> stopForGoodSteps() {
        auto endGos = [this] {
            std::string error;
            EXPECT_TRUE(deny::cancelPendingGos(deny::Direction::Stop, {kForGood}, kDeny, error)) << error;
        };
        return {endGos, [this] { EXPECT_TRUE(quietly(deny::Direction::Stop, {kForGood}).ok()); }, endGos};
    }
    // Runs job; step i runs at the at[i]-th point named with prefix (0: before the job; a point
    // beyond the last: after it). The number of points passed.
    int interleave(const std::string& prefix, const std::vector<int>& at, const std::function<void()>& job) {
        const auto steps = stopForGoodSteps();
        size_t next = 0;
        int point = 0;
        bool inside = false;
        auto runUpTo = [&](int limit) {
            inside = true;
            for (; next < steps.size() && at[next] <= limit; ++next) steps[next]();
            inside = false;
        };
        deny::setSchedulePointHook([&](const std::string& name) {
            if (!inside && name.rfind(prefix, 0) == 0) runUpTo(++point);
        });
        runUpTo(0);
        job();
        deny::setSchedulePointHook({});
        runUpTo(1 << 20);
        return point;
    }
    void expectForGoodStaysStopped(std::time_t now) {
        const deny::DueResult last = deny::runDue(kDeny, now);
        EXPECT_TRUE(last.planOk) << last.error;
        EXPECT_TRUE(stopped(kForGood));
        EXPECT_FALSE(stopped(kForATime));
    }
};

// Every placement of the three steps (in their order) over the gaps 0..gaps.
std::vector<std::vector<int>> placements(int gaps) {
    std::vector<std::vector<int>> out;
    for (int a = 0; a <= gaps; ++a)
        for (int b = a; b <= gaps; ++b)
            for (int c = b; c <= gaps; ++c) out.push_back({a, b, c});
    return out;
}

std::string traceOf(const std::vector<int>& at) {
    return "steps at points " + std::to_string(at[0]) + ", " + std::to_string(at[1]) + ", " + std::to_string(at[2]);
}

}  // namespace

TEST_F(TimedRace, ATimedStopPlansNoGoForAUserStoppedForGoodBeforeDuringOrAfterIt) {
    connectDemo();
    const std::time_t due = std::time(nullptr) + 3600;
    for (const std::vector<int>& at : placements(5)) {
        SCOPED_TRACE(traceOf(at));
        reset();
        deny::TimedStopResult r;
        const int points = interleave("timed stop:", at, [&] { r = deny::runTimedStop({kForGood, kForATime}, kDeny, due); });
        EXPECT_EQ(points, 4);
        EXPECT_TRUE(r.planned) << r.error;
        expectForGoodStaysStopped(due);
    }
}

TEST_F(TimedRace, DueNeverFreesAUserStoppedForGoodWhileItRuns) {
    connectDemo();
    const std::time_t now = std::time(nullptr);
    for (const std::vector<int>& at : placements(6)) {
        SCOPED_TRACE(traceOf(at));
        reset();
        stopBothForATime(now - 60);
        deny::DueResult d;
        const int points = interleave("due:", at, [&] { d = deny::runDue(kDeny, now); });
        EXPECT_GE(points, 4);
        EXPECT_TRUE(d.planOk) << d.error;
        EXPECT_TRUE(stopped(kForGood));
        expectForGoodStaysStopped(now);
    }
}

// The other way round: the whole timed stop or due runs inside the stop without a time.
TEST_F(TimedRace, AStopWithoutTimeEndsGosBeforeAndAfterItsChange) {
    connectDemo();
    const std::time_t now = std::time(nullptr);
    for (const bool inner : {true, false}) {  // true: a timed stop, false: due
        for (const char* point : {"job: pending go's ended", "job: changed"}) {
            SCOPED_TRACE(std::string(inner ? "timed stop" : "due") + " at " + point);
            reset();
            if (!inner) stopBothForATime(now - 60);
            bool ran = false;
            deny::setSchedulePointHook([&](const std::string& name) {
                if (name != point || ran) return;
                ran = true;
                if (inner) EXPECT_TRUE(deny::runTimedStop({kForGood, kForATime}, kDeny, now).planned);
                else EXPECT_TRUE(deny::runDue(kDeny, now).planOk);
            });
            const deny::JobResult stop = deny::runJob(deny::Direction::Stop, {kForGood}, kDeny);
            deny::setSchedulePointHook({});
            EXPECT_TRUE(ran);
            EXPECT_TRUE(stop.ok() && !stop.pendingGosKept);
            expectForGoodStaysStopped(now);
        }
    }
}
