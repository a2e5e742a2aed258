// A line left open on standard error (a counter rewritten in place with "\r") and whoever writes
// a whole line there: the writer ends the open line first, so a message never lands at the end
// of the counter.
#pragma once

namespace platform {

// The counter was just written, without its line end.
void openStderrLine();
// Ends the open line with a newline, if one is open; call before writing a line to stderr.
void endStderrLine();

}  // namespace platform
