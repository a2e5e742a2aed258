// The service's side of a session's worker: starting the program, one request at a time over the
// socket, and a worker that died or stopped answering told apart from a refusal.
#include "web/worker.h"
#include "web/worker_protocol.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <fcntl.h>

extern char** environ;

namespace web {

using wire::Json;

struct Worker::Impl {
    pid_t pid = -1;
    int fd = -1;
    int answerMs = 120000;
    wire::LineReader reader{-1};
    std::string operatorName;
    std::mutex mutex;
    mutable std::mutex stateMutex;
    mutable bool dead = false;

    ~Impl() {
        if (fd >= 0) ::close(fd);  // the worker ends on the end of its socket
        if (pid <= 0) return;
        for (int i = 0; i < 50; ++i) {
            if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }

    void markDead() {
        std::lock_guard lock(stateMutex);
        if (!dead && pid > 0) ::kill(pid, SIGKILL);  // a late answer would be taken for the next one
        dead = true;
    }

    bool ended() const {
        std::lock_guard lock(stateMutex);
        if (dead) return true;
        siginfo_t info{};
        // WNOWAIT: looked at, not reaped; the pid stays this worker's until the destructor.
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) dead = true;
        return dead;
    }

    // Sends request and waits for its answer; progress lines go to onProgress and restart the
    // wait. Null when the worker is gone or did not answer in time.
    Json call(const Json& request, const std::function<void(const Json&)>& onProgress = {}) {
        if (ended()) return nullptr;
        std::string line = wire::text(request);
        const bool sent = wire::writeLine(fd, line);
        wire::wipe(line);
        if (!sent) {
            markDead();
            return nullptr;
        }
        for (;;) {
            if (reader.next(line, answerMs) != wire::LineReader::Result::Line) {
                markDead();
                return nullptr;
            }
            Json answer = Json::parse(line, nullptr, false);
            if (!answer.is_object()) {
                markDead();
                return nullptr;
            }
            if (!answer.contains("progress")) return answer;
            if (onProgress) onProgress(answer["progress"]);
        }
    }
};

namespace {

Box workerGone() {
    return {"Tarvelweb", "Die Sitzung ist beendet: ihr Arbeitsprozess antwortet nicht mehr.\r\nBitte melden Sie sich neu an."};
}

std::string defaultProgram() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (ec ? std::filesystem::path() : self.parent_path() / "tarvel-web-worker").string();
}

}  // namespace

