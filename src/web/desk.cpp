#include "web/desk.h"

#include "deny/schedule.h"
#include "deny/selection.h"

#include <ctime>
#include <map>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace web {

namespace {

// "bis 09:30" today, "bis 08.12.2026 09:30" on another day, "bis auf Weiteres" for good.
std::string untilText(std::time_t until) {
    if (until == 0) return "bis auf Weiteres";
    const std::time_t now = std::time(nullptr);
    std::tm at{}, today{};
    localtime_r(&until, &at);
    localtime_r(&now, &today);
    char out[32];
    const bool sameDay = at.tm_year == today.tm_year && at.tm_yday == today.tm_yday;
    std::strftime(out, sizeof out, sameDay ? "%H:%M" : "%d.%m.%Y %H:%M", &at);
    return std::string("bis ") + out;
}

void take(std::vector<Box>& into, std::vector<Box>&& boxes) {
    for (Box& b : boxes) into.push_back(std::move(b));
}

std::unordered_set<std::string> keysOf(const text::NameList& names) {
    std::unordered_set<std::string> keys;
    for (const std::string& n : names) keys.insert(deny::scheduleKey(n));
    return keys;
}

// Of users, those the change left in the group. Unknown (the group could not be read again):
// none after a job that did everything, all after one that did not, so that no hold is ever
// dropped for a pupil who may still be stopped.
text::NameList stillIn(const ChangeResult& c, deny::Direction direction, const text::NameList& users) {
    if (c.inGroupKnown) {
        const auto in = keysOf(c.inGroup);
        text::NameList out;
        for (const std::string& u : users)
            if (in.count(deny::scheduleKey(u))) out.push_back(u);
        return out;
    }
    const bool allIn = direction == deny::Direction::Stop || !c.job.ok();
    return allIn ? users : text::NameList{};
}

// Gathers names; false (and the result says why) when nothing may be changed.
bool gatherInto(DirectorySession& session, const text::NameList& names, GatherResult& g, DeskResult& r) {
    g = session.gather(names);
    take(r.boxes, std::move(g.boxes));
    for (std::string& line : deny::skippedLines(g.skipped)) r.lines.push_back(std::move(line));
    for (const std::string& name : g.unknown)
        r.lines.push_back(name + ": weder Benutzer noch Container (oder nicht lesbar).");
    if (!g.unknown.empty()) r.lines.push_back("Nichts wurde geändert.");
    else if (!g.ok) r.lines.push_back("Die Auswahl konnte nicht vollständig gelesen werden: nichts wurde geändert.");
    return g.ok;
}

}  // namespace

ChangeQueue::Turn::Turn(ChangeQueue* queue) {
    if (!queue) return;
    std::unique_lock lock(queue->mutex_);
    if (queue->running_ < queue->width_ && queue->line_.empty()) {
        ++queue->running_;
        queue_ = queue;
        return;
    }
    Waiter me;
    queue->line_.push_back(&me);
    if (queue->called_.wait_for(lock, queue->patience_, [&] { return me.called; })) {
        queue_ = queue;  // handed over by the turn before
        return;
    }
    std::erase(queue->line_, &me);
}

ChangeQueue::Turn::~Turn() {
    if (!queue_) return;
    {
        std::lock_guard lock(queue_->mutex_);
        if (queue_->line_.empty()) {
            --queue_->running_;
        } else {
            queue_->line_.front()->called = true;
            queue_->line_.pop_front();
        }
    }
    queue_->called_.notify_all();
}

Desk::Desk(deny::HoldStore& holds, std::string tree, std::string group)
    : holds_(holds), tree_(std::move(tree)), group_(std::move(group)), serial_(tree_.rfind("sqlite:", 0) == 0) {}

ChangeResult Desk::change(DirectorySession& session, deny::Direction direction, const text::NameList& users,
                          const deny::ProgressFn& progress) {
    const ChangeQueue::Turn turn(serial_ ? &queue_ : nullptr);
    return session.change(direction, users, progress);
}

