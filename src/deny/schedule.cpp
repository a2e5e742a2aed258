#include "deny/schedule.h"

#include "deny/client_conf.h"
#include "platform/ports.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace deny {

namespace {

constexpr const char* Header =
    "# tarvel schedule 2: due (seconds since 1970), deny group, user[, state]; tab-separated";

SchedulePointHook pointHook;

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

bool unescapeField(const std::string& s, std::string& out) {
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
    return !out.empty();
}

std::string stateText(const PendingGo& e) {
    switch (e.state) {
        case PendingGo::State::Planned: return "";
        case PendingGo::State::Intent: return "\tintent:" + e.token;
        case PendingGo::State::Releasing: return "\treleasing";
        case PendingGo::State::Cancelled: return "\tcancelled";
    }
    return "";
}

bool parseState(const std::string& text, PendingGo& e) {
    if (text == "releasing") e.state = PendingGo::State::Releasing;
    else if (text == "cancelled") e.state = PendingGo::State::Cancelled;
    else if (text.rfind("intent:", 0) == 0 && text.size() > 7) {
        e.state = PendingGo::State::Intent;
        e.token = text.substr(7);
    } else {
        return false;
    }
    return true;
}

std::string unreadable(const std::string& path, const std::string& why) {
    return platform::joinLines({"Der Zeitplan kann nicht gelesen werden:", path, why});
}

bool parseSchedule(const std::string& text, const std::string& path, std::vector<PendingGo>& entries,
                   std::string& error) {
    std::istringstream in(text);
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        for (size_t start = 0;;) {
            const size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        PendingGo entry;
        bool ok = fields.size() == 3 || (fields.size() == 4 && parseState(fields[3], entry));
        if (ok) {
            char* end = nullptr;
            errno = 0;
            const long long value = std::strtoll(fields[0].c_str(), &end, 10);
            ok = !fields[0].empty() && errno == 0 && *end == '\0' && value >= 0;
            entry.due = std::time_t(value);
        }
        ok = ok && unescapeField(fields[1], entry.group) && unescapeField(fields[2], entry.user);
        if (!ok) {
            error = unreadable(path, "Zeile " + std::to_string(number) + " ist kein Eintrag.");
            return false;
        }
        entries.push_back(std::move(entry));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const PendingGo& a, const PendingGo& b) { return a.due < b.due; });
    return true;
}

// A file of the schedule frees pupils: it must be a regular file (a FIFO would hang every
// reader) of this account, and nobody else may write it.
bool checkOwnFile(int fd, const std::string& path, const char* what, std::string& error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = platform::joinLines({std::string(what) + " kann nicht geprüft werden:", path, std::strerror(errno)});
        return false;
    }
    std::string why;
    if (!S_ISREG(st.st_mode)) why = " ist keine gewöhnliche Datei:";
    else if (st.st_uid != ::geteuid()) why = " gehört nicht dem Konto, unter dem Tarvel läuft:";
    else if (st.st_mode & (S_IWGRP | S_IWOTH)) why = " darf von anderen Konten geschrieben werden:";
    if (why.empty()) return true;
    error = platform::joinLines({std::string(what) + why, path, "Diese Datei wird nicht verwendet."});
    return false;
}

std::string linkRefused(const std::string& path, const char* what) {
    return platform::joinLines({std::string(what) + " ist ein symbolischer Verweis:", path, "Diese Datei wird nicht verwendet."});
}

bool writeSchedule(const std::string& path, const std::vector<PendingGo>& entries, std::string& error) {
    std::string text = std::string(Header) + "\n";
    for (const PendingGo& e : entries)
        text += std::to_string(static_cast<long long>(e.due)) + "\t" + escapeField(e.group) + "\t" +
                escapeField(e.user) + stateText(e) + "\n";
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
    if (err == 0) return true;
    error = platform::joinLines({"Der Zeitplan kann nicht geschrieben werden:", path, std::strerror(err)});
    return false;
}

// Opens (creating it 0600 when missing) the lock file: never through a link, never a FIFO.
int openLockFile(const std::string& lockPath, std::string& error) {
    const char* what = "Die Sperrdatei des Zeitplans";
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
        error = errno == ELOOP ? linkRefused(lockPath, what)
                               : platform::joinLines({"Der Zeitplan kann nicht gesperrt werden:", lockPath,
                                                      std::strerror(errno)});
        return -1;
    }
    if (!checkOwnFile(fd, lockPath, what, error)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

void setSchedulePointHook(SchedulePointHook hook) { pointHook = std::move(hook); }

void schedulePoint(const char* point) {
    if (pointHook) pointHook(point);
}

std::string schedulePath() {
    const ClientConf conf = readClientConf();
    if (!conf.schedule.empty()) return conf.schedule;
    if (!conf.found) return {};
    return (std::filesystem::path(conf.file).parent_path() / "tarvel-schedule").string();
}

std::string scheduleKey(const std::string& name) {
    return text::localeSortKey(!name.empty() && name[0] == '.' ? std::string_view(name).substr(1) : std::string_view(name));
}

bool isCarriedOutBy(const PendingGo& e, const std::string& group) {
    return (e.state == PendingGo::State::Planned || e.state == PendingGo::State::Releasing) &&
           scheduleKey(e.group) == scheduleKey(group);
}

bool readSchedule(const std::string& path, std::vector<PendingGo>& entries, std::string& error) {
    entries.clear();
    // O_NONBLOCK: a FIFO put in its place must not hang the window or the timer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return true;  // nothing planned (yet)
        error = errno == ELOOP ? linkRefused(path, "Der Zeitplan") : unreadable(path, std::strerror(errno));
        return false;
    }
    std::string text;
    bool ok = checkOwnFile(fd, path, "Der Zeitplan", error);
    for (char buffer[65536]; ok;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n > 0) text.append(buffer, size_t(n));
        else if (errno != EINTR) {
            error = unreadable(path, std::strerror(errno));
            ok = false;
        }
    }
    ::close(fd);
    return ok && parseSchedule(text, path, entries, error);
}

