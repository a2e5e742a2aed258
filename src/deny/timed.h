// Timed stops and their go's. The schedule's lock is held only to read and write the plan, never
// across a directory change, so another operator's stop or go runs between the steps; the steps
// are ordered so that a pupil stopped for good by anyone, before, during or after, is never freed
// by a timed stop's go:
//
// - A timed stop writes an intent for each of its users, then reads the group, changes it, reads
//   it again, and turns an intent into a planned go only for a user it put into the group whose
//   intent is still there. A stop without a time ends the users' go's and intents before and after
//   its change, so a user it covers gets no go from a timed stop running at the same time.
// - due marks the due go's as being freed, frees those users and then drops the entries of the
//   users who left the group. A stop without a time that met a marked entry turned it into a
//   stop-again: due stops those users again, since it may have freed them after that stop.
#pragma once

#include "deny/job.h"

#include <ctime>
#include <map>
#include <string>

namespace deny {

struct TimedStopResult {
    bool started = false;   // false: nothing was changed (error says why)
    bool groupRead = true;  // false: the group could not be read before the change
    JobResult job;
    bool planned = false;   // the go's are in the plan (false after a start: error says why)
    text::NameList added;   // the users this stop put into the group that will be freed at due
    size_t keptStopped = 0;  // put into the group, but stopped for good meanwhile: no go
    std::string error;      // German, for the operator
};

// Stops users on group and plans their go at due. The intents are written before anything is
// changed, so a schedule that cannot be written changes nothing.
TimedStopResult runTimedStop(const text::NameList& users, const std::string& group, std::time_t due,
                             JobOptions options = {});

struct DueResult {
    bool busy = false;   // another run of due holds the schedule's due lock: nothing done
    bool planOk = true;  // false: the plan could not be read or written (error says why)
    std::string error;
    JobResult go;        // the users freed (requested 0: nothing was due)
    JobResult again;     // the users stopped again (requested 0: none)
    size_t freed = 0;    // entries carried out and dropped
    size_t staleIntents = 0;  // intents of timed stops that never ended, dropped
    std::map<std::string, size_t> otherGroups;  // entries for another group: left alone
};

// Carries out the go's on group due at now. Entries naming another group are left as they are.
DueResult runDue(const std::string& group, std::time_t now, JobOptions options = {});

}  // namespace deny
