// The JSON API: the operations of tarvel-ctl for scripts (HTTP Basic per request, bound as that
// login) and for the page's script (the session's cookie, changes with X-Tarvel-Token).
#include "web/app_impl.h"

#include "deny/audit.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>

namespace web {

namespace {

using nlohmann::json;

std::string dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

Response answer(int status, const json& body) { return jsonResponse(status, dump(body)); }

json untilValue(std::time_t until) { return until == 0 ? json(nullptr) : json(static_cast<long long>(until)); }

bool decodeBase64(const std::string& in, std::string& out) {
    out.clear();
    unsigned value = 0;
    int bits = 0;
    size_t padding = 0;
    for (char c : in) {
        int digit;
        if (c >= 'A' && c <= 'Z') digit = c - 'A';
        else if (c >= 'a' && c <= 'z') digit = c - 'a' + 26;
        else if (c >= '0' && c <= '9') digit = c - '0' + 52;
        else if (c == '+') digit = 62;
        else if (c == '/') digit = 63;
        else if (c == '=') { ++padding; continue; }
        else return false;
        if (padding) return false;  // data after the padding
        value = (value << 6) | unsigned(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += char((value >> bits) & 0xff);
        }
    }
    return true;
}

bool parseNumber(const std::string& text, unsigned long long& out) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::stoull(text);
    return true;
}

class ApiRoutes {
public:
    ApiRoutes(AppImpl& app, const Request& request) : app_(app), request_(request), now_(std::time(nullptr)) {}

    // A Basic caller's worker, unless a job took it, waits for the same caller's next request.
    void done() {
        if (caller_.basic && !handedToJob_) app_.basicPool_.give(std::move(caller_.basic), std::time(nullptr));
    }

    Response route() {
        const std::string& path = request_.path;
        const std::string& method = request_.method;
        if (Response refused; !authenticate(refused)) return refused;
        const bool post = method == "POST";
        if (post && caller_.session && !sameSecret(header("x-tarvel-token"), caller_.session->token))
            return jsonError(403, "Das Formular ist abgelaufen. Bitte die Seite neu laden.");
        if (method == "GET" && path == "/api/classes") return classes();
        if (method == "GET" && path == "/api/class") return pupils();
        if (method == "GET" && path == "/api/holds") return holds();
        if (method == "GET" && path == "/api/log") return log();
        if (method == "GET" && path.rfind("/api/jobs/", 0) == 0) return job(path.substr(10));
        if (post && path == "/api/stop") return change(Change::Stop);
        if (post && path == "/api/release") return change(Change::Release);
        if (post && path == "/api/go") return change(Change::Go);
        return jsonError(404, "Diese Adresse gibt es nicht.");
    }

private:
    std::string header(const std::string& name) const {
        auto it = request_.headers.find(name);
        return it == request_.headers.end() ? std::string() : it->second;
    }

    bool authenticate(Response& refused) {
        const std::string authorization = header("authorization");
        if (authorization.rfind("Basic ", 0) == 0) {
            std::string pair;
            size_t colon;
            if (!decodeBase64(authorization.substr(6), pair) || (colon = pair.find(':')) == std::string::npos) {
                refused = unauthorized("Die Anmeldedaten sind unlesbar.");
                return false;
            }
            const std::string login = pair.substr(0, colon);
            const std::string digest = app_.basicPool_.digest(pair.substr(colon + 1));
            if (!needsWorker() && app_.basicPool_.recentlyAccepted(login, digest, now_)) {
                caller_.basicLogin = login;
                return true;
            }
            if ((caller_.basic = app_.basicPool_.take(login, digest))) return true;
            LoginAttempt attempt = app_.login(login, pair.substr(colon + 1), request_.clientAddress);
            if (!attempt.worker) {
                refused = attempt.status == 401 ? unauthorized(attempt.message) : jsonError(attempt.status, attempt.message);
                if (attempt.status == 429) refused.headers.emplace_back("Retry-After", std::to_string(attempt.retryAfter));
                return false;
            }
            app_.basicPool_.remember(login, digest, now_);
            auto basic = std::make_shared<BasicWorker>();
            basic->slot = std::move(attempt.slot);
            basic->worker = std::move(attempt.worker);
            basic->login = login;
            basic->digest = digest;
            caller_.basic = std::move(basic);
            return true;
        }
        auto it = request_.cookies.find("tarvel");
        if (it != request_.cookies.end()) caller_.session = app_.sessions_.find(it->second, now_);
        if (caller_.session) return true;
        refused = unauthorized("Bitte anmelden.");
        return false;
    }

