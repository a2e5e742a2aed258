#include "deny/job.h"
#include "deny/audit.h"
#include "deny/job_record.h"
#include "deny/members.h"

#include "nwapi/nwapi.h"

#include <algorithm>
#include <unordered_set>

namespace deny {

JobResult runJob(Direction direction, const text::NameList& given, const std::string& group, const JobOptions& options) {
    JobResult result;
    // The names as given, unless one carries the text of a membership through another group:
    // a class of 50,000 is not copied for nothing.
    text::NameList stripped;
    const bool anyThrough =
        std::any_of(given.begin(), given.end(), [](const std::string& user) { return withoutThroughText(user) != user; });
    if (anyThrough) {
        stripped.reserve(given.size());
        for (const std::string& user : given) stripped.push_back(withoutThroughText(user));
    }
    const text::NameList& users = anyThrough ? stripped : given;
    {
        std::unordered_set<std::string> distinct;
        distinct.reserve(users.size());
        for (const std::string& user : users) distinct.insert(text::localeSortKey(user));
        result.requested = distinct.size();
    }
    if (users.empty()) return result;

    beginJob(direction, users, group, options, result);  // a stop or go for good ends timed stops first
    nwapi::SetzeContext("[root]");
    text::NameList names = users;
    nwapi::MembershipOutcome outcome;
    // The trail's first line goes out once the users to change are known, before anything is
    // sent: a run killed midway still leaves a trace (the result line follows the change).
    bool begun = false;
    auto progressWithTrail = [&](size_t done, size_t total) {
        if (!begun) {
            begun = true;
            const bool stop = direction == Direction::Stop;
            writeAuditBegun(options.auditAction.empty() ? (stop ? "stop" : "go") : options.auditAction, users, total);
        }
        if (options.progress) options.progress(done, total);
    };
    const nwapi::MembershipProgress progress{progressWithTrail, options.cancel};
    if (direction == Direction::Stop)
        nwapi::AddMultipleUsersToGroup(names, group, progress, &outcome);
    else
        nwapi::DeleteMultipleUsersFromGroup(names, group, progress, &outcome);

    result.groupRead = outcome.groupRead;
    result.toChange = outcome.toChange;
    result.changed = outcome.changed;
    result.unchanged = outcome.groupRead ? result.requested - std::min(result.requested, outcome.toChange) : 0;
    result.halfDone = outcome.halfDone;
    result.firstFailure = outcome.firstFailure;
    result.failedOperation = outcome.failedOperation;
    result.timedOut = outcome.timedOut;
    result.cancelled = outcome.cancelled;
    result.throughGroups = outcome.throughGroups;
    if (!result.ok()) result.lastFailure = nwapi::GetLastNDSError();
    recordJob(direction, users, group, options, result);  // the audit line; a stop for good ends timed stops
    return result;
}

}  // namespace deny