Worker::Worker(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Worker::~Worker() = default;

std::unique_ptr<Worker> Worker::start(const WorkerSetup& setup, const std::string& login, const std::string& password,
                                      LoginFailure& failure, std::string& message) {
    failure = LoginFailure::WorkerFailed;
    message = "Der Arbeitsprozess der Sitzung kann nicht gestartet werden.";
    const std::string program = setup.program.empty() ? defaultProgram() : setup.program;
    int sv[2];
    if (program.empty() || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return nullptr;
    char* const argv[] = {const_cast<char*>(program.c_str()), nullptr};
    // Only async-signal-safe calls between fork and exec: the service has threads.
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (sv[1] == 3) ::fcntl(3, F_SETFD, 0);
        else if (::dup2(sv[1], 3) != 3) ::_exit(127);
        ::close_range(4, ~0u, 0);  // nothing of the service's (its listening sockets) goes along
        ::execve(program.c_str(), argv, environ);
        ::_exit(127);
    }
    ::close(sv[1]);
    if (pid < 0) {
        ::close(sv[0]);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->pid = pid;
    impl->fd = sv[0];
    impl->reader = wire::LineReader(sv[0]);
    impl->answerMs = setup.answerSeconds * 1000;
    Json request{{"login", login}, {"password", password}, {"clientConfiguration", setup.clientConfiguration},
                 {"settingsFile", setup.settingsFile}, {"loginFile", setup.loginFile}, {"auditLog", setup.auditLog}};
    Json answer = impl->call(request);
    wire::wipe(request["password"].get_ref<std::string&>());
    if (answer.is_null()) return nullptr;  // the destructor ends the process
    if (!answer.value("ok", false)) {
        failure = static_cast<LoginFailure>(answer.value("failure", static_cast<int>(LoginFailure::WorkerFailed)));
        message = answer.value("message", std::string());
        return nullptr;
    }
    failure = LoginFailure::None;
    message.clear();
    impl->operatorName = answer.value("operator", std::string());
    return std::unique_ptr<Worker>(new Worker(std::move(impl)));
}

std::string Worker::operatorName() const { return impl_->operatorName; }

GatherResult Worker::gather(const text::NameList& names) {
    std::lock_guard lock(impl_->mutex);
    GatherResult result;
    const Json a = impl_->call(Json{{"op", "gather"}, {"names", names}});
    if (a.is_null()) {
        result.boxes.push_back(workerGone());
        return result;
    }
    result.ok = a.value("ok", false);
    result.users = a.value("users", text::NameList());
    result.skipped = a.value("skipped", text::NameList());
    result.unknown = a.value("unknown", text::NameList());
    result.boxes = wire::boxesOf(a.value("boxes", Json::array()));
    return result;
}

ChangeResult Worker::change(deny::Direction direction, const text::NameList& users, const deny::ProgressFn& progress) {
    std::lock_guard lock(impl_->mutex);
    ChangeResult result;
    const Json request{{"op", "change"}, {"direction", direction == deny::Direction::Go ? "go" : "stop"}, {"users", users}};
    const Json a = impl_->call(request, [&](const Json& p) {
        if (progress && p.is_array() && p.size() == 2) progress(p[0].get<size_t>(), p[1].get<size_t>());
    });
    if (a.is_null()) {
        // What the worker did before it went is unknown: the result says so, never success.
        result.job.requested = users.size();
        result.job.timedOut = true;
        result.boxes.push_back(workerGone());
        return result;
    }
    result.job = wire::jobOf(a.value("job", Json::object()));
    result.inGroup = a.value("inGroup", text::NameList());
    result.inGroupKnown = a.value("inGroupKnown", false);
    result.boxes = wire::boxesOf(a.value("boxes", Json::array()));
    return result;
}

bool Worker::classes(std::vector<ClassEntry>& out, std::vector<Box>& boxes) {
    std::lock_guard lock(impl_->mutex);
    out.clear();
    const Json a = impl_->call(Json{{"op", "classes"}});
    if (a.is_null()) {
        boxes.push_back(workerGone());
        return false;
    }
    for (const Box& b : wire::boxesOf(a.value("boxes", Json::array()))) boxes.push_back(b);
    for (const Json& c : a.value("classes", Json::array())) out.push_back({c.at(0).get<std::string>(), c.at(1).get<std::string>()});
    return a.value("ok", false);
}

bool Worker::pupils(const std::string& className, std::vector<PupilEntry>& out, std::vector<Box>& boxes) {
    std::lock_guard lock(impl_->mutex);
    out.clear();
    const Json a = impl_->call(Json{{"op", "pupils"}, {"class", className}});
    if (a.is_null()) {
        boxes.push_back(workerGone());
        return false;
    }
    for (const Box& b : wire::boxesOf(a.value("boxes", Json::array()))) boxes.push_back(b);
    for (const Json& p : a.value("pupils", Json::array()))
        out.push_back({p.at(0).get<std::string>(), p.at(1).get<std::string>(), p.at(2).get<std::string>(), p.at(3).get<bool>()});
    return a.value("ok", false);
}

bool Worker::selfReport(int& dumpable, long long& coreLimit) {
    std::lock_guard lock(impl_->mutex);
    const Json a = impl_->call(Json{{"op", "report"}});
    if (a.is_null() || !a.value("ok", false)) return false;
    dumpable = a.value("dumpable", -1);
    coreLimit = a.value("core", -1LL);
    return true;
}

bool Worker::alive() const { return !impl_->ended(); }

pid_t Worker::pid() const { return impl_->pid; }

}  // namespace web