namespace {

// The holds a go or release ended on pupils it could not free are put back as they were: the
// pupil stays stopped, and without its hold no timer would ever free it.
void restoreHolds(deny::HoldStore& store, const text::NameList& notFreed, DeskResult& r) {
    if (notFreed.empty()) return;
    const auto keys = keysOf(notFreed);
    std::map<std::tuple<std::string, std::time_t, std::time_t, std::string, std::string>, text::NameList> again;
    std::vector<deny::Hold> kept;
    for (deny::Hold& h : r.ended) {
        if (!keys.count(deny::scheduleKey(h.user))) {
            kept.push_back(std::move(h));
            continue;
        }
        again[{h.holder, h.since, h.until, h.tree, h.group}].push_back(h.user);
    }
    r.ended = std::move(kept);
    for (const auto& [key, users] : again) {
        const auto& [holder, since, until, tree, group] = key;
        std::vector<uint64_t> ids;
        std::string error;
        if (!store.addIntents(holder, users, since, until, tree, group, ids, error) || !store.confirm(ids, users, error))
            r.stateError = error;
    }
    r.lines.push_back(deny::countText(notFreed.size()) +
                      (notFreed.size() == 1 ? " Benutzer bleibt gesperrt; seine Sperren bleiben bestehen."
                                            : " Benutzer bleiben gesperrt; ihre Sperren bleiben bestehen."));
}

// "Sperre von <holder> bis 09:30 aufgehoben", one line per holder and end, naming the pupil
// when it is one.
void endedLines(const std::vector<deny::Hold>& ended, DeskResult& r) {
    std::vector<std::string> order;
    std::unordered_map<std::string, std::pair<std::string, text::NameList>> byHolder;
    for (const deny::Hold& h : ended) {
        const std::string line = "Sperre von " + h.holder + " " + untilText(h.until) + " aufgehoben";
        auto [it, fresh] = byHolder.try_emplace(line);
        if (fresh) order.push_back(line);
        it->second.second.push_back(h.user);
    }
    for (const std::string& line : order) {
        const text::NameList& users = byHolder[line].second;
        r.lines.push_back(users.size() == 1 ? users.front() + ": " + line
                                            : line + " (" + deny::countText(users.size()) + " Benutzer)");
    }
}

}  // namespace

DeskResult Desk::stop(DirectorySession& session, const text::NameList& names, std::time_t until,
                      const deny::ProgressFn& progress) {
    DeskResult r;
    r.direction = deny::Direction::Stop;
    GatherResult g;
    if (!gatherInto(session, names, g, r)) return r;
    std::vector<uint64_t> ids;
    if (!holds_.addIntents(session.operatorName(), g.users, std::time(nullptr), until, tree_, group_, ids,
                           r.stateError))
        return r;
    ChangeResult c = change(session, deny::Direction::Stop, g.users, progress);
    take(r.boxes, std::move(c.boxes));
    r.words = deny::describe(deny::Direction::Stop, c.job, group_, deny::Repeat::Press);
    if (!c.inGroupKnown)
        r.lines.push_back("Die Gruppe " + group_ + " konnte danach nicht gelesen werden; die Sperren bleiben vermerkt.");
    const text::NameList in = stillIn(c, deny::Direction::Stop, g.users);
    holds_.confirm(ids, in, r.stateError);
    if (!in.empty()) r.lines.push_back("Ihre Sperre gilt " + untilText(until) + ".");
    r.ok = c.job.ok() && g.skipped.empty() && r.stateError.empty();
    return r;
}

