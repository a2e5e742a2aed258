#include "deny/schedule.h"

#include "deny/client_conf.h"
#include "deny/state_file.h"
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

const statefile::Words& words() {
    static const statefile::Words w{"Der Zeitplan",
                                    "Die Sperrdatei des Zeitplans",
                                    "Der Zeitplan kann nicht gelesen werden:",
                                    "Der Zeitplan kann nicht geschrieben werden:",
                                    "Der Zeitplan kann nicht gesperrt werden:",
                                    "Der Zeitplan ist gerade von einem anderen Vorgang gesperrt"};
    return w;
}

using statefile::escapeField;
using statefile::unescapeField;

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

bool writeSchedule(const std::string& path, const std::vector<PendingGo>& entries, std::string& error) {
    std::string text = std::string(Header) + "\n";
    for (const PendingGo& e : entries)
        text += std::to_string(static_cast<long long>(e.due)) + "\t" + escapeField(e.group) + "\t" +
                escapeField(e.user) + stateText(e) + "\n";
    return statefile::replaceFile(path, text, words(), error);
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
    std::string text;
    bool exists = false;
    if (!statefile::readOwnFile(path, words(), text, exists, error)) return false;
    return !exists || parseSchedule(text, path, entries, error);
}

ScheduleLock::~ScheduleLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
}

bool ScheduleLock::lock(const std::string& schedule, Slot slot, bool wait, std::string& error) {
    const int seconds = wait ? readClientConf().lockTimeout : 0;
    fd_ = statefile::lockByte(schedule + ".lock", slot, seconds, words(), [] {
        schedulePoint("lock busy");
        platform::pumpMessages();  // the window stays responsive while it waits
    }, busy_, error);
    return fd_ >= 0;
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
