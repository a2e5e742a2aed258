// pending and log: what is planned and what was done.
#include "ctl/ctl.h"
#include "deny/audit.h"
#include "deny/schedule.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace ctl {

bool readScheduleOrSay(std::string& path, std::vector<deny::PendingGo>& entries) {
    path = deny::schedulePath();
    if (path.empty()) {
        say("Keine nwclient.conf gefunden: kein Zeitplan.");
        return false;
    }
    std::string error;
    if (!deny::readSchedule(path, entries, error)) {
        say(error);
        return false;
    }
    return true;
}

int cmdPending(const Options& options) {
    std::string path;
    std::vector<deny::PendingGo> entries;
    if (!readScheduleOrSay(path, entries)) return Failed;
    // What due will free: not the intents of a timed stop still running, nor a stop-again.
    std::erase_if(entries, [](const deny::PendingGo& e) {
        return e.state == deny::PendingGo::State::Intent || e.state == deny::PendingGo::State::Cancelled;
    });
    std::string out = options.json ? "[" : "";
    for (size_t i = 0; i < entries.size(); ++i) {
        const deny::PendingGo& e = entries[i];
        if (options.json)
            out += std::string(i ? "," : "") + "{\"due\":" + jsonString(deny::formatLocalTime(e.due)) +
                   ",\"user\":" + jsonString(e.user) + ",\"group\":" + jsonString(e.group) + "}";
        else
            out += deny::formatLocalTime(e.due) + "  " + e.user + "\n";
    }
    if (options.json) out += "]\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? Done : Failed;
}

// "2026-12-07", "2026-12-07 08:00", "2026-12-07T08:00[:SS]": local time.
bool parseSince(const std::string& text, std::time_t& since) {
    std::tm tm{};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char sep = 0;
    const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &s);
    if (!(n == 3 || ((n == 6 || n == 7) && (sep == ' ' || sep == 'T')))) return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return false;
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    since = std::mktime(&tm);
    return since != std::time_t(-1);
}

std::string lineAsJson(const std::string& line) {
    std::string out = "{";
    size_t start = 0;
    bool first = true;
    while (start <= line.size()) {
        size_t tab = line.find('\t', start);
        if (tab == std::string::npos) tab = line.size();
        const std::string field = line.substr(start, tab - start);
        const size_t eq = field.find('=');
        std::string key = first ? "time" : (eq == std::string::npos ? "field" : field.substr(0, eq));
        std::string value = first || eq == std::string::npos ? field : field.substr(eq + 1);
        out += std::string(first ? "" : ",") + jsonString(key) + ":" + jsonString(value);
        first = false;
        start = tab + 1;
    }
    return out + "}";
}

int cmdLog(const Options& options) {
    std::time_t since = 0;
    if (!options.since.empty() && !parseSince(options.since, since)) {
        std::fprintf(stderr, "tarvel-ctl: --since %s ist kein Datum (JJJJ-MM-TT [HH:MM])\n", options.since.c_str());
        return WrongUse;
    }
    const std::string path = deny::auditLogPath();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return Done;  // nothing was changed yet
        say("Das Protokoll kann nicht gelesen werden: " + path + ": " + std::strerror(errno));
        return Failed;
    }
    std::string line, out = options.json ? "[" : "";
    bool first = true;
    while (std::getline(in, line)) {
        std::time_t when = 0;
        const bool timed = deny::auditLineTime(line, when);
        if (!options.since.empty() && (!timed || when < since)) continue;
        if (options.json) {
            out += std::string(first ? "" : ",") + lineAsJson(line);
        } else {
            out += line + "\n";
        }
        first = false;
    }
    if (in.bad()) {
        say("Das Protokoll kann nicht gelesen werden: " + path);
        return Failed;
    }
    if (options.json) out += "]\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? Done : Failed;
}

}  // namespace ctl
