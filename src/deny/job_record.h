// What every run of the deny job leaves behind besides the directory change: one audit line, and
// for a stop or go without a time the end of the covered users' pending go's.
#pragma once

#include "deny/job.h"

namespace deny {

// "done changed=3", "failed code=-672 changed=1 of 4", "cancelled changed=2 of 5", ...
std::string jobResultText(const JobResult& result);

// Called by runJob before the change: a stop or go without a time ends the users' pending go's
// first, so the timer cannot free a user between the change and their end.
void beginJob(Direction direction, const text::NameList& users, const std::string& group,
              const JobOptions& options, JobResult& result);

// Called by runJob once the change is over (also after a failure or a cancel): the audit line,
// and the pending go's again (a timed stop may have planned one meanwhile). A schedule that could
// not be changed sets result.pendingGosKept and is reported once, naming the users.
void recordJob(Direction direction, const text::NameList& users, const std::string& group,
               const JobOptions& options, JobResult& result);

}  // namespace deny
