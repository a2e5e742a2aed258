// The words for a deny job's result, the same in every front end: the window shows them in its
// boxes, tarvel-ctl prints them. Front ends present these lines; they do not word a result.
#pragma once

#include "deny/job.h"

#include <cstddef>
#include <string>
#include <vector>

namespace deny {

// Who repeats the change: the window's button is pressed again, a command is run again.
enum class Repeat { Press, Call };

enum class Outcome {
    Done,       // everything asked for is done
    Cancelled,  // the operator's own cancel, no failure
    Failed,     // a failure, a time-out, or the group could not be read
};

struct JobWords {
    Outcome outcome = Outcome::Done;
    std::string caption;             // "Tarvel Internet-Stop" / "Tarvel Internet-Go"
    std::vector<std::string> lines;  // the box's lines (Done: the one summary line)
    std::string accessHint;          // "Oder: Sie haben keine Berechtigung." or empty
    std::string changedLine;         // "<n> von <m> Benutzern wurden geändert."
    bool groupUnread = false;        // the group's members could not be read: nothing changed

    // The box's text as the window shows it: lines joined by CR LF; for a failed go two further
    // CR LF and the hint.
    std::string boxText() const;
    // The same on one line for a command line: caption, the lines without their indent, how
    // many were changed and the hint.
    std::string oneLine() const;
};

JobWords describe(Direction direction, const JobResult& result, const std::string& group, Repeat repeat);

// A line saying why a change failed when the tree itself was the cause (held by another program
// past LockTimeout=, or damaged), for the status of the first failure; empty otherwise.
std::string treeStateLine(int32_t status);

// 1234567 as "1.234.567".
std::string countText(size_t n);
// "Internet-Stop: 1.234 von 3.200 Benutzern".
std::string progressText(Direction direction, size_t done, size_t total);
// "Internet-Stop" / "Internet-Go".
const char* actionText(Direction direction);

}  // namespace deny
