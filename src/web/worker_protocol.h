// What a session's worker and the service say to each other over their socket: one JSON object a
// line, one request at a time. Shared by both sides only.
#pragma once

#include "deny/job.h"
#include "web/desk.h"

#include <nlohmann/json.hpp>

#include <string>

namespace web::wire {

using Json = nlohmann::json;

// Larger answers than any class list or gathering of a big school; a longer line is no answer.
constexpr size_t MAX_LINE_BYTES = 256u << 20;

// Reads the lines of one socket, keeping what came after the last one.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    enum class Result { Line, Closed, TimedOut, Broken };
    // Waits at most timeoutMs (negative: without bound) for the next line.
    Result next(std::string& line, int timeoutMs);
    // Wipes what is buffered (the first line holds the password).
    void wipe();

private:
    int fd_;
    std::string buffer_;
};

// One line's text; bytes that are no UTF-8 (a name from a client, say) become U+FFFD instead of
// ending the process with an exception.
std::string text(const Json& json);
// Writes text and a line end, whole; false when the other side is gone.
bool writeLine(int fd, const std::string& text);

Json toJson(const Box& box);
Box boxOf(const Json& json);
Json boxesToJson(const std::vector<Box>& boxes);
std::vector<Box> boxesOf(const Json& json);
Json toJson(const deny::JobResult& job);
deny::JobResult jobOf(const Json& json);

// Fills a string with zeros before it is let go.
void wipe(std::string& s);

}  // namespace web::wire

namespace web {
// The worker program: makes itself undumpable, reads the login from fd, binds and answers
// requests until the service closes the socket. The exit status.
int runWorker(int fd);
}  // namespace web