    // Views of the directory and changes run in the caller's worker; a job's state, the holds
    // and the trail are the service's own.
    bool needsWorker() const {
        const std::string& path = request_.path;
        return !(request_.method == "GET" &&
                 (path == "/api/holds" || path == "/api/log" || path.rfind("/api/jobs/", 0) == 0));
    }

    Response unauthorized(const std::string& message) const {
        Response response = jsonError(401, message);
        response.headers.emplace_back("WWW-Authenticate", "Basic realm=\"tarvel\", charset=\"UTF-8\"");
        return response;
    }

    // The caller's worker for one view, or false while the session's change holds it.
    bool useWorker(std::unique_lock<std::timed_mutex>& lock) {
        if (!caller_.session) return true;
        lock = std::unique_lock(caller_.session->use, std::chrono::seconds(10));
        return lock.owns_lock();
    }
    Worker& worker() const { return caller_.session ? *caller_.session->worker : *caller_.basic->worker; }
    Response busy() const { return jsonError(503, "Ihre Änderung läuft noch. Bitte gleich noch einmal versuchen."); }

    static Response failed(const std::string& line, const std::vector<Box>& boxes) {
        std::string message = line;
        for (const Box& box : boxes) message += "\r\n" + box.text;
        return jsonError(502, message);
    }

    Response classes() {
        std::unique_lock<std::timed_mutex> lock;
        if (!useWorker(lock)) return busy();
        std::vector<ClassEntry> classes;
        std::vector<Box> boxes;
        if (!worker().classes(classes, boxes)) return failed("Die Klassen können nicht gelesen werden.", boxes);
        json list = json::array();
        for (const ClassEntry& entry : classes) list.push_back({{"name", entry.name}, {"caption", entry.caption}});
        return answer(200, {{"classes", list}});
    }

    Response pupils() {
        auto it = request_.query.find("name");
        if (it == request_.query.end() || it->second.empty()) return jsonError(400, "Es wurde keine Klasse angegeben.");
        std::vector<PupilEntry> pupils;
        std::vector<Box> boxes;
        {
            std::unique_lock<std::timed_mutex> lock;
            if (!useWorker(lock)) return busy();
            if (!worker().pupils(it->second, pupils, boxes))
                return failed("Die Schüler der Klasse können nicht gelesen werden.", boxes);
        }
        text::NameList names;
        for (const PupilEntry& pupil : pupils) names.push_back(pupil.name);
        std::vector<deny::Hold> holds;
        std::string error;
        if (!app_.holds_->holdsOn(names, holds, error)) return jsonError(500, error);
        std::map<std::string, json> byUser;
        for (const deny::Hold& hold : holds)
            byUser[key(hold.user)].push_back(
                {{"holder", hold.holder}, {"since", static_cast<long long>(hold.since)}, {"until", untilValue(hold.until)}});
        json list = json::array();
        for (const PupilEntry& pupil : pupils) {
            auto found = byUser.find(key(pupil.name));
            list.push_back({{"name", pupil.name},
                            {"caption", pupil.caption},
                            {"login", pupil.login},
                            {"internet", pupil.stopped ? "aus" : "an"},
                            {"holds", found == byUser.end() ? json::array() : found->second}});
        }
        return answer(200, {{"pupils", list}});
    }

    static std::string key(const std::string& name) {
        return text::toLowerAscii(name.empty() || name[0] != '.' ? name : name.substr(1));
    }

    Response holds() {
        std::vector<deny::Hold> holds;
        std::string error;
        if (!app_.holds_->all(holds, error)) return jsonError(500, error);
        json list = json::array();
        for (const deny::Hold& hold : holds)
            list.push_back({{"name", hold.user},
                            {"holder", hold.holder},
                            {"since", static_cast<long long>(hold.since)},
                            {"until", untilValue(hold.until)}});
        return answer(200, {{"holds", list}});
    }

    Response log() {
        unsigned long long since = 0;
        auto it = request_.query.find("since");
        if (it != request_.query.end() && !parseNumber(it->second, since))
            return jsonError(400, "since= muss eine Zahl von Sekunden sein.");
        std::ifstream in(deny::auditLogPath(), std::ios::binary);
        json lines = json::array();
        std::string line;
        while (std::getline(in, line)) {
            std::time_t when = 0;
            if (deny::auditLineTime(line, when) && static_cast<unsigned long long>(when) >= since) lines.push_back(line);
        }
        return answer(200, {{"lines", lines}});
    }

