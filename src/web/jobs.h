// Changes run as jobs in a thread of their own, so a large class does not hold the HTTP
// connection: the page and the API poll the job by its number. A job is readable only by the one
// who started it (its session, or the same login over HTTP Basic) and is kept a while after its end.
#pragma once

#include "web/desk.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace web {

struct JobStatus {
    unsigned long id = 0;
    bool running = true;
    size_t done = 0, total = 0;
    DeskResult result;     // once it has ended
    std::string backTo;    // the class the change was started from
};

using JobWork = std::function<DeskResult(const deny::ProgressFn& progress)>;

class JobTable {
public:
    explicit JobTable(std::time_t keepSeconds = 30 * 60) : keepSeconds_(keepSeconds) {}
    ~JobTable();  // waits for the running jobs

    // Starts work for owner. With exclusive, refuses (0, running gets the job's id) while one of
    // owner's jobs runs: a session's worker takes one request at a time.
    unsigned long start(const std::string& owner, bool exclusive, const std::string& backTo, JobWork work,
                        unsigned long& running);
    // False when there is no such job or it is not owner's. A running job is waited for up to
    // wait, so a client learns of its end at once without asking again and again.
    bool read(unsigned long id, const std::string& owner, JobStatus& out,
              std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // Forgets the jobs that ended longer ago than they are kept.
    void prune(std::time_t now);

private:
    struct Entry {
        std::string owner;
        JobStatus status;
        std::time_t ended = 0;
        std::thread thread;
    };
    const std::time_t keepSeconds_;
    std::mutex mutex_;
    std::condition_variable ended_;
    unsigned long next_ = 1;
    std::map<unsigned long, std::shared_ptr<Entry>> jobs_;
};

}  // namespace web
