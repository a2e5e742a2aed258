// A TCP port on 127.0.0.1 that nothing listens on right now, for a server a test starts.
#pragma once

namespace testsupport {

// 0 when none could be found.
int freeLoopbackPort();

}  // namespace testsupport
