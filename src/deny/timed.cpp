#include "deny/timed.h"

#include "deny/members.h"

#include "deny/schedule.h"
#include "nwapi/nwapi.h"

#include <cerrno>
#include <cstdio>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace deny {

namespace {

using State = PendingGo::State;
using KeySet = std::set<std::string>;

constexpr std::time_t StaleIntentAge = 24 * 3600;  // far beyond any timed stop's run

bool readMemberKeys(const std::string& group, KeySet& keys) {
    text::NameList members;
    if (!deny::readMembers(group, members)) return false;
    keys.clear();
    for (const std::string& m : members) keys.insert(scheduleKey(m));
    return true;
}

std::string newToken() {
    std::random_device random;
    char token[48];
    std::snprintf(token, sizeof token, "%ld-%08x%08x", long(::getpid()), unsigned(random()), unsigned(random()));
    return token;
}

// Turns the own intents of the users in planning into planned go's and drops the rest of them;
// a planned user's other entries give way (one being freed by due is stopped again there).
// A user with a stop-again entry was stopped for good: no go.
bool confirmIntents(const std::string& path, const std::string& group, const std::string& token,
                    const KeySet& candidates, TimedStopResult& r) {
    const std::string groupKey = scheduleKey(group);
    KeySet planning;
    return updateSchedule(
        path,
        [&](std::vector<PendingGo>& entries) {
            KeySet own, stopAgain;
            for (const PendingGo& e : entries) {
                if (scheduleKey(e.group) != groupKey) continue;
                if (e.state == State::Intent && e.token == token) own.insert(scheduleKey(e.user));
                if (e.state == State::Cancelled) stopAgain.insert(scheduleKey(e.user));
            }
            planning.clear();
            r.keptStopped = 0;
            for (const std::string& k : candidates) {
                if (own.count(k) && !stopAgain.count(k)) planning.insert(k);
                else ++r.keptStopped;
            }
            std::erase_if(entries, [&](PendingGo& e) {
                if (scheduleKey(e.group) != groupKey) return false;
                const bool mine = e.state == State::Intent && e.token == token;
                if (!planning.count(scheduleKey(e.user))) return mine;
                if (mine) {
                    e.state = State::Planned;
                    e.token.clear();
                    return false;
                }
                if (e.state == State::Releasing) e.state = State::Cancelled;
                return e.state == State::Planned || e.state == State::Intent;
            });
            r.added.clear();
            for (const PendingGo& e : entries)
                if (e.state == State::Planned && planning.count(scheduleKey(e.user)) &&
                    scheduleKey(e.group) == groupKey)
                    r.added.push_back(e.user);
            return true;
        },
        r.error);
}

}  // namespace

TimedStopResult runTimedStop(const text::NameList& users, const std::string& group, std::time_t due,
                             JobOptions options) {
    TimedStopResult r;
    const std::string path = schedulePath();
    if (path.empty()) {
        r.error = "Kein Zeitplan möglich: keine nwclient.conf.";
        return r;
    }
    text::NameList distinct;
    KeySet keys;
    for (const std::string& u : users)
        if (keys.insert(scheduleKey(u)).second) distinct.push_back(u);
    const std::string token = newToken();
    // The intents go first: this write is also the proof that the plan can be written at all.
    if (!updateSchedule(
            path,
            [&](std::vector<PendingGo>& entries) {
                for (const std::string& u : distinct) entries.push_back({due, group, u, State::Intent, token});
                return true;
            },
            r.error))
        return r;
    schedulePoint("timed stop: intents written");
    KeySet before;
    if (!readMemberKeys(group, before)) {
        r.groupRead = false;
        r.error = "Die Mitglieder der Gruppe " + group + " können nicht gelesen werden: nichts wurde geändert.";
        TimedStopResult none;
        confirmIntents(path, group, token, {}, none);  // best effort: the intents go again
        return r;
    }
    schedulePoint("timed stop: group read");
    r.started = true;
    options.keepPendingGos = true;
    r.job = runJob(Direction::Stop, users, group, options);
    schedulePoint("timed stop: changed");
    // Only the users this stop put into the group get a go; the others stay as they were. Unread
    // afterwards, every user it did not find in the group is taken (a go of a user not stopped
    // changes nothing).
    KeySet after;
    const bool afterRead = readMemberKeys(group, after);
    schedulePoint("timed stop: group read again");
    KeySet candidates;
    for (const std::string& k : keys)
        if (!before.count(k) && (!afterRead || after.count(k))) candidates.insert(k);
    r.planned = confirmIntents(path, group, token, candidates, r);
    return r;
}

