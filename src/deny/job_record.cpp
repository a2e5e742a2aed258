#include "deny/job_record.h"

#include "deny/audit.h"
#include "deny/schedule.h"

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

void recordJob(Direction direction, const text::NameList& users, const std::string& group,
               const JobOptions& options, const JobResult& result) {
    // Nothing asked, nothing changed, nothing to note (a go of users who were not stopped still is).
    if (users.empty()) return;
    const bool stop = direction == Direction::Stop;
    writeAudit({options.auditAction.empty() ? (stop ? "stop" : "go") : options.auditAction, users,
                jobResultText(result)});
    // A stop for good that covers a user ends the user's timed stop.
    if (stop && !options.keepPendingGos && result.groupRead) dropPendingGos(users, group);
}

}  // namespace deny
