#include "nwclient/embedded/tree_check_memory.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace nw::embedded {
namespace {

namespace fs = std::filesystem;

constexpr size_t MOST_TREES = 32;

int64_t ns(const timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

fs::path memoryFile() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state) return fs::path(state) / "tarvel" / "tree-checks";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : ".") / ".local" / "state" / "tarvel" / "tree-checks";
}

std::vector<TreeFileState> remembered() {
    std::vector<TreeFileState> out;
    std::ifstream in(memoryFile());
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        TreeFileState s;
        if (fields >> s.device >> s.inode >> s.size >> s.mtimeNs >> s.ctimeNs >> s.walSize >> s.walMtimeNs >> s.walCtimeNs)
            out.push_back(s);
    }
    return out;
}

// File times come from the kernel's coarse clock: a time from its current tick may still be
// given to a later write.
bool fromRunningTick(const TreeFileState& s) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return std::max(s.ctimeNs, s.walCtimeNs) >= ns(now);
}

}  // namespace

bool readTreeFileState(const std::string& file, TreeFileState& state) {
    struct stat st{};
    if (::stat(file.c_str(), &st) != 0) return false;
    state = TreeFileState{};
    state.device = st.st_dev;
    state.inode = st.st_ino;
    state.size = st.st_size;
    state.mtimeNs = ns(st.st_mtim);
    state.ctimeNs = ns(st.st_ctim);
    struct stat wal{};
    if (::stat((file + "-wal").c_str(), &wal) == 0 && wal.st_size > 0) {
        state.walSize = wal.st_size;
        state.walMtimeNs = ns(wal.st_mtim);
        state.walCtimeNs = ns(wal.st_ctim);
    }
    return true;
}

bool checkRemembered(const TreeFileState& state) {
    for (const TreeFileState& s : remembered())
        if (s == state) return true;
    return false;
}

bool rememberCheck(const TreeFileState& state, bool wait) {
    for (int i = 0; i < 20 && wait && fromRunningTick(state); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (fromRunningTick(state)) return false;
    std::vector<TreeFileState> kept{state};
    for (const TreeFileState& s : remembered())
        if ((s.device != state.device || s.inode != state.inode) && kept.size() < MOST_TREES) kept.push_back(s);
    // Written beside and renamed: another process reading it sees the old list or the new one.
    const fs::path file = memoryFile();
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const fs::path temporary = file.string() + "." + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const TreeFileState& s : kept)
            out << s.device << ' ' << s.inode << ' ' << s.size << ' ' << s.mtimeNs << ' ' << s.ctimeNs << ' ' << s.walSize
                << ' ' << s.walMtimeNs << ' ' << s.walCtimeNs << '\n';
        if (!out.flush()) {
            out.close();
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::rename(temporary, file, ec);
    if (ec) fs::remove(temporary, ec);
    return !ec;
}

}  // namespace nw::embedded
