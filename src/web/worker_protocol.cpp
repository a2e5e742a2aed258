// The worker's lines: reading them with a time bound, and the JSON forms of boxes and results.
#include "web/worker_protocol.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace web::wire {

void wipe(std::string& s) {
    explicit_bzero(s.data(), s.size());
    s.clear();
}

void LineReader::wipe() { wire::wipe(buffer_); }

LineReader::Result LineReader::next(std::string& line, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            line.assign(buffer_, 0, end);
            // Erased in place: the bytes left behind are overwritten, not freed with a copy.
            const size_t rest = buffer_.size() - end - 1;
            std::memmove(buffer_.data(), buffer_.data() + end + 1, rest);
            explicit_bzero(buffer_.data() + rest, end + 1);
            buffer_.resize(rest);
            return Result::Line;
        }
        if (buffer_.size() > MAX_LINE_BYTES) return Result::Broken;
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return Result::TimedOut;
            wait = static_cast<int>(left);
        }
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Result::Broken;
        if (ready == 0) return Result::TimedOut;
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno == ECONNRESET ? Result::Closed : Result::Broken;
        if (n == 0) return Result::Closed;
        buffer_.append(chunk, static_cast<size_t>(n));
        explicit_bzero(chunk, static_cast<size_t>(n));
    }
}

bool writeLine(int fd, const std::string& text) {
    std::string all = text + "\n";
    size_t done = 0;
    while (done < all.size()) {
        const ssize_t n = ::send(fd, all.data() + done, all.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    wipe(all);
    return done == text.size() + 1;
}

std::string text(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

Json toJson(const Box& box) { return Json{{"caption", box.caption}, {"text", box.text}}; }

Box boxOf(const Json& json) { return Box{json.value("caption", std::string()), json.value("text", std::string())}; }

Json boxesToJson(const std::vector<Box>& boxes) {
    Json out = Json::array();
    for (const Box& b : boxes) out.push_back(toJson(b));
    return out;
}

std::vector<Box> boxesOf(const Json& json) {
    std::vector<Box> out;
    if (json.is_array())
        for (const Json& b : json) out.push_back(boxOf(b));
    return out;
}

Json toJson(const deny::JobResult& job) {
    return Json{{"requested", job.requested},       {"toChange", job.toChange},
                {"changed", job.changed},           {"unchanged", job.unchanged},
                {"halfDone", job.halfDone},         {"firstFailure", job.firstFailure},
                {"lastFailure", job.lastFailure},   {"failedOperation", job.failedOperation},
                {"groupRead", job.groupRead},       {"timedOut", job.timedOut},
                {"cancelled", job.cancelled},       {"pendingGosKept", job.pendingGosKept},
                {"scheduleError", job.scheduleError}};
}

deny::JobResult jobOf(const Json& json) {
    deny::JobResult job;
    job.requested = json.value("requested", size_t{0});
    job.toChange = json.value("toChange", size_t{0});
    job.changed = json.value("changed", size_t{0});
    job.unchanged = json.value("unchanged", size_t{0});
    job.halfDone = json.value("halfDone", size_t{0});
    job.firstFailure = json.value("firstFailure", int32_t{0});
    job.lastFailure = json.value("lastFailure", int32_t{0});
    job.failedOperation = json.value("failedOperation", std::string());
    job.groupRead = json.value("groupRead", false);
    job.timedOut = json.value("timedOut", false);
    job.cancelled = json.value("cancelled", false);
    job.pendingGosKept = json.value("pendingGosKept", false);
    job.scheduleError = json.value("scheduleError", std::string());
    return job;
}

}  // namespace web::wire
