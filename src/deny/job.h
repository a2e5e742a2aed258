// The stop/go job on the deny group: one membership change for a list of users, with progress
// and cancel, and one result that says exactly what happened. The main window's Internet buttons
// and tarvel-ctl both run it; every failure of a directory call has been reported through the
// layer's error box once when the job returns (the caller adds its own summary).
#pragma once

#include "platform/text.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace deny {

enum class Direction {
    Stop,  // into the deny group: Internet off
    Go,    // out of it: Internet on
};

// done users of total answered so far; called after the users that need a change are known (done
// 0) and after every user's own side, on the calling thread.
using ProgressFn = std::function<void(size_t done, size_t total)>;
// Asked between users; true stops the job there. The users whose own side was already changed
// still get the group's side, so nobody is left half done by a cancel.
using CancelFn = std::function<bool()>;

struct JobOptions {
    ProgressFn progress;  // optional
    CancelFn cancel;      // optional
    std::string auditAction{};    // the audit trail's word for the change; empty: "stop" or "go"
    bool keepPendingGos = false;  // a timed stop: the users' planned go's stay as they are
};

struct JobResult {
    size_t requested = 0;    // distinct names given
    size_t toChange = 0;     // of those, the users that needed a change (total of the progress)
    size_t changed = 0;      // changed in all places
    size_t unchanged = 0;    // needed no change (already in the group on stop, not in it on go)
    size_t halfDone = 0;     // own side changed (or unknown after a time-out), group side not
    int32_t firstFailure = 0;        // status of the first failure; 0 when none
    int32_t lastFailure = 0;         // the layer's last error when the job ended (the access hint's)
    std::string failedOperation;     // its operation text, as the error box showed it
    bool groupRead = true;   // false when the group's members could not be read (nothing changed)
    bool timedOut = false;   // the server did not answer a request in time: that change is unknown
    bool cancelled = false;  // stopped by cancel before every user was changed
    // A stop or go without a time could not end the users' planned go's (the schedule could not
    // be read or written; reported in the "Tarvel Zeitplan" box): the timer may still free them.
    // The directory change itself is what ok() tells.
    bool pendingGosKept = false;
    std::string scheduleError;  // why, as the box said
    // A go's users who are in the group only through another group (user, that group; AD's
    // nested groups): unchanged, and the operator is told which group to change.
    std::vector<std::pair<std::string, std::string>> throughGroups;

    // Everything asked for is done.
    bool ok() const { return firstFailure == 0 && !cancelled && !timedOut && groupRead && throughGroups.empty(); }
};

// Runs the change on group for users (typeless names; absolute with a leading dot, else from the
// tree root: the job sets the name context to the root first). users is taken as given: repeated
// names count once, names that need no change are left alone.
JobResult runJob(Direction direction, const text::NameList& users, const std::string& group,
                 const JobOptions& options = {});

}  // namespace deny
