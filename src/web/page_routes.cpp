// The teachers' page: plain forms (they work without JavaScript), a session per login in the
// cookie "tarvel", the session's token on every change.
#include "web/app_impl.h"
#include "web/page.h"

#include <chrono>
#include <map>

namespace web {

namespace {

const char* const CookieName = "tarvel";

Response html(int status, std::string body) {
    Response response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

Response seeOther(const std::string& location) {
    Response response;
    response.status = 303;
    response.headers.emplace_back("Location", location);
    return response;
}

std::string field(const std::map<std::string, std::string>& fields, const std::string& name) {
    auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
}

std::string cookie(const std::string& value, bool secure, bool clear) {
    return std::string(CookieName) + "=" + value + "; Path=/; HttpOnly; SameSite=Strict" + (secure ? "; Secure" : "") +
           (clear ? "; Max-Age=0" : "");
}

// "names" holds one name a line (a pupil, or the class itself for the whole class).
text::NameList namesOf(const std::string& value) {
    text::NameList names;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find('\n', start);
        if (end == std::string::npos) end = value.size();
        std::string name = value.substr(start, end - start);
        while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
        while (!name.empty() && name.front() == ' ') name.erase(0, 1);
        if (!name.empty()) names.push_back(name);
        start = end + 1;
    }
    return names;
}

// Holds keyed as the store compares names: ASCII case folded, no leading dot.
std::string holdKey(const std::string& name) {
    return text::toLowerAscii(name.empty() || name[0] != '.' ? name : name.substr(1));
}

std::vector<std::string> jobLines(const DeskResult& result) {
    std::vector<std::string> lines = resultLines(result);
    for (const Box& box : result.boxes) {
        lines.push_back(box.caption + ":");
        size_t start = 0;
        while (start <= box.text.size()) {
            size_t end = box.text.find("\r\n", start);
            if (end == std::string::npos) end = box.text.size();
            lines.push_back(box.text.substr(start, end - start));
            start = end + 2;
        }
    }
    return lines;
}

class PageRoutes {
public:
    PageRoutes(AppImpl& app, const Request& request) : app_(app), request_(request) {
        now_ = std::time(nullptr);
        auto it = request.cookies.find(CookieName);
        if (it != request.cookies.end()) session_ = app.sessions_.find(it->second, now_);
    }

    Response route() {
        const std::string& path = request_.path;
        const bool get = request_.method == "GET" || request_.method == "HEAD";
        const bool post = request_.method == "POST";
        if (get && path == "/tarvel.css") return asset(page::stylesheet(), "text/css; charset=utf-8");
        if (get && path == "/tarvel.js") return asset(page::script(), "text/javascript; charset=utf-8");
        if (post && path == "/anmelden") return login();
        if (get && path == "/") return session_ ? classes() : html(200, page::loginPage("", ""));
        if (!session_) return html(401, page::loginPage("Bitte melden Sie sich an.", ""));
        if (post && !tokenValid())
            return error(403, "Abgelehnt", {"Das Formular ist abgelaufen. Bitte die Seite neu laden."});
        if (post && path == "/abmelden") return logout();
        if (post && path == "/aktion") return action();
        if (get && path == "/klasse") return classView();
        if (get && path.rfind("/auftrag/", 0) == 0) return job(path.substr(9));
        return error(404, "Nicht gefunden", {"Diese Seite gibt es nicht."});
    }

private:
    page::Frame frame() const { return session_ ? page::Frame{session_->teacher, session_->token} : page::Frame{}; }

    Response error(int status, const std::string& caption, const std::vector<std::string>& lines) const {
        return html(status, page::errorPage(frame(), caption, lines));
    }

    Response asset(const std::string& body, const std::string& type) const {
        Response response = html(200, body);
        response.contentType = type;
        return response;
    }

    bool tokenValid() const { return sameSecret(field(request_.form, "token"), session_->token); }

    Response login() {
        const std::string login = field(request_.form, "login");
        // A login always starts a new session: whatever id the browser brought is dropped.
        if (session_) app_.sessions_.remove(session_->id);
        session_.reset();
        LoginAttempt attempt = app_.login(login, field(request_.form, "password"), request_.clientAddress);
        if (!attempt.worker) {
            Response response = html(attempt.status, page::loginPage(attempt.message, login));
            if (attempt.status == 429) response.headers.emplace_back("Retry-After", std::to_string(attempt.retryAfter));
            return response;
        }
        auto session = app_.sessions_.add(login, std::move(attempt.worker), std::move(attempt.slot), now_);
        Response response = seeOther("/");
        response.headers.emplace_back("Set-Cookie", cookie(session->id, app_.secureCookies(request_), false));
        return response;
    }

    Response logout() {
        app_.sessions_.remove(session_->id);
        Response response = seeOther("/");
        response.headers.emplace_back("Set-Cookie", cookie("", app_.secureCookies(request_), true));
        return response;
    }

