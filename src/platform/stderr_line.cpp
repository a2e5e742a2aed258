#include "platform/stderr_line.h"

#include <atomic>
#include <cstdio>

namespace platform {

namespace {
std::atomic<bool> lineOpen{false};
}

void openStderrLine() { lineOpen = true; }

void endStderrLine() {
    if (!lineOpen.exchange(false)) return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace platform