    // ?wait=S (up to 10 s): answers when the job ends, or after S seconds with its progress.
    Response job(const std::string& number) {
        unsigned long long id = 0, wait = 0;
        auto w = request_.query.find("wait");
        if (w != request_.query.end() && (!parseNumber(w->second, wait) || wait > 10))
            return jsonError(400, "wait= muss eine Zahl von Sekunden bis 10 sein.");
        JobStatus status;
        if (!parseNumber(number, id) ||
            !app_.jobs_.read(id, caller_.owner(), status, std::chrono::seconds(wait)))
            return jsonError(404, "Diesen Auftrag gibt es nicht (mehr).");
        if (status.running)
            return answer(200, {{"state", "running"}, {"done", status.done}, {"total", status.total}});
        const DeskResult& result = status.result;
        json ended = json::array();
        for (const deny::Hold& hold : result.ended)
            ended.push_back({{"name", hold.user}, {"holder", hold.holder}, {"until", untilValue(hold.until)}});
        json boxes = json::array();
        for (const Box& box : result.boxes) boxes.push_back({{"caption", box.caption}, {"text", box.text}});
        return answer(200, {{"state", "done"},
                            {"ok", result.ok && result.stateError.empty()},
                            {"caption", result.words.caption.empty()
                                            ? std::string("Tarvel ") + deny::actionText(result.direction)
                                            : result.words.caption},
                            {"lines", resultLines(result)},
                            {"ended", ended},
                            {"stillHeld", result.stillHeld},
                            {"boxes", boxes}});
    }

    Response change(Change change) {
        const json body = json::parse(request_.body, nullptr, false);
        if (body.is_discarded() || !body.is_object()) return jsonError(400, "Der Auftrag ist kein JSON-Objekt.");
        text::NameList names;
        auto list = body.find("names");
        if (list == body.end() || !list->is_array() || list->empty())
            return jsonError(400, "\"names\" muss eine Liste von Namen sein.");
        for (const json& name : *list) {
            if (!name.is_string() || name.get<std::string>().empty())
                return jsonError(400, "\"names\" muss eine Liste von Namen sein.");
            names.push_back(name.get<std::string>());
        }
        std::time_t until = 0;
        if (change == Change::Stop)
            if (Response refused; !stopUntil(body, until, refused)) return refused;
        int status = 0;
        std::string message;
        const unsigned long id = app_.startChange(caller_, change, names, until, {}, status, message);
        if (id == 0) return jsonError(status, message);
        handedToJob_ = true;  // the job gives the worker back when it ends
        return answer(202, {{"job", id}});
    }

    // "until": "stunde" | "weiter" | EPOCH, or "minutes": 1..600.
    bool stopUntil(const json& body, std::time_t& until, Response& refused) const {
        auto minutes = body.find("minutes");
        auto when = body.find("until");
        if (minutes != body.end()) {
            if (!minutes->is_number_integer() || minutes->get<long long>() < 1 || minutes->get<long long>() > 600) {
                refused = jsonError(400, "\"minutes\" muss eine Zahl von 1 bis 600 sein.");
                return false;
            }
            until = now_ + std::time_t(minutes->get<long long>()) * 60;
            return true;
        }
        std::string message;
        if (when != body.end() && *when == "weiter") {
            until = 0;
        } else if (when != body.end() && *when == "stunde") {
            if (!app_.lessonUntil(now_, until, message)) {
                refused = jsonError(400, message);
                return false;
            }
        } else if (when != body.end() && when->is_number_integer() && when->get<long long>() > now_) {
            until = std::time_t(when->get<long long>());
        } else {
            refused = jsonError(400, "\"until\" muss \"stunde\", \"weiter\" oder eine Zeit in der Zukunft sein.");
            return false;
        }
        return true;
    }

    AppImpl& app_;
    const Request& request_;
    const std::time_t now_;
    Caller caller_;
    bool handedToJob_ = false;
};

}  // namespace

Response AppImpl::api(const Request& request) {
    ApiRoutes routes(*this, request);
    Response response = routes.route();
    routes.done();
    return response;
}

}  // namespace web