    // The worker for a view; false while a change of this session holds it.
    bool useWorker(std::unique_lock<std::timed_mutex>& lock) {
        lock = std::unique_lock(session_->use, std::chrono::seconds(10));
        return lock.owns_lock();
    }
    Response busy() const {
        return error(503, "Bitte warten", {"Ihre Änderung läuft noch. Bitte gleich noch einmal versuchen."});
    }

    Response classes() {
        std::unique_lock<std::timed_mutex> lock;
        if (!useWorker(lock)) return busy();
        std::vector<ClassEntry> classes;
        std::vector<Box> boxes;
        session_->worker->classes(classes, boxes);
        return html(200, page::classesPage(frame(), classes, boxes));
    }

    Response classView() {
        const std::string name = field(request_.query, "name");
        if (name.empty()) return error(400, "Keine Klasse", {"Es wurde keine Klasse angegeben."});
        std::vector<PupilEntry> pupils;
        std::vector<Box> boxes;
        {
            std::unique_lock<std::timed_mutex> lock;
            if (!useWorker(lock)) return busy();
            if (!session_->worker->pupils(name, pupils, boxes)) {
                std::vector<std::string> lines{"Die Schüler der Klasse können nicht gelesen werden."};
                for (const Box& box : boxes) lines.push_back(box.text);
                return error(502, "Tarvel", lines);
            }
        }
        text::NameList names;
        for (const PupilEntry& pupil : pupils) names.push_back(pupil.name);
        std::vector<deny::Hold> holds;
        std::string stateError;
        if (!app_.holds_->holdsOn(names, holds, stateError)) return error(500, "Tarvel", {stateError});
        std::map<std::string, std::vector<deny::Hold>> byUser;
        for (deny::Hold& hold : holds) byUser[holdKey(hold.user)].push_back(std::move(hold));
        std::vector<page::PupilView> views;
        views.reserve(pupils.size());
        for (PupilEntry& pupil : pupils) {
            page::PupilView view;
            auto it = byUser.find(holdKey(pupil.name));
            if (it != byUser.end()) view.holds = std::move(it->second);
            view.pupil = std::move(pupil);
            views.push_back(std::move(view));
        }
        std::time_t until = 0;
        std::string unused;
        if (!app_.lessonUntil(now_, until, unused)) until = 0;
        return html(200, page::classPage(frame(), ClassEntry{name, app_.classCaption(name)}, views, until, now_, boxes));
    }

    Response action() {
        const std::string action = field(request_.form, "action");
        const text::NameList names = namesOf(field(request_.form, "names"));
        Change change = Change::Stop;
        std::time_t until = 0;
        std::string message;
        if (action == "stunde") {
            if (!app_.lessonUntil(now_, until, message)) return error(400, "Keine Stunde", {message});
        } else if (action == "minuten") {
            const std::string text = field(request_.form, "minutes");
            int minutes = 0;
            if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos ||
                (minutes = std::stoi(text)) < 1 || minutes > 600)
                return error(400, "Minuten", {"Bitte eine Zahl von 1 bis 600 Minuten angeben."});
            until = now_ + std::time_t(minutes) * 60;
        } else if (action == "weiter") {
            until = 0;
        } else if (action == "an") {
            change = Change::Go;
        } else if (action == "meine") {
            change = Change::Release;
        } else {
            return error(400, "Tarvel", {"Unbekannte Aktion."});
        }
        int status = 0;
        const unsigned long id = app_.startChange(Caller{session_, nullptr, {}}, change, names, until,
                                                  field(request_.form, "klasse"), status, message);
        if (id == 0) return error(status, "Tarvel", {message});
        return seeOther("/auftrag/" + std::to_string(id));
    }

    Response job(const std::string& number) {
        JobStatus status;
        if (number.empty() || number.size() > 18 || number.find_first_not_of("0123456789") != std::string::npos ||
            !app_.jobs_.read(std::stoul(number), Caller{session_, nullptr, {}}.owner(), status))
            return error(404, "Nicht gefunden", {"Diesen Auftrag gibt es nicht (mehr)."});
        page::JobView view;
        view.id = status.id;
        view.running = status.running;
        view.done = status.done;
        view.total = status.total;
        view.backTo = status.backTo;
        if (!status.running) {
            view.ok = status.result.ok && status.result.stateError.empty();
            view.caption = status.result.words.caption.empty()
                               ? std::string("Tarvel ") + deny::actionText(status.result.direction)
                               : status.result.words.caption;
            view.lines = jobLines(status.result);
        }
        return html(200, page::jobPage(frame(), view));
    }

    AppImpl& app_;
    const Request& request_;
    std::time_t now_ = 0;
    std::shared_ptr<Session> session_;
};

}  // namespace

Response AppImpl::page(const Request& request) { return PageRoutes(*this, request).route(); }

}  // namespace web