DeskResult Desk::release(DirectorySession& session, const text::NameList& names, const deny::ProgressFn& progress) {
    DeskResult r;
    r.direction = deny::Direction::Go;
    GatherResult g;
    if (!gatherInto(session, names, g, r)) return r;
    const std::string self = session.operatorName();
    text::NameList nowFree;
    if (!holds_.endOwn(self, g.users, nowFree, r.ended, r.stateError)) return r;
    deny::JobResult job;
    if (!nowFree.empty()) {
        ChangeResult c = change(session, deny::Direction::Go, nowFree, progress);
        take(r.boxes, std::move(c.boxes));
        job = c.job;
        restoreHolds(holds_, stillIn(c, deny::Direction::Go, nowFree), r);
    }
    r.words = deny::describe(deny::Direction::Go, job, group_, deny::Repeat::Press);
    if (r.ended.empty() && nowFree.empty()) r.lines.push_back("Sie hatten hier keine Sperre.");

    // Who keeps the others stopped.
    std::vector<deny::Hold> left;
    std::string error;
    if (!holds_.holdsOn(g.users, left, error)) {
        if (r.stateError.empty()) r.stateError = error;
    }
    const auto selfKey = deny::scheduleKey(self);
    std::vector<std::string> order;
    std::unordered_map<std::string, std::pair<std::string, std::string>> holders;  // key -> user, holders
    for (const deny::Hold& h : left) {
        if (h.state == deny::Hold::State::Releasing || deny::scheduleKey(h.holder) == selfKey) continue;
        const std::string key = deny::scheduleKey(h.user);
        auto [it, fresh] = holders.try_emplace(key, h.user, std::string());
        if (fresh) order.push_back(key);
        it->second.second += (it->second.second.empty() ? "" : ", ") + h.holder;
    }
    for (const std::string& key : order) {
        const auto& [user, by] = holders[key];
        r.stillHeld.push_back(user);
        r.lines.push_back(user + ": bleibt gesperrt (Sperre von " + by + ")");
    }
    r.ok = job.ok() && g.skipped.empty() && r.stateError.empty();
    return r;
}

DeskResult Desk::go(DirectorySession& session, const text::NameList& names, const deny::ProgressFn& progress) {
    DeskResult r;
    r.direction = deny::Direction::Go;
    GatherResult g;
    if (!gatherInto(session, names, g, r)) return r;
    if (!holds_.endAll(g.users, r.ended, r.stateError)) return r;
    ChangeResult c = change(session, deny::Direction::Go, g.users, progress);
    take(r.boxes, std::move(c.boxes));
    r.words = deny::describe(deny::Direction::Go, c.job, group_, deny::Repeat::Press);
    const text::NameList notFreed = stillIn(c, deny::Direction::Go, g.users);
    // Only the holds of pupils the change left stopped: those that had none need nothing back.
    const auto held = [&] {
        std::unordered_set<std::string> k;
        for (const deny::Hold& h : r.ended) k.insert(deny::scheduleKey(h.user));
        return k;
    }();
    text::NameList restore;
    for (const std::string& u : notFreed)
        if (held.count(deny::scheduleKey(u))) restore.push_back(u);
    restoreHolds(holds_, restore, r);
    endedLines(r.ended, r);
    r.ok = c.job.ok() && g.skipped.empty() && r.stateError.empty();
    return r;
}

DeskResult Desk::due(DirectorySession& service, std::time_t now) {
    DeskResult r;
    r.direction = deny::Direction::Go;
    text::NameList toFree;
    if (!holds_.beginDue(now, toFree, r.stateError)) return r;
    deny::JobResult job;
    text::NameList freed;
    if (!toFree.empty()) {
        ChangeResult c = change(service, deny::Direction::Go, toFree, {});
        take(r.boxes, std::move(c.boxes));
        job = c.job;
        // Those left in the group stay Releasing: the next run takes them up again.
        const auto notFreed = keysOf(stillIn(c, deny::Direction::Go, toFree));
        for (const std::string& u : toFree)
            if (!notFreed.count(deny::scheduleKey(u))) freed.push_back(u);
        r.lines.push_back("Zeit abgelaufen: " + deny::countText(freed.size()) + " von " +
                          deny::countText(toFree.size()) + " Benutzern freigegeben.");
    }
    r.words = deny::describe(deny::Direction::Go, job, group_, deny::Repeat::Call);
    text::NameList stopAgain;
    if (!holds_.finishDue(freed, stopAgain, r.stateError)) return r;
    bool againOk = true;
    if (!stopAgain.empty()) {
        // A hold that came while the pupils were being freed: they are stopped again at once.
        ChangeResult c = change(service, deny::Direction::Stop, stopAgain, {});
        take(r.boxes, std::move(c.boxes));
        againOk = c.job.ok();
        const auto in = keysOf(stillIn(c, deny::Direction::Stop, stopAgain));
        for (const std::string& u : stopAgain)
            r.lines.push_back(u + (in.count(deny::scheduleKey(u))
                                       ? ": wieder gesperrt (neue Sperre während der Freigabe)"
                                       : ": konnte nicht wieder gesperrt werden, obwohl eine Sperre besteht"));
    }
    r.ok = job.ok() && againOk;
    return r;
}

}  // namespace web
