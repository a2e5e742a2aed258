#include "deny/job_record.h"

#include "deny/audit.h"
#include "deny/schedule.h"
#include "platform/ports.h"

namespace deny {

std::string jobResultText(const JobResult& r) {
    std::string text;
    if (r.ok()) text = "done";
    else if (!r.groupRead) text = "failed group-unreadable";
    else if (r.cancelled) text = "cancelled";
    else if (r.timedOut) text = "timed-out";
    else text = "failed code=" + std::to_string(r.firstFailure);
    text += " changed=" + std::to_string(r.changed);
    if (!r.ok()) text += " of " + std::to_string(r.toChange);
    if (r.halfDone) text += " half-done=" + std::to_string(r.halfDone);
    return text;
}

namespace {

// The users a failed end of pending go's concerns, at most a screenful.
std::string namesOf(const text::NameList& users) {
    constexpr size_t Shown = 10;
    std::string names;
    for (size_t i = 0; i < users.size() && i < Shown; ++i) names += (i ? ", " : "") + users[i];
    if (users.size() > Shown) names += " und " + std::to_string(users.size() - Shown) + " weitere";
    return names;
}

void cancelOrNote(Direction direction, const text::NameList& users, const std::string& group, JobResult& result) {
    std::string error;
    if (cancelPendingGos(direction, users, group, error)) return;
    if (!result.pendingGosKept) result.scheduleError = error;
    result.pendingGosKept = true;
}

}  // namespace

void beginJob(Direction direction, const text::NameList& users, const std::string& group, const JobOptions& options,
              JobResult& result) {
    if (!options.keepPendingGos && !users.empty()) cancelOrNote(direction, users, group, result);
    schedulePoint("job: pending go's ended");
}

void recordJob(Direction direction, const text::NameList& users, const std::string& group,
               const JobOptions& options, JobResult& result) {
    schedulePoint("job: changed");
    // Nothing asked, nothing changed, nothing to note (a go of users who were not stopped still is).
    if (users.empty()) return;
    const bool stop = direction == Direction::Stop;
    writeAudit({options.auditAction.empty() ? (stop ? "stop" : "go") : options.auditAction, users,
                jobResultText(result)});
    if (options.keepPendingGos) return;
    // Again after the change: a timed stop that read the group before it planned nothing it must
    // not, but one that read it in between wrote its intent after the first end.
    cancelOrNote(direction, users, group, result);
    if (result.pendingGosKept)
        platform::showMessage(platform::joinLines({"Die geplanten Freigaben dieser Benutzer konnten nicht gestrichen "
                                                   "werden; der Zeitgeber kann sie freigeben:",
                                                   namesOf(users), result.scheduleError}),
                              "Tarvel Zeitplan");
}

}  // namespace deny
