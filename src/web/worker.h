// A session's worker: one process per logged-in teacher (and one for the service's own account),
// bound to the directory as that account and holding the connection until it ends. The layers
// keep one connection per process, so teachers never share one. The password goes to the worker
// once, at its start, and never leaves it: it is in no message back, no file, no log, and the
// worker is not dumpable. The parent talks to it over a socket pair, one request at a time.
#pragma once

#include "web/desk.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace web {

struct WorkerSetup {
    std::string clientConfiguration;  // the service's nwclient.conf (tree, base, CA, service account)
    std::string settingsFile;         // the settings file (deny group, base container, filters)
    std::string loginFile;            // the embedded tree's login file (crypt hashes); empty: none
    std::string program;              // the worker program; empty: tarvel-web-worker beside this one
    int answerSeconds = 120;          // longest wait for an answer (or a change's next progress)
    std::string auditLog;             // the trail when nwclient.conf names none: the state folder's
};

// Why a login failed, for the page.
enum class LoginFailure {
    None,
    BadCredentials,   // unknown login or wrong password (the page does not say which)
    Unreachable,      // the directory did not answer
    NotConfigured,    // the service's own configuration is unusable
    WorkerFailed,     // the process could not be started or died
};

struct ClassEntry {
    std::string name;     // typeless full name of the container
    std::string caption;  // its name relative to the base container, for the page
};

struct PupilEntry {
    std::string name;     // typeless full name
    std::string caption;  // its leaf name
    std::string login;    // what the proxy sees (the leaf name; sAMAccountName on AD)
    bool stopped = false; // in the deny group
};

class Worker : public DirectorySession {
public:
    // Starts a worker bound as login with password. An empty login binds the service's own
    // account as its nwclient.conf says (the timer's releases). Null with failure set when the
    // login or the bind failed; message then holds the German words for the page.
    static std::unique_ptr<Worker> start(const WorkerSetup& setup, const std::string& login,
                                         const std::string& password, LoginFailure& failure,
                                         std::string& message);
    ~Worker() override;  // ends the process

    std::string operatorName() const override;
    GatherResult gather(const text::NameList& names) override;
    ChangeResult change(deny::Direction direction, const text::NameList& users,
                        const deny::ProgressFn& progress) override;

    // The classes below the base container (the settings file's filters applied), sorted.
    bool classes(std::vector<ClassEntry>& out, std::vector<Box>& boxes);
    // The pupils of one class (users anywhere below it), sorted, with their state in the group.
    bool pupils(const std::string& className, std::vector<PupilEntry>& out, std::vector<Box>& boxes);

    // What the worker says of itself: whether it is dumpable (prctl) and its core size limit.
    bool selfReport(int& dumpable, long long& coreLimit);

    // False once the process has ended (killed, crashed, timed out).
    bool alive() const;
    pid_t pid() const;

private:
    struct Impl;
    explicit Worker(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace web
