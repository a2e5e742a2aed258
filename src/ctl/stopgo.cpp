// stop, go and due: the deny job of the window, with a counter on stderr, Ctrl-C as cancel, and
// the pending go's of timed stops.
#include "ctl/ctl.h"
#include "deny/audit.h"
#include "deny/group_check.h"
#include "deny/job.h"
#include "deny/schedule.h"
#include "deny/selection.h"
#include "nwapi/nwapi.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <map>
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

const char* captionOf(bool stop) { return stop ? "Tarvel Internet-Stop" : "Tarvel Internet-Go"; }

deny::JobResult runCounted(bool stop, const text::NameList& users, const std::string& group,
                           const char* auditAction = "", bool keepPendingGos = false) {
    InterruptAsCancel guard;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const char* what = stop ? "Internet-Stop" : "Internet-Go";
    deny::JobOptions options;
    bool counted = false;
    options.progress = [&](size_t done, size_t total) {
        if (!terminal || total == 0) return;
        std::fprintf(stderr, "\r%s: %s von %s Benutzern", what, germanCount(done).c_str(), germanCount(total).c_str());
        std::fflush(stderr);
        counted = true;
    };
    options.cancel = [] { return interrupted != 0; };
    options.auditAction = auditAction;
    options.keepPendingGos = keepPendingGos;
    deny::JobResult result = deny::runJob(stop ? deny::Direction::Stop : deny::Direction::Go, users, group, options);
    if (counted) std::fputs("\n", stderr);
    return result;
}

// What the job did, in words; the exit status.
int report(bool stop, const deny::JobResult& r) {
    const std::string changed = germanCount(r.changed) + " von " + germanCount(r.toChange) + " Benutzern wurden geändert.";
    if (r.ok()) {
        say(std::string(stop ? "Gesperrt: " : "Freigegeben: ") + germanCount(r.changed) + " Benutzer, " +
            germanCount(r.unchanged) + (stop ? " waren schon gesperrt." : " waren nicht gesperrt."));
        return Done;
    }
    if (!r.groupRead) {
        say("Die Mitglieder der Gruppe " + denyGroup() + " können nicht gelesen werden: nichts wurde geändert.");
        return Failed;
    }
    std::string message = std::string(captionOf(stop)) + ": ";
    if (r.cancelled) message += "Abgebrochen. " + changed + " Erneutes Aufrufen ändert die übrigen.";
    else if (r.timedOut) message += "Der Server hat nicht rechtzeitig geantwortet. " + changed + " Erneutes Aufrufen vervollständigt die Änderung.";
    else {
        message += "Es sind Fehler aufgetreten! In der Gruppe " + denyGroup() +
                   " und/oder bei zugehörigen Usern sind möglicherweise Inkonsistenzen aufgetreten. " + changed;
        if (!stop && (r.firstFailure == 672 || r.firstFailure == -672)) message += " Oder: Sie haben keine Berechtigung.";
    }
    if (r.halfDone) message += " " + germanCount(r.halfDone) + " Benutzer sind nur halb geändert.";
    say(message);
    return Failed;
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
    text::NameList users;
    if (!deny::gatherUsers(entries, users)) {
        say("Die Suche nach Benutzern ist fehlgeschlagen: nichts wurde geändert.");
        return Failed;
    }
    if (users.empty()) {
        say("In der Auswahl wurden keine Benutzer gefunden!");
        return Done;
    }

    KeySet before;
    if ((timed || options.dryRun) && !readMembersKeys(before)) {
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
        say("Probelauf: " + germanCount(changing) + " Benutzer würden " + (stop ? "gesperrt" : "freigegeben") +
            ", " + germanCount(seen.size() - changing) + (stop ? " sind schon gesperrt." : " sind nicht gesperrt."));
        return Done;
    }

    std::string schedule;
    if (timed) {
        // The pending go's must be writable before anyone is stopped.
        schedule = deny::schedulePath();
        std::vector<deny::PendingGo> current;
        std::string error;
        if (schedule.empty() || !deny::readSchedule(schedule, current, error)) {
            say(schedule.empty() ? "Kein Zeitplan möglich: keine nwclient.conf." : error);
            say("Nichts wurde geändert.");
            return Failed;
        }
    }

    const deny::JobResult result = runCounted(stop, users, group, "", timed);
    int status = report(stop, result);

    if (timed && result.changed + result.halfDone > 0) {
        // Only the users this stop put into the group get a go; the others stay as they were.
        KeySet after;
        text::NameList added;
        if (readMembersKeys(after)) {
            KeySet seen;
            for (const std::string& u : users) {
                const std::string key = text::localeSortKey(u);
                if (seen.insert(key).second && !before.count(key) && after.count(key)) added.push_back(u);
            }
        }
        const KeySet addedKeys = keysOf(added);
        std::string error;
        const bool written = deny::updateSchedule(
            schedule,
            [&](std::vector<deny::PendingGo>& pending) {
                std::erase_if(pending, [&](const deny::PendingGo& e) {
                    return addedKeys.count(text::localeSortKey(e.user)) &&
                           text::equalsLocaleNoCase(e.group, group);
                });
                for (const std::string& u : added) pending.push_back({due, group, u});
                return true;
            },
            error);
        if (written) {
            say("Freigabe geplant für " + deny::formatLocalTime(due) + ": " + germanCount(added.size()) + " Benutzer.");
        } else {
            say(error);
            say("Die Freigabe ist NICHT geplant: " + germanCount(added.size()) +
                " Benutzer bleiben gesperrt, bis sie freigegeben werden.");
            status = Failed;
        }
    }
    if (!refreshProxyList()) status = Failed;
    if (deny::auditFailures()) status = Failed;
    return status;
}

