// stop, go and due: the deny job of the window, with a counter on stderr, Ctrl-C as cancel, and
// the pending go's of timed stops.
#include "ctl/ctl.h"
#include "deny/audit.h"
#include "deny/describe.h"
#include "deny/group_check.h"
#include "deny/job.h"
#include "deny/schedule.h"
#include "deny/selection.h"
#include "deny/timed.h"
#include "nwapi/nwapi.h"
#include "platform/stderr_line.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <set>
#include <unistd.h>

namespace ctl {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

// Ctrl-C cancels between users instead of ending the program half way through one.
struct InterruptAsCancel {
    struct sigaction old {};
    InterruptAsCancel() {
        struct sigaction sa {};
        sa.sa_handler = onInterrupt;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, &old);
        sigaction(SIGTERM, &sa, nullptr);
    }
    ~InterruptAsCancel() { sigaction(SIGINT, &old, nullptr); }
};

using KeySet = std::set<std::string>;

KeySet keysOf(const text::NameList& names) {
    KeySet keys;
    for (const std::string& n : names) keys.insert(text::localeSortKey(n));
    return keys;
}

// Runs one job with a counter on a terminal and Ctrl-C as cancel.
template <class Job>
auto runCounted(bool stop, Job job) {
    InterruptAsCancel guard;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const deny::Direction direction = stop ? deny::Direction::Stop : deny::Direction::Go;
    deny::JobOptions options;
    options.progress = [&](size_t done, size_t total) {
        if (!terminal || total == 0) return;
        std::fprintf(stderr, "\r%s", deny::progressText(direction, done, total).c_str());
        std::fflush(stderr);
        platform::openStderrLine();  // a diagnostic or box written meanwhile starts a line of its own
    };
    options.cancel = [] { return interrupted != 0; };
    auto result = job(options);
    platform::endStderrLine();
    return result;
}

// What the job did, in words; the exit status.
int report(bool stop, const deny::JobResult& r) {
    const deny::JobWords words =
        deny::describe(stop ? deny::Direction::Stop : deny::Direction::Go, r, denyGroup(), deny::Repeat::Call);
    say(words.oneLine());
    if (words.outcome != deny::Outcome::Done) return Failed;
    // A stop or go for good whose users' planned go's stay (said in the "Tarvel Zeitplan" box).
    return r.pendingGosKept ? Failed : Done;
}

bool readMembersKeys(KeySet& keys) {
    text::NameList members;
    if (!readDenyMembers(members)) return false;
    keys = keysOf(members);
    return true;
}

}  // namespace

