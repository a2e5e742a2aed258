// Which tree files passed the check on opening, and in which state: a tree nobody changed since
// is opened without checking it again. The state is what any write changes, by whatever program:
// the file's identity, size and change times, and those of its write-ahead log. The change time
// (ctime) cannot be set back by a program, so a bit flipped by another program, a tree copied in
// or one left by a crash never matches. Kept per operator in $XDG_STATE_HOME/tarvel/tree-checks.
#pragma once

#include <cstdint>
#include <string>

namespace nw::embedded {

struct TreeFileState {
    uint64_t device = 0, inode = 0;
    int64_t size = 0, mtimeNs = 0, ctimeNs = 0;
    int64_t walSize = 0, walMtimeNs = 0, walCtimeNs = 0;  // all 0: no log, or an empty one
    bool operator==(const TreeFileState&) const = default;
};

// False when the file cannot be looked at.
bool readTreeFileState(const std::string& file, TreeFileState& state);
// Whether a clean check of the file in exactly this state is remembered.
bool checkRemembered(const TreeFileState& state);
// Remembers a clean check of the file in this state. A state from the clock tick that is still
// running is not remembered (a write later in the same tick would leave the times unchanged)
// unless wait allows waiting for the next tick (a few milliseconds). True when remembered.
bool rememberCheck(const TreeFileState& state, bool wait);

}  // namespace nw::embedded
