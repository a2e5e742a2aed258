#include "deny/state_file.h"

#include "platform/ports.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace deny::statefile {

std::string escapeField(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

bool unescapeField(const std::string& s, std::string& out, bool allowEmpty) {
    out.clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (++i == s.size()) return false;
        switch (s[i]) {
            case '\\': out += '\\'; break;
            case 't': out += '\t'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            default: return false;
        }
    }
    return allowEmpty || !out.empty();
}

bool checkOwnFile(int fd, const std::string& path, const std::string& what, std::string& error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = platform::joinLines({what + " kann nicht geprüft werden:", path, std::strerror(errno)});
        return false;
    }
    std::string why;
    if (!S_ISREG(st.st_mode)) why = " ist keine gewöhnliche Datei:";
    else if (st.st_uid != ::geteuid()) why = " gehört nicht dem Konto, unter dem Tarvel läuft:";
    else if (st.st_mode & (S_IWGRP | S_IWOTH)) why = " darf von anderen Konten geschrieben werden:";
    if (why.empty()) return true;
    error = platform::joinLines({what + why, path, "Diese Datei wird nicht verwendet."});
    return false;
}

std::string linkRefused(const std::string& path, const std::string& what) {
    return platform::joinLines({what + " ist ein symbolischer Verweis:", path, "Diese Datei wird nicht verwendet."});
}

bool readOwnFile(const std::string& path, const Words& words, std::string& text, bool& exists, std::string& error) {
    text.clear();
    exists = false;
    // O_NONBLOCK: a FIFO put in its place must not hang the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return true;
        error = errno == ELOOP ? linkRefused(path, words.file)
                               : platform::joinLines({words.unreadable, path, std::strerror(errno)});
        return false;
    }
    exists = true;
    bool ok = checkOwnFile(fd, path, words.file, error);
    for (char buffer[65536]; ok;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n > 0) text.append(buffer, size_t(n));
        else if (errno != EINTR) {
            error = platform::joinLines({words.unreadable, path, std::strerror(errno)});
            ok = false;
        }
    }
    ::close(fd);
    return ok;
}

bool replaceFile(const std::string& path, const std::string& text, const Words& words, std::string& error) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    int err = 0;
    if (fd < 0) {
        err = errno;
    } else {
        size_t done = 0;
        while (done < text.size() && err == 0) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno != EINTR) err = errno;
            if (n > 0) done += size_t(n);
        }
        if (err == 0 && ::fchmod(fd, 0600) != 0) err = errno;
        if (err == 0 && ::fsync(fd) != 0) err = errno;
        if (::close(fd) != 0 && err == 0) err = errno;
        if (err == 0 && std::rename(temp.c_str(), path.c_str()) != 0) err = errno;
        if (err != 0) ::unlink(temp.c_str());
    }
    if (err == 0) {
        // The rename itself survives a power cut only once the folder is synced.
        std::string folder = std::filesystem::path(path).parent_path().string();
        const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return true;
    }
    error = platform::joinLines({words.unwritable, path, std::strerror(err)});
    return false;
}

namespace {

// Opens (creating it 0600 when missing) the lock file: never through a link, never a FIFO.
int openLockFile(const std::string& lockPath, const Words& words, std::string& error) {
    // Created here: 0600 whatever the umask.
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && ::fchmod(fd, 0600) != 0) {
        const int err = errno;
        ::close(fd);
        fd = -1;
        errno = err;
    } else if (fd < 0 && errno == EEXIST) {
        fd = ::open(lockPath.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0) {
        error = errno == ELOOP ? linkRefused(lockPath, words.lockFile)
                               : platform::joinLines({words.unlockable, lockPath, std::strerror(errno)});
        return -1;
    }
    if (!checkOwnFile(fd, lockPath, words.lockFile, error)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int lockByte(const std::string& lockPath, int slot, int waitSeconds, const Words& words,
             const std::function<void()>& onWait, bool& busy, std::string& error) {
    busy = false;
    const int fd = openLockFile(lockPath, words, error);
    if (fd < 0) return -1;
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = slot;
    range.l_len = 1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    for (;;) {
        if (::fcntl(fd, F_OFD_SETLK, &range) == 0) return fd;
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
            error = platform::joinLines({words.unlockable, lockPath, std::strerror(errno)});
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            busy = true;
            error = platform::joinLines({words.busy +
                                             (waitSeconds > 0 ? " (gewartet: " + std::to_string(waitSeconds) + " Sekunden)"
                                                              : std::string()) + ":",
                                         lockPath, "Bitte später noch einmal versuchen (LockTimeout= in nwclient.conf)."});
            break;
        }
        if (onWait) onWait();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd);
    return -1;
}

}  // namespace deny::statefile
