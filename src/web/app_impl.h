// The parts of App shared by its page routes (page_routes.cpp) and its API (api_routes.cpp):
// logins, callers, starting changes as jobs, the timer.
#pragma once

#include "web/app.h"
#include "web/desk.h"
#include "web/jobs.h"
#include "web/sessions.h"
#include "web/throttle.h"
#include "web/worker.h"

#include <mutex>

namespace web {

// Who asks: a session (cookie) or a Basic login.
struct Caller {
    std::shared_ptr<Session> session;
    std::shared_ptr<BasicWorker> basic;
    std::string basicLogin;  // a Basic caller let in by a recent check, without a worker
    std::string owner() const { return session ? "s:" + session->id : "b:" + (basic ? basic->login : basicLogin); }
    const std::string& token() const;  // empty for Basic
    std::string teacher() const;
};

// The outcome of a login: a worker, or the status and German words for the refusal.
struct LoginAttempt {
    int status = 200;
    std::string message;
    int retryAfter = 0;
    WorkerSlots::Slot slot;
    std::unique_ptr<Worker> worker;
};

enum class Change { Stop, Release, Go };

// The result's words as the teacher reads them: describe's, then the desk's.
std::vector<std::string> resultLines(const DeskResult& result);

class AppImpl final : public App {
public:
    AppImpl(const WebConfig& config, const WorkerSetup& setup, std::unique_ptr<deny::HoldStore> store,
            const std::string& tree, const std::string& group, const std::string& base,
            std::unique_ptr<Worker> service);
    ~AppImpl() override;

    Response handle(const Request& request) override;
    void tick(std::time_t now) override;

    // page_routes.cpp
    Response page(const Request& request);
    // api_routes.cpp
    Response api(const Request& request);

    LoginAttempt login(const std::string& login, const std::string& password, const std::string& address);
    // "stunde": the end of this lesson; false with message set when none is left today.
    bool lessonUntil(std::time_t now, std::time_t& until, std::string& message) const;
    // Starts the change as a job; 0 with status and message set when refused.
    unsigned long startChange(const Caller& caller, Change change, const text::NameList& names, std::time_t until,
                              const std::string& backTo, int& status, std::string& message);
    std::string classCaption(const std::string& className) const;
    bool secureCookies(const Request& request) const;

    const WebConfig config_;
    const WorkerSetup setup_;
    std::unique_ptr<deny::HoldStore> store_;
    // The jobs' threads call it at once: the file's store takes their updates one write at a time.
    deny::HoldStore* holds_;
    Desk desk_;
    const std::string base_;
    WorkerSlots slots_;
    SessionTable sessions_;
    LoginThrottle throttle_;
    BasicPool basicPool_;

private:
    void runDue(std::time_t now);

    std::mutex serviceMutex_;
    std::unique_ptr<Worker> service_;
    std::time_t lastAuditPrune_ = 0;

public:
    JobTable jobs_;  // last: its destructor waits for the jobs, which use everything above
};

// JSON and errors shared by the routes.
Response jsonResponse(int status, const std::string& body);
Response jsonError(int status, const std::string& message);

}  // namespace web