int cmdDue(const Options& options) {
    std::string path;
    std::vector<deny::PendingGo> entries;
    if (!readScheduleOrSay(path, entries)) return Failed;
    std::string error;
    const std::time_t now = std::time(nullptr);
    // Due go's by group, in the schedule's order.
    std::map<std::string, text::NameList> byGroup;
    for (const deny::PendingGo& e : entries)
        if (e.due <= now) byGroup[e.group].push_back(e.user);
    int status = Done;
    if (options.dryRun) {
        for (const auto& [group, users] : byGroup)
            for (const std::string& u : users) std::printf("go %s\n", u.c_str());
        std::fflush(stdout);
        return Done;
    }
    for (const auto& [group, users] : byGroup) {
        if (const std::string problem = deny::denyGroupProblem(group); !problem.empty()) {
            say(problem);
            status = Failed;
            continue;
        }
        const deny::JobResult result = runCounted(false, users, group, "timed go");
        if (report(false, result) != Done) status = Failed;
        // Gone from the schedule are exactly the users no longer in the group; the others are
        // tried again at the next run.
        text::NameList members;
        nwapi::ExpectNDSError(-603);
        int32_t readError = 0;
        nwapi::GetGroupMembers(group, members, readError);
        if (readError != 0 && readError != 603 && readError != -603) {
            status = Failed;
            continue;
        }
        const KeySet still = keysOf(members);
        const KeySet done = [&] {
            KeySet k;
            for (const std::string& u : users)
                if (!still.count(text::localeSortKey(u))) k.insert(text::localeSortKey(u));
            return k;
        }();
        const std::string groupKey = text::localeSortKey(group);
        if (!deny::updateSchedule(
                path,
                [&](std::vector<deny::PendingGo>& pending) {
                    std::erase_if(pending, [&](const deny::PendingGo& e) {
                        return e.due <= now && text::localeSortKey(e.group) == groupKey &&
                               done.count(text::localeSortKey(e.user));
                    });
                    return true;
                },
                error)) {
            say(error);
            status = Failed;
        }
    }
    if (!refreshProxyList()) status = Failed;
    if (deny::auditFailures()) status = Failed;
    return status;
}

}  // namespace ctl