ScheduleLock::~ScheduleLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
}

bool ScheduleLock::lock(const std::string& schedule, Slot slot, bool wait, std::string& error) {
    const std::string lockPath = schedule + ".lock";
    fd_ = openLockFile(lockPath, error);
    if (fd_ < 0) return false;
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = slot;
    range.l_len = 1;
    const int seconds = wait ? readClientConf().lockTimeout : 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (::fcntl(fd_, F_OFD_SETLK, &range) == 0) return true;
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
            error = platform::joinLines({"Der Zeitplan kann nicht gesperrt werden:", lockPath, std::strerror(errno)});
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            busy_ = true;
            error = platform::joinLines({"Der Zeitplan ist gerade von einem anderen Vorgang gesperrt" +
                                             (seconds > 0 ? " (gewartet: " + std::to_string(seconds) + " Sekunden)" : std::string()) + ":",
                                         lockPath, "Bitte später noch einmal versuchen (LockTimeout= in nwclient.conf)."});
            break;
        }
        schedulePoint("lock busy");
        platform::pumpMessages();  // the window stays responsive while it waits
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd_);
    fd_ = -1;
    return false;
}

bool updateSchedule(const std::string& path, const std::function<bool(std::vector<PendingGo>&)>& change,
                    std::string& error) {
    ScheduleLock lock;
    if (!lock.lock(path, ScheduleLock::Plan, true, error)) return false;
    std::vector<PendingGo> entries;
    return readSchedule(path, entries, error) && (!change(entries) || writeSchedule(path, entries, error));
}

bool cancelPendingGos(Direction direction, const text::NameList& users, const std::string& group, std::string& error) {
    const std::string path = schedulePath();
    struct stat st {};
    if (path.empty() || (::lstat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))) return true;
    std::set<std::string> keys;
    for (const std::string& u : users) keys.insert(scheduleKey(u));
    const std::string groupKey = scheduleKey(group);
    using State = PendingGo::State;
    return updateSchedule(
        path,
        [&](std::vector<PendingGo>& entries) {
            bool changed = false;
            std::erase_if(entries, [&](PendingGo& e) {
                if (scheduleKey(e.group) != groupKey || !keys.count(scheduleKey(e.user))) return false;
                // A go leaves the intents: the timed stop running now comes after it.
                const bool drop = direction == Direction::Stop ? e.state == State::Planned || e.state == State::Intent
                                                               : e.state != State::Intent;
                if (direction == Direction::Stop && e.state == State::Releasing) {
                    e.state = State::Cancelled;  // due is freeing the user: it stops the user again
                    changed = true;
                }
                changed = changed || drop;
                return drop;
            });
            return changed;
        },
        error);
}

bool parseDuration(const std::string& text, std::time_t now, std::time_t& due) {
    if (text.size() < 2) return false;
    const char unit = text.back();
    const std::string digits = text.substr(0, text.size() - 1);
    if (digits.empty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const long long n = std::stoll(digits);
    long long factor = 0;
    if (unit == 's') factor = 1;
    else if (unit == 'm') factor = 60;
    else if (unit == 'h') factor = 3600;
    else return false;
    if (n == 0) return false;
    due = now + std::time_t(n * factor);
    return true;
}

bool parseClockTime(const std::string& text, std::time_t now, std::time_t& due) {
    int h = -1, m = -1;
    char rest = 0;
    if (text.size() != 5 || text[2] != ':' || std::sscanf(text.c_str(), "%2d:%2d%c", &h, &m, &rest) != 2) return false;
    if (h < 0 || h > 23 || m < 0 || m > 59) return false;
    std::tm tm{};
    localtime_r(&now, &tm);
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    if (t <= now) {
        tm.tm_mday += 1;
        tm.tm_hour = h;
        tm.tm_min = m;
        tm.tm_isdst = -1;
        t = std::mktime(&tm);
    }
    due = t;
    return true;
}

std::string formatLocalTime(std::time_t when) {
    std::tm tm{};
    localtime_r(&when, &tm);
    char out[32];
    std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &tm);
    return out;
}

}  // namespace deny