DueResult runDue(const std::string& group, std::time_t now, JobOptions options) {
    DueResult d;
    const std::string path = schedulePath();
    if (path.empty()) {
        d.planOk = false;
        d.error = "Keine nwclient.conf gefunden: kein Zeitplan.";
        return d;
    }
    // Nothing planned: no lock file either (the timer may run where nobody plans anything).
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return d;
    ScheduleLock run;
    if (!run.lock(path, ScheduleLock::Due, false, d.error)) {
        d.busy = run.busy();
        d.planOk = d.busy;
        if (d.busy) d.error.clear();
        return d;
    }
    const std::string groupKey = scheduleKey(group);
    text::NameList batch, again;
    KeySet batchKeys, againKeys;
    auto noteAgain = [&](const PendingGo& e) {
        if (againKeys.insert(scheduleKey(e.user)).second) again.push_back(e.user);
    };
    // Marked right before they are freed, so a stop without a time from now on leaves a stop-again.
    const bool marked = updateSchedule(
        path,
        [&](std::vector<PendingGo>& entries) {
            const size_t before = entries.size();
            bool changed = false;
            std::erase_if(entries, [&](PendingGo& e) {
                if (scheduleKey(e.group) != groupKey) {
                    ++d.otherGroups[e.group];
                    return false;
                }
                if (e.state == State::Cancelled) noteAgain(e);
                if (e.state == State::Intent) return e.due + StaleIntentAge < now;
                if (e.state == State::Cancelled || e.due > now) return false;
                if (batchKeys.insert(scheduleKey(e.user)).second) batch.push_back(e.user);
                changed = changed || e.state != State::Releasing;
                e.state = State::Releasing;
                return false;
            });
            d.staleIntents = before - entries.size();
            return changed || d.staleIntents > 0;
        },
        d.error);
    if (!marked) {
        d.planOk = false;
        return d;
    }
    schedulePoint("due: marked");
    options.keepPendingGos = true;
    KeySet members;
    bool membersRead = false;
    if (!batch.empty()) {
        options.auditAction = "timed go";
        d.go = runJob(Direction::Go, batch, group, options);
        schedulePoint("due: freed");
        membersRead = readMemberKeys(group, members);
        schedulePoint("due: group read");
    }
    // Gone from the plan are the users no longer in the group; the others are tried again at the
    // next run. A stop-again is kept until that stop is done.
    d.planOk = updateSchedule(
        path,
        [&](std::vector<PendingGo>& entries) {
            std::erase_if(entries, [&](PendingGo& e) {
                if (scheduleKey(e.group) != groupKey || !batchKeys.count(scheduleKey(e.user))) return false;
                if (e.state == State::Cancelled) noteAgain(e);
                if (e.state != State::Releasing) return false;
                if (membersRead && !members.count(scheduleKey(e.user))) {
                    ++d.freed;
                    return true;
                }
                e.state = State::Planned;
                return false;
            });
            return !batch.empty();
        },
        d.error);
    schedulePoint("due: confirmed");
    if (again.empty() || !d.planOk) return d;
    options.auditAction = "stop again";
    d.again = runJob(Direction::Stop, again, group, options);
    schedulePoint("due: stopped again");
    if (!d.again.ok()) return d;
    d.planOk = updateSchedule(
        path,
        [&](std::vector<PendingGo>& entries) {
            std::erase_if(entries, [&](const PendingGo& e) {
                return e.state == State::Cancelled && scheduleKey(e.group) == groupKey &&
                       againKeys.count(scheduleKey(e.user));
            });
            return true;
        },
        d.error);
    return d;
}

}  // namespace deny
