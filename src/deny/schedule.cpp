#include "deny/schedule.h"

#include "deny/client_conf.h"
#include "platform/ports.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deny {

namespace {

constexpr const char* Header = "# tarvel schedule 1: due (seconds since 1970), deny group, user; tab-separated";

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
        const size_t t1 = line.find('\t');
        const size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
        PendingGo entry;
        bool ok = t2 != std::string::npos && line.find('\t', t2 + 1) == std::string::npos;
        if (ok) {
            const std::string due = line.substr(0, t1);
            char* end = nullptr;
            errno = 0;
            const long long value = std::strtoll(due.c_str(), &end, 10);
            ok = !due.empty() && errno == 0 && *end == '\0' && value >= 0;
            entry.due = std::time_t(value);
        }
        ok = ok && unescapeField(line.substr(t1 + 1, t2 - t1 - 1), entry.group) &&
             unescapeField(line.substr(t2 + 1), entry.user);
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

bool writeSchedule(const std::string& path, const std::vector<PendingGo>& entries, std::string& error) {
    std::string text = std::string(Header) + "\n";
    for (const PendingGo& e : entries)
        text += std::to_string(static_cast<long long>(e.due)) + "\t" + escapeField(e.group) + "\t" +
                escapeField(e.user) + "\n";
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
        if (err == 0 && ::fchmod(fd, 0640) != 0) err = errno;
        if (err == 0 && ::fsync(fd) != 0) err = errno;
        if (::close(fd) != 0 && err == 0) err = errno;
        if (err == 0 && std::rename(temp.c_str(), path.c_str()) != 0) err = errno;
        if (err != 0) ::unlink(temp.c_str());
    }
    if (err == 0) return true;
    error = platform::joinLines({"Der Zeitplan kann nicht geschrieben werden:", path, std::strerror(err)});
    return false;
}

}  // namespace

std::string schedulePath() {
    const ClientConf conf = readClientConf();
    if (!conf.schedule.empty()) return conf.schedule;
    if (!conf.found) return {};
    return (std::filesystem::path(conf.file).parent_path() / "tarvel-schedule").string();
}

bool readSchedule(const std::string& path, std::vector<PendingGo>& entries, std::string& error) {
    entries.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT && !std::filesystem::exists(path)) return true;
        error = unreadable(path, std::strerror(errno));
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = unreadable(path, "Lesefehler.");
        return false;
    }
    return parseSchedule(text.str(), path, entries, error);
}

bool updateSchedule(const std::string& path, const std::function<bool(std::vector<PendingGo>&)>& change,
                    std::string& error) {
    const std::string lockPath = path + ".lock";
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        error = platform::joinLines({"Der Zeitplan kann nicht gesperrt werden:", lockPath, std::strerror(errno)});
        if (lock >= 0) ::close(lock);
        return false;
    }
    std::vector<PendingGo> entries;
    bool ok = readSchedule(path, entries, error);
    if (ok && change(entries)) ok = writeSchedule(path, entries, error);
    ::close(lock);  // releases the lock
    return ok;
}

bool dropPendingGos(const text::NameList& users, const std::string& group) {
    const std::string path = schedulePath();
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec)) return true;
    std::vector<std::string> keys;
    keys.reserve(users.size());
    for (const std::string& u : users) keys.push_back(text::localeSortKey(u));
    std::sort(keys.begin(), keys.end());
    const std::string groupKey = text::localeSortKey(group);
    std::string error;
    const bool ok = updateSchedule(
        path,
        [&](std::vector<PendingGo>& entries) {
            const size_t before = entries.size();
            std::erase_if(entries, [&](const PendingGo& e) {
                return text::localeSortKey(e.group) == groupKey &&
                       std::binary_search(keys.begin(), keys.end(), text::localeSortKey(e.user));
            });
            return entries.size() != before;
        },
        error);
    if (!ok) platform::showMessage(error, "Tarvel Zeitplan");
    return ok;
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
