// stop, go, pending, log and due with Service= in nwclient.conf: the school's service keeps the
// holds, runs the changes and the releases; tarvel-ctl asks it with the operator's own login and
// shows its words.
#include "ctl/ctl.h"
#include "deny/describe.h"
#include "deny/schedule.h"
#include "deny/service.h"
#include "platform/stderr_line.h"

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace ctl {

namespace {

// Lines without their indent on one line, behind the caption unless all went well (as describe's
// oneLine words a job of tarvel-ctl's own).
std::string oneLine(const std::string& caption, const std::vector<std::string>& lines, bool ok) {
    std::string out = ok ? "" : caption + ":";
    for (const std::string& line : lines) {
        const size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos) out += (out.empty() ? "" : " ") + line.substr(start);
    }
    return out.empty() ? caption : out;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string untilText(std::time_t until) { return until ? deny::formatLocalTime(until) : "bis auf Weiteres"; }

}  // namespace

int cmdServiceStopGo(bool stop, const Options& options) {
    std::time_t until = 0;
    const std::time_t now = std::time(nullptr);
    if (!options.forText.empty()) deny::parseDuration(options.forText, now, until);
    if (!options.untilText.empty()) deny::parseClockTime(options.untilText, now, until);
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const deny::Direction direction = stop ? deny::Direction::Stop : deny::Direction::Go;
    const deny::ServiceJob job = deny::serviceChange(
        stop ? deny::ServiceAction::Stop : deny::ServiceAction::Go, options.names, until,
        [&](size_t done, size_t total) {
            if (!terminal || total == 0) return;
            std::fprintf(stderr, "\r%s", deny::progressText(direction, done, total).c_str());
            std::fflush(stderr);
            platform::openStderrLine();
        });
    platform::endStderrLine();
    if (!job.error.empty()) {
        say(job.error);
        return Failed;
    }
    say(oneLine(job.caption, job.lines, job.ok));
    for (const deny::ServiceJob::Box& box : job.boxes) say(oneLine(box.caption, splitLines(box.text), false));
    return job.ok ? Done : Failed;
}

int cmdServicePending(const Options& options) {
    std::vector<deny::Hold> holds;
    std::string error;
    if (!deny::serviceHolds(holds, error)) {
        say(error);
        return Failed;
    }
    std::string out = options.json ? "[" : "";
    for (size_t i = 0; i < holds.size(); ++i) {
        const deny::Hold& h = holds[i];
        if (options.json)
            out += std::string(i ? "," : "") + "{\"until\":" + (h.until ? jsonString(deny::formatLocalTime(h.until)) : "null") +
                   ",\"user\":" + jsonString(h.user) + ",\"holder\":" + jsonString(h.holder) +
                   ",\"since\":" + jsonString(deny::formatLocalTime(h.since)) + "}";
        else
            out += untilText(h.until) + "  " + h.user + "  (" + h.holder + ")\n";
    }
    if (options.json) out += "]\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? Done : Failed;
}

int cmdServiceLog(const Options& options) {
    std::time_t since = 0;
    if (!options.since.empty() && !parseSince(options.since, since)) {
        std::fprintf(stderr, "tarvel-ctl: --since %s ist kein Datum (JJJJ-MM-TT [HH:MM])\n", options.since.c_str());
        return WrongUse;
    }
    std::vector<std::string> lines;
    std::string error;
    if (!deny::serviceLog(since, lines, error)) {
        say(error);
        return Failed;
    }
    std::string out = options.json ? "[" : "";
    for (size_t i = 0; i < lines.size(); ++i) out += options.json ? (i ? "," : "") + lineAsJson(lines[i]) : lines[i] + "\n";
    if (options.json) out += "]\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? Done : Failed;
}

int cmdServiceDue() {
    // Two carrying out the same plan would free pupils twice and race over the holds.
    say("Die zeitgesteuerten Freigaben führt der Dienst " + deny::serviceAddress() + " aus: nichts zu tun.");
    return Done;
}

}  // namespace ctl
