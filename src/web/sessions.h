// The teachers' sessions: a random id (the cookie) and a separate random token (the forms), the
// teacher's worker, and when it was last used. Every worker, a session's or a Basic request's,
// takes one of MaxSessions= slots, so hostile logins cannot fill the server with processes.
#pragma once

#include "web/worker.h"

#include <atomic>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace web {

// bytes of the kernel's randomness as lower-case hex.
std::string randomHex(size_t bytes);
// Compares two secrets in a time that does not depend on where they differ.
bool sameSecret(const std::string& a, const std::string& b);

// MaxSessions=: a slot is taken before a worker starts and given back when it has ended.
class WorkerSlots {
public:
    explicit WorkerSlots(int limit) : limit_(limit) {}
    class Slot {
    public:
        Slot() = default;
        explicit Slot(WorkerSlots* owner) : owner_(owner) {}
        Slot(Slot&& other) noexcept : owner_(other.owner_) { other.owner_ = nullptr; }
        Slot& operator=(Slot&& other) noexcept;
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;
        ~Slot() { release(); }
        explicit operator bool() const { return owner_ != nullptr; }
        void release();

    private:
        WorkerSlots* owner_ = nullptr;
    };
    // An empty slot when every slot is taken.
    Slot take();

private:
    const int limit_;
    std::atomic<int> used_{0};
};

struct Session {
    std::string id;
    std::string token;
    std::string login;
    std::string teacher;  // the worker's operator name
    WorkerSlots::Slot slot;          // declared first: freed only after the worker has ended
    std::unique_ptr<Worker> worker;
    std::timed_mutex use;            // the worker takes one request at a time
    std::time_t lastUse = 0;
};

// An HTTP Basic caller's worker: for one request (or the job it started), then kept idle a
// minute for the same login and password, so a script's next request (a job's poll) need not
// start and bind a process again.
struct BasicWorker {
    WorkerSlots::Slot slot;  // first: freed only after the worker has ended
    std::unique_ptr<Worker> worker;
    std::string login;
    std::string digest;      // of the password, with the pool's salt; never the password itself
};

class BasicPool {
public:
    BasicPool();
    // The salted digest the pool compares; slow enough to be no shortcut for guessing.
    std::string digest(const std::string& password) const;
    // An idle worker of login started with the same password, or null.
    std::shared_ptr<BasicWorker> take(const std::string& login, const std::string& digest);
    void give(std::shared_ptr<BasicWorker> worker, std::time_t now);
    // A login whose password the directory accepted within the last minute: a script polling
    // its job, or reading holds and the trail, needs no worker and no new check for that.
    void remember(const std::string& login, const std::string& digest, std::time_t now);
    bool recentlyAccepted(const std::string& login, const std::string& digest, std::time_t now);
    // Ends the workers idle longer than a minute (all of them with everything); returned so they
    // end outside the lock.
    std::vector<std::shared_ptr<BasicWorker>> expire(std::time_t now, bool everything = false);

private:
    struct Idle {
        std::shared_ptr<BasicWorker> worker;
        std::time_t since = 0;
    };
    std::string salt_;
    std::mutex mutex_;
    std::multimap<std::string, Idle> idle_;  // by login
    std::map<std::string, std::pair<std::string, std::time_t>> accepted_;  // login: digest, when
};

class SessionTable {
public:
    explicit SessionTable(int minutes) : idleSeconds_(std::time_t(minutes) * 60) {}

    std::shared_ptr<Session> add(const std::string& login, std::unique_ptr<Worker> worker,
                                 WorkerSlots::Slot slot, std::time_t now);
    // The session of id, used now; null when unknown, ended or idle too long.
    std::shared_ptr<Session> find(const std::string& id, std::time_t now);
    // Ends the session; its worker ends as soon as a running job lets go of it.
    std::shared_ptr<Session> remove(const std::string& id);
    // Ends the sessions idle since SessionMinutes=; returned so their workers end outside the lock.
    std::vector<std::shared_ptr<Session>> expire(std::time_t now);

private:
    const std::time_t idleSeconds_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Session>> sessions_;
};

}  // namespace web
