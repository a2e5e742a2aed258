// App: the service's state (holds, desk, sessions, jobs, the service account's worker) and what
// the page and the API share. The routes themselves are in page_routes.cpp and api_routes.cpp.
#include "web/app_impl.h"

#include "deny/audit.h"
#include "nwapi/client_config.h"
#include "nwclient/client_setup.h"
#include "platform/ports.h"
#include "platform/text.h"
#include "settings/settings.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>

namespace web {

namespace {

// Catches the settings file's own message instead of showing it, to refuse the start with it.
class CapturedBox final : public platform::MessageBoxPort {
public:
    platform::Answer show(const std::string& text, const std::string&, platform::Buttons) override {
        if (message.empty()) message = text;
        return platform::Answer::Ok;
    }
    std::string message;
};

bool readDenySettings(const std::string& file, std::string& group, std::string& base, std::string& error) {
    std::error_code ec;
    if (file.empty() || !std::filesystem::is_regular_file(file, ec)) {
        error = "Die Einstellungsdatei " + file + " gibt es nicht.";
        return false;
    }
    CapturedBox box;
    platform::Ports ports = platform::ports();
    const platform::Ports saved = ports;
    ports.messageBox = &box;
    platform::installPorts(ports);
    settings::resetToStartValues();
    settings::LoadSettings(file);
    platform::installPorts(saved);
    if (!box.message.empty()) {
        error = box.message;
        return false;
    }
    group = settings::values().GroupInternetUserDeny;
    base = settings::values().BasisUserContainer;
    return true;
}

// The tree the holds are on, as the service's nwclient.conf names it (Tree= and Base=).
bool readTreeName(const std::string& file, std::string& tree, std::string& error) {
    nw::setConfigurationFile(file);
    nwapi::ClientConfiguration conf;
    if (file.empty() || !nwapi::ReadClientConfiguration(conf) || conf.tree.empty()) {
        error = "Die Datei " + file + " des Dienstkontos kann nicht gelesen werden oder nennt keinen Baum (Tree=).";
        return false;
    }
    tree = conf.tree;
    if (tree.rfind("sqlite:", 0) == 0) {
        std::filesystem::path path = tree.substr(7);
        if (path.is_relative()) path = std::filesystem::path(conf.file).parent_path() / path;
        tree = "sqlite:" + path.lexically_normal().string();
    } else if (auto it = conf.values.find("base"); it != conf.values.end() && !it->second.empty()) {
        tree += " (" + it->second + ")";
    }
    return true;
}

// Log lines carry no control bytes from names: one line per event in the journal.
std::string logSafe(const std::string& text) { return text::showControls(text); }

}  // namespace

std::unique_ptr<App> App::create(const WebConfig& config, std::string& error) { return create(config, {}, error); }

std::unique_ptr<App> App::create(const WebConfig& config, const std::string& workerProgram, std::string& error) {
    std::string tree, group, base;
    if (!readTreeName(config.clientConfiguration, tree, error)) return nullptr;
    if (!readDenySettings(config.settingsFile, group, base, error)) return nullptr;
    auto store = deny::HoldStore::open(config.stateDir, error);
    if (!store) return nullptr;
    LoginFailure failure = LoginFailure::None;
    std::string message;
    WorkerSetup setup{config.clientConfiguration, config.settingsFile, config.loginFile, workerProgram, 120, {}};
    // The trail is the school's, in the state folder, not in the service account's home.
    setup.auditLog = (std::filesystem::path(config.stateDir) / "audit.log").string();
    deny::setDefaultAuditLogPath(setup.auditLog);
    auto service = Worker::start(setup, "", "", failure, message);
    if (!service) {
        error = "Das Dienstkonto kann sich nicht am Verzeichnis anmelden: " + message;
        return nullptr;
    }
    return std::make_unique<AppImpl>(config, setup, std::move(store), tree, group, base, std::move(service));
}

AppImpl::AppImpl(const WebConfig& config, const WorkerSetup& setup, std::unique_ptr<deny::HoldStore> store,
                 const std::string& tree, const std::string& group, const std::string& base,
                 std::unique_ptr<Worker> service)
    : config_(config),
      setup_(setup),
      store_(std::move(store)),
      holds_(store_.get()),
      desk_(*holds_, tree, group),
      base_(base),
      slots_(config.maxSessions),
      sessions_(config.sessionMinutes),
      service_(std::move(service)) {}

AppImpl::~AppImpl() = default;

const std::string& Caller::token() const {
    static const std::string none;
    return session ? session->token : none;
}

std::string Caller::teacher() const { return session ? session->teacher : basic->worker->operatorName(); }

Response AppImpl::handle(const Request& request) {
    if (request.path == "/api" || request.path.rfind("/api/", 0) == 0) return api(request);
    return page(request);
}

LoginAttempt AppImpl::login(const std::string& login, const std::string& password, const std::string& address) {
    LoginAttempt attempt;
    const std::time_t now = std::time(nullptr);
    if (!throttle_.allowed(login, address, now, attempt.retryAfter)) {
        attempt.status = 429;
        attempt.message = "Zu viele fehlgeschlagene Anmeldungen. Bitte in " + std::to_string(attempt.retryAfter) +
                          " Sekunden erneut versuchen.";
        return attempt;
    }
    if (login.empty() || password.empty()) {
        attempt.status = 401;
        attempt.message = "Bitte Login und Kennwort eingeben.";
        return attempt;
    }
    attempt.slot = slots_.take();
    if (!attempt.slot) {
        basicPool_.expire(now, true);  // idle scripts' workers make room for a login
        attempt.slot = slots_.take();
    }
    if (!attempt.slot) {
        attempt.status = 503;
        attempt.message = "Der Dienst hat gerade zu viele Sitzungen. Bitte später erneut anmelden.";
        return attempt;
    }
    LoginFailure failure = LoginFailure::None;
    attempt.worker = Worker::start(setup_, login, password, failure, attempt.message);
    if (attempt.worker) {
        throttle_.succeeded(login, address);
        attempt.message.clear();
        return attempt;
    }
    attempt.slot.release();
    if (failure == LoginFailure::BadCredentials) {
        throttle_.failed(login, address, now);
        attempt.status = 401;
        if (attempt.message.empty()) attempt.message = "Login oder Kennwort ist falsch.";
    } else {
        attempt.status = 503;
        if (attempt.message.empty()) attempt.message = "Die Anmeldung ist gerade nicht möglich.";
    }
    return attempt;
}

bool AppImpl::lessonUntil(std::time_t now, std::time_t& until, std::string& message) const {
    if (lessonEnd(config_.lessons, now, until)) return true;
    message = "Heute ist keine Stunde mehr: bitte „für N Minuten“ oder „bis auf Weiteres“ wählen.";
    return false;
}

unsigned long AppImpl::startChange(const Caller& caller, Change change, const text::NameList& names,
                                   std::time_t until, const std::string& backTo, int& status, std::string& message) {
    if (names.empty()) {
        status = 400;
        message = "Keine Namen angegeben.";
        return 0;
    }
    std::shared_ptr<Session> session = caller.session;
    std::shared_ptr<BasicWorker> basic = caller.basic;
    JobWork work = [this, session, basic, change, names, until](const deny::ProgressFn& progress) {
        std::unique_lock<std::timed_mutex> lock;
        if (session) lock = std::unique_lock(session->use);
        Worker& worker = session ? *session->worker : *basic->worker;
        DeskResult result;
        try {
            switch (change) {
            case Change::Stop: result = desk_.stop(worker, names, until, progress); break;
            case Change::Release: result = desk_.release(worker, names, progress); break;
            case Change::Go: result = desk_.go(worker, names, progress); break;
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarvel-web: Auftrag abgebrochen: %s\n", logSafe(e.what()).c_str());
            result = DeskResult{};
            result.direction = change == Change::Stop ? deny::Direction::Stop : deny::Direction::Go;
            result.stateError = "Der Auftrag ist an einem inneren Fehler gescheitert.";
        }
        if (basic) basicPool_.give(basic, std::time(nullptr));
        return result;
    };
    unsigned long running = 0;
    const unsigned long id = jobs_.start(caller.owner(), bool(session), backTo, std::move(work), running);
    if (id == 0) {
        status = 409;
        message = "Es läuft noch ein Auftrag (Nr. " + std::to_string(running) + "). Bitte warten, bis er fertig ist.";
    }
    return id;
}

std::string AppImpl::classCaption(const std::string& className) const {
    const std::string suffix = "." + base_;
    if (!base_.empty() && className.size() > suffix.size() &&
        text::equalsAsciiNoCase(className.substr(className.size() - suffix.size()), suffix))
        return className.substr(0, className.size() - suffix.size());
    return className;
}

bool AppImpl::secureCookies(const Request& request) const {
    if (!config_.certificate.empty()) return true;
    auto it = request.headers.find("x-forwarded-proto");
    return it != request.headers.end() && it->second == "https";
}

std::vector<std::string> resultLines(const DeskResult& result) {
    if (!result.stateError.empty()) return {result.stateError};
    std::vector<std::string> lines = result.words.lines;
    if (result.words.outcome == deny::Outcome::Failed && !result.words.groupUnread &&
        !result.words.changedLine.empty())
        lines.push_back(result.words.changedLine);
    if (!result.words.accessHint.empty()) lines.push_back(result.words.accessHint);
    lines.insert(lines.end(), result.lines.begin(), result.lines.end());
    return lines;
}

void AppImpl::tick(std::time_t now) {
    sessions_.expire(now);  // the workers end as the returned sessions go
    basicPool_.expire(now);
    jobs_.prune(now);
    runDue(now);
    if (now - lastAuditPrune_ >= 24 * 60 * 60) {
        lastAuditPrune_ = now;
        std::string error;
        if (!deny::pruneAudit(deny::auditLogPath(), config_.auditDays, now, error))
            std::fprintf(stderr, "tarvel-web: %s\n", logSafe(error).c_str());
    }
}

void AppImpl::runDue(std::time_t now) {
    std::vector<deny::Hold> holds;
    std::string error;
    if (!holds_->all(holds, error)) {
        std::fprintf(stderr, "tarvel-web: %s\n", logSafe(error).c_str());
        return;
    }
    bool due = false;
    for (const deny::Hold& hold : holds)
        if (hold.state == deny::Hold::State::Releasing || (hold.until != 0 && hold.until <= now)) due = true;
    if (!due) return;
    std::lock_guard lock(serviceMutex_);
    if (!service_ || !service_->alive()) {
        service_.reset();
        LoginFailure failure = LoginFailure::None;
        std::string message;
        service_ = Worker::start(setup_, "", "", failure, message);
        if (!service_) {
            std::fprintf(stderr, "tarvel-web: Das Dienstkonto kann sich nicht anmelden: %s\n", logSafe(message).c_str());
            return;
        }
    }
    DeskResult result = desk_.due(*service_, now);
    if (!result.ok)
        for (const std::string& line : resultLines(result))
            std::fprintf(stderr, "tarvel-web: %s\n", logSafe(line).c_str());
}

Response jsonResponse(int status, const std::string& body) {
    Response response;
    response.status = status;
    response.contentType = "application/json; charset=utf-8";
    response.body = body;
    return response;
}

Response jsonError(int status, const std::string& message) {
    nlohmann::json body = {{"error", message}};
    return jsonResponse(status, body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace web