int cmdStopGo(bool stop, const Options& options) {
    const std::string group = denyGroup();
    const bool timed = !options.forText.empty() || !options.untilText.empty();
    std::time_t due = 0;
    const std::time_t now = std::time(nullptr);
    if (timed && !(options.forText.empty() ? deny::parseClockTime(options.untilText, now, due)
                                           : deny::parseDuration(options.forText, now, due))) {
        std::fprintf(stderr, "tarvel-ctl: %s ist keine Dauer (45m, 90s, 2h) bzw. Uhrzeit (HH:MM)\n",
                     (options.forText.empty() ? options.untilText : options.forText).c_str());
        return WrongUse;
    }

    if (const std::string problem = deny::denyGroupProblem(group); !problem.empty()) {
        say(problem);
        return Failed;
    }
    // Every name must be a user or a container: a typo must not shrink a class stop silently.
    const std::vector<deny::SelectedEntry> entries = deny::entriesOfNames(options.names);
    bool allKnown = true;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].kind == deny::EntryKind::Other) {
            say(options.names[i] + ": weder Benutzer noch Container (oder nicht lesbar).");
            allKnown = false;
        }
    if (!allKnown) {
        say("Nichts wurde geändert.");
        return Failed;
    }
    text::NameList users, skipped;
    if (!deny::gatherUsers(entries, users, skipped)) {
        say("Die Suche nach Benutzern ist fehlgeschlagen: nichts wurde geändert.");
        return Failed;
    }
    // Entries no change can take are named, and the change of the others counts as incomplete.
    const int gathered = skipped.empty() ? Done : Failed;
    for (const std::string& line : deny::skippedLines(skipped)) say(line);
    if (users.empty()) {
        say("In der Auswahl wurden keine Benutzer gefunden!");
        return gathered;
    }

    KeySet before;
    if (options.dryRun && !readMembersKeys(before)) {
        say("Die Mitglieder der Gruppe " + group + " können nicht gelesen werden: nichts wurde geändert.");
        return Failed;
    }
    if (options.dryRun) {
        size_t changing = 0;
        KeySet seen;
        for (const std::string& u : users) {
            const std::string key = text::localeSortKey(u);
            if (!seen.insert(key).second) continue;
            if ((before.count(key) != 0) != stop) {
                std::printf("%s %s\n", stop ? "stop" : "go", u.c_str());
                ++changing;
            }
        }
        std::fflush(stdout);
        say("Probelauf: " + deny::countText(changing) + " Benutzer würden " + (stop ? "gesperrt" : "freigegeben") +
            ", " + deny::countText(seen.size() - changing) + (stop ? " sind schon gesperrt." : " sind nicht gesperrt."));
        return gathered;
    }

    int status = Done;
    if (!timed) {
        const deny::JobResult result = runCounted(stop, [&](const deny::JobOptions& o) {
            return deny::runJob(stop ? deny::Direction::Stop : deny::Direction::Go, users, group, o);
        });
        status = report(stop, result);
    } else {
        const deny::TimedStopResult timedStop =
            runCounted(true, [&](const deny::JobOptions& o) { return deny::runTimedStop(users, group, due, o); });
        if (!timedStop.started) {
            say(timedStop.error);
            if (timedStop.groupRead) say("Nichts wurde geändert.");
            return Failed;
        }
        status = report(true, timedStop.job);
        if (timedStop.planned) {
            say("Freigabe geplant für " + deny::formatLocalTime(due) + ": " + deny::countText(timedStop.added.size()) +
                " Benutzer.");
            if (timedStop.keptStopped)
                say(deny::countText(timedStop.keptStopped) +
                    " Benutzer wurden inzwischen ohne Zeit gesperrt und bleiben gesperrt.");
        } else {
            say(timedStop.error);
            say("Die Freigabe ist NICHT geplant: " + deny::countText(timedStop.job.changed) +
                " Benutzer bleiben gesperrt, bis sie freigegeben werden.");
            status = Failed;
        }
    }
    if (gathered != Done) status = gathered;
    if (!refreshProxyList()) status = Failed;
    if (deny::auditFailures()) status = Failed;
    return status;
}

int cmdDue(const Options& options) {
    const std::string group = denyGroup();
    const std::time_t now = std::time(nullptr);
    if (options.dryRun) {
        std::string path;
        std::vector<deny::PendingGo> entries;
        if (!readScheduleOrSay(path, entries)) return Failed;
        for (const deny::PendingGo& e : entries)
            if (e.due <= now && deny::isCarriedOutBy(e, group)) std::printf("go %s\n", e.user.c_str());
        std::fflush(stdout);
        return Done;
    }
    // Nothing is released from something that is no group (its values are check's and repair's).
    if (const std::string problem = deny::denyGroupProblem(group); !problem.empty()) {
        say(problem);
        return Failed;
    }
    const deny::DueResult d =
        runCounted(false, [&](const deny::JobOptions& o) { return deny::runDue(group, now, o); });
    if (d.busy) {
        say("Ein anderer Lauf von due ist noch nicht fertig: er führt die fälligen Freigaben aus.");
        return Done;
    }
    int status = Done;
    // Lines for another group are not ours to carry out (another configuration's, or written by
    // hand): they stay, and are named.
    for (const auto& [other, count] : d.otherGroups)
        say("Zeitplan: Einträge für die Gruppe " + other + " statt " + group + " bleiben unberührt: " +
            deny::countText(count) + ".");
    if (d.staleIntents)
        say("Zeitplan: unbestätigte Einträge abgebrochener Aufrufe mit Zeit wurden gelöscht: " +
            deny::countText(d.staleIntents) + ".");
    if (d.go.requested && report(false, d.go) != Done) status = Failed;
    if (d.again.requested) {
        say("Wieder gesperrt (inzwischen ohne Zeit gesperrt): " + deny::countText(d.again.requested) + " Benutzer.");
        if (report(true, d.again) != Done) status = Failed;
    }
    if (!d.planOk) {
        say(d.error);
        status = Failed;
    }
    if (!refreshProxyList()) status = Failed;
    if (deny::auditFailures()) status = Failed;
    return status;
}

}  // namespace ctl
