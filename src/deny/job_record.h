// What every run of the deny job leaves behind besides the directory change: one audit line, and
// for a stop without a time the end of the covered users' pending go's.
#pragma once

#include "deny/job.h"

namespace deny {

// "done changed=3", "failed code=-672 changed=1 of 4", "cancelled changed=2 of 5", ...
std::string jobResultText(const JobResult& result);

// Called by runJob once the change is over (also after a failure or a cancel).
void recordJob(Direction direction, const text::NameList& users, const std::string& group,
               const JobOptions& options, const JobResult& result);

}  // namespace deny
