// The service's routes driven as the HTTP server calls them, on a temporary demo tree with real
// workers: sessions and tokens, the teachers' holds through the page and the API, a restart.
#include "web/app.h"
#include "web/logins.h"

#include "temp_trees.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

namespace {

using nlohmann::json;
using testsupport::TempDir;
using web::Request;
using web::Response;

const std::string Class = "KLASSE5A.SCHUELER.UNTERRICHT";
const std::string Teacher1 = "lehrer1.LEHRER.UNTERRICHT";
const std::string Teacher2 = "admin.UNTERRICHT";

std::string header(const Response& r, const std::string& name) {
    for (const auto& [key, value] : r.headers)
        if (key == name) return value;
    return {};
}

class App : public ::testing::Test {
protected:
    void SetUp() override {
        config.clientConfiguration = testsupport::useDemoTree(dir);
        testsupport::writeFile(config.clientConfiguration,
                               testsupport::readFile(config.clientConfiguration) + "AuditLog=" + dir.file("audit.log") + "\n");
        config.settingsFile = dir.file("tarvel.ini");
        testsupport::writeFile(config.settingsFile,
                               "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nBasisUserContainer=SCHUELER.UNTERRICHT\r\n"
                               "GroupInternetUserDeny=G_User_Internet_Deny.PROJEKTE.UNTERRICHT\r\n");
        config.loginFile = dir.file("web-logins");
        std::string error;
        ASSERT_TRUE(web::writeLogin(config.loginFile, "lehrer1", Teacher1, "geheim1", error)) << error;
        ASSERT_TRUE(web::writeLogin(config.loginFile, "admin", Teacher2, "geheim2", error)) << error;
        config.stateDir = dir.file("state");
        std::filesystem::create_directory(config.stateDir);
        std::filesystem::permissions(config.stateDir, std::filesystem::perms::owner_all);
        // One lesson around now, so "bis Stundenende" is this lesson's end plus the buffer. In the
        // day's last two minutes no lesson fits before midnight: the test waits for the new day.
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        while (local.tm_hour * 60 + local.tm_min >= 23 * 60 + 58) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            now = std::time(nullptr);
            localtime_r(&now, &local);
        }
        const int minute = local.tm_hour * 60 + local.tm_min;
        const int end = std::min(minute + 30, 23 * 60 + 59);
        config.lessons.lessons = {{1, std::max(minute - 30, 0), end}};
        config.lessons.bufferMinutes = 5;
        local.tm_hour = end / 60;
        local.tm_min = end % 60 + 5;
        local.tm_sec = 0;
        lessonEnd = std::mktime(&local);
        start();
    }
    void start() {
        app.reset();
        std::string error;
        app = web::App::create(config, TARVEL_WEB_WORKER, error);
        ASSERT_TRUE(app) << error;
    }

    Response send(const std::string& method, const std::string& path, const std::string& session,
                  std::map<std::string, std::string> form = {}) {
        Request r;
        r.method = method;
        r.path = path;
        r.clientAddress = "192.0.2.7";
        if (auto q = path.find('?'); q != std::string::npos) {
            r.path = path.substr(0, q);
            const std::string pair = path.substr(q + 1);
            r.query[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
        }
        if (!session.empty()) r.cookies["tarvel"] = session;
        r.form = std::move(form);
        return app->handle(r);
    }
    // Logs in through the page; the session id from the cookie.
    std::string login(const std::string& login, const std::string& password, const std::string& old = {}) {
        Response r = send("POST", "/anmelden", old, {{"login", login}, {"password", password}});
        std::smatch m;
        const std::string cookie = header(r, "Set-Cookie");
        EXPECT_EQ(r.status, 303) << r.body;
        EXPECT_TRUE(std::regex_match(cookie, m, std::regex("tarvel=([0-9a-f]{64}); (.*)"))) << cookie;
        return m.size() > 1 ? m[1].str() : std::string();
    }
    // The token as the browser finds it: in the page's forms.
    std::string token(const std::string& session) {
        Response r = send("GET", "/", session);
        std::smatch m;
        EXPECT_TRUE(std::regex_search(r.body, m, std::regex("name=\"token\" value=\"([0-9a-f]+)\""))) << r.body;
        return m.size() > 1 ? m[1].str() : std::string();
    }
    // A change through the page's form; the job's JSON once it has ended.
    json act(const std::string& session, const std::string& action, const std::string& names,
             const std::string& minutes = {}) {
        Response r = send("POST", "/aktion", session,
                          {{"token", token(session)}, {"action", action}, {"names", names}, {"minutes", minutes}});
        EXPECT_EQ(r.status, 303) << r.body;
        return waitJob(session, header(r, "Location").substr(strlen("/auftrag/")));
    }
    json waitJob(const std::string& session, const std::string& id, const std::string& basic = {}) {
        for (int i = 0; i < 1200; ++i) {
            Response r = basic.empty() ? send("GET", "/api/jobs/" + id, session) : api("GET", "/api/jobs/" + id, basic);
            json job = json::parse(r.body);
            if (job.value("state", "") != "running") return job;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "job " << id << " did not end";
        return {};
    }
    // The API with HTTP Basic ("login:password").
    Response api(const std::string& method, const std::string& path, const std::string& credentials,
                 const std::string& body = {}) {
        static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string encoded;
        for (size_t i = 0; i < credentials.size(); i += 3) {
            unsigned v = unsigned((unsigned char)credentials[i]) << 16;
            if (i + 1 < credentials.size()) v |= unsigned((unsigned char)credentials[i + 1]) << 8;
            if (i + 2 < credentials.size()) v |= (unsigned char)credentials[i + 2];
            for (size_t k = 0; k < 4; ++k) encoded += i + k <= credentials.size() ? digits[(v >> (18 - 6 * k)) & 63] : '=';
        }
        Request r;
        r.method = method;
        r.path = path.substr(0, path.find('?'));
        if (path.find('?') != std::string::npos) r.query["name"] = path.substr(path.find('=') + 1);
        r.clientAddress = "192.0.2.8";
        r.headers["authorization"] = "Basic " + encoded;
        r.body = body;
        return app->handle(r);
    }
    json pupils(const std::string& session) { return json::parse(send("GET", "/api/class?name=" + Class, session).body)["pupils"]; }

    TempDir dir;
    web::WebConfig config;
    std::time_t lessonEnd = 0;
    std::unique_ptr<web::App> app;
};

TEST_F(App, LoginGivesAFreshSessionEachTimeAndDropsTheOldOne) {
    Response refused = send("POST", "/anmelden", {}, {{"login", "lehrer1"}, {"password", "falsch"}});
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(header(refused, "Set-Cookie"), "");

    Response r = send("POST", "/anmelden", {}, {{"login", "lehrer1"}, {"password", "geheim1"}});
    const std::string cookie = header(r, "Set-Cookie");
    for (const char* attribute : {"HttpOnly", "SameSite=Strict", "Path=/"})
        EXPECT_NE(cookie.find(attribute), std::string::npos) << cookie;
    const std::string first = cookie.substr(7, 64);
    const std::string second = login("lehrer1", "geheim1", first);
    EXPECT_NE(first, second);
    EXPECT_EQ(send("GET", "/api/classes", first).status, 401);
    EXPECT_EQ(send("GET", "/api/classes", second).status, 200);
    EXPECT_NE(token(second), second);
}

TEST_F(App, AChangeWithoutTheSessionsTokenIsRefusedAndChangesNothing) {
    const std::string session = login("lehrer1", "geheim1");
    const std::string other = login("admin", "geheim2");
    const std::string own = token(session);
    const std::string forged = std::string(own.size(), own[0] == 'a' ? 'b' : 'a');
    struct Case {
        const char* what;
        std::map<std::string, std::string> extra;
    } cases[] = {{"missing", {}}, {"forged", {{"token", forged}}}, {"another session's", {{"token", token(other)}}}};
    for (const Case& c : cases) {
        std::map<std::string, std::string> form{{"action", "weiter"}, {"names", Class}};
        form.insert(c.extra.begin(), c.extra.end());
        EXPECT_EQ(send("POST", "/aktion", session, form).status, 403) << c.what;
        EXPECT_EQ(send("POST", "/abmelden", session, c.extra).status, 403) << c.what;
    }
    // The page's script: the cookie alone is not enough.
    Request r;
    r.method = "POST";
    r.path = "/api/stop";
    r.cookies["tarvel"] = session;
    r.body = json{{"names", {Class}}, {"until", "weiter"}}.dump();
    EXPECT_EQ(app->handle(r).status, 403);
    EXPECT_EQ(json::parse(send("GET", "/api/holds", session).body)["holds"].size(), 0u);
    for (const json& pupil : pupils(session)) EXPECT_EQ(pupil["internet"], "an") << pupil;
}

TEST_F(App, AnEndedOrIdleSessionIsRefused) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> end;
    } cases[] = {
        {"logged out", [&](const std::string& s) { EXPECT_EQ(send("POST", "/abmelden", s, {{"token", token(s)}}).status, 303); }},
        {"idle past SessionMinutes=", [&](const std::string&) { app->tick(std::time(nullptr) + 46 * 60); }},
        {"unknown", [&](const std::string&) {}},
    };
    for (const Case& c : cases) {
        std::string session = login("lehrer1", "geheim1");
        c.end(session);
        if (std::string(c.what) == "unknown") session = std::string(64, '0');
        EXPECT_EQ(send("GET", "/klasse?name=" + Class, session).status, 401) << c.what;
        EXPECT_EQ(send("GET", "/api/classes", session).status, 401) << c.what;
        EXPECT_NE(send("GET", "/", session).body.find("name=\"password\""), std::string::npos) << c.what;
    }
}

TEST_F(App, TeachersShareTheHoldsOfTheirClassAndARestartKeepsThem) {
    const std::string t1 = login("lehrer1", "geheim1");
    const std::string t2 = login("admin", "geheim2");

    // Teacher 1 stops the class until the end of the lesson; both teachers see it with holder and end.
    json job = act(t1, "stunde", Class);
    EXPECT_TRUE(job["ok"]) << job;
    for (const std::string& viewer : {t1, t2}) {
        json list = pupils(viewer);
        ASSERT_EQ(list.size(), 24u);
        for (const json& pupil : list) {
            EXPECT_EQ(pupil["internet"], "aus") << pupil;
            ASSERT_EQ(pupil["holds"].size(), 1u) << pupil;
            EXPECT_EQ(pupil["holds"][0]["holder"], Teacher1);
            EXPECT_EQ(pupil["holds"][0]["until"], lessonEnd);
        }
    }
    const std::string page = send("GET", "/klasse?name=" + Class, t2).body;
    EXPECT_NE(page.find(Teacher1), std::string::npos);
    const std::string first = pupils(t1)[0]["name"], second = pupils(t1)[1]["name"];

    // Teacher 2, over the API: the first pupil for good; then teacher 1 frees their own holds.
    Response started = api("POST", "/api/stop", "admin:geheim2", json{{"names", {first}}, {"until", "weiter"}}.dump());
    ASSERT_EQ(started.status, 202) << started.body;
    const std::string id = std::to_string(json::parse(started.body)["job"].get<long>());
    EXPECT_TRUE(waitJob({}, id, "admin:geheim2")["ok"]);
    EXPECT_EQ(api("GET", "/api/jobs/" + id, "lehrer1:geheim1").status, 404);  // not their job
    job = act(t1, "meine", Class);
    EXPECT_EQ(job["stillHeld"], json::array({first})) << job;
    for (const json& pupil : pupils(t2)) {
        const bool held = pupil["name"] == first;
        EXPECT_EQ(pupil["internet"], held ? "aus" : "an") << pupil;
        EXPECT_EQ(pupil["holds"].size(), held ? 1u : 0u) << pupil;
    }

    // "Internet an" by teacher 2 on a pupil both hold ends both holds and names both holders.
    act(t1, "minuten", second, "10");
    act(t2, "weiter", second);
    job = act(t2, "an", second);
    std::set<std::string> holders;
    for (const json& hold : job["ended"]) holders.insert(hold["holder"]);
    EXPECT_EQ(holders, (std::set<std::string>{Teacher1, Teacher2})) << job;
    EXPECT_EQ(pupils(t2)[1]["internet"], "an");

    // The service restarted: the stop for good stands.
    start();
    json holds = json::parse(api("GET", "/api/holds", "lehrer1:geheim1").body)["holds"];
    ASSERT_EQ(holds.size(), 1u) << holds;
    EXPECT_EQ(holds[0]["name"], first);
    EXPECT_EQ(holds[0]["holder"], Teacher2);
    EXPECT_TRUE(holds[0]["until"].is_null());
}

TEST_F(App, TheSixthFailedLoginWithinFiveMinutesWaits) {
    struct Case {
        const char* what;
        std::function<Response(const std::string&)> tryLogin;
    } cases[] = {
        {"page", [&](const std::string& pw) { return send("POST", "/anmelden", {}, {{"login", "lehrer1"}, {"password", pw}}); }},
        {"API", [&](const std::string& pw) { return api("GET", "/api/classes", "admin:" + pw); }},
    };
    // The API's worker kept for the right password is never handed to a wrong one.
    EXPECT_EQ(api("GET", "/api/holds", "admin:geheim2").status, 200);
    for (const Case& c : cases) {
        for (int i = 0; i < 5; ++i) EXPECT_EQ(c.tryLogin("falsch").status, 401) << c.what << " " << i;
        Response r = c.tryLogin("falsch");
        EXPECT_EQ(r.status, 429) << c.what;
        EXPECT_GT(std::stoi(header(r, "Retry-After")), 0) << c.what;
    }
}

TEST_F(App, TheTimerFreesATimedStopAsTheServiceAccount) {
    const std::string t1 = login("lehrer1", "geheim1");
    const std::string pupil = pupils(t1)[0]["name"];
    EXPECT_TRUE(act(t1, "minuten", pupil, "1")["ok"]);
    app->tick(std::time(nullptr) + 30);
    EXPECT_EQ(pupils(t1)[0]["internet"], "aus");
    app->tick(std::time(nullptr) + 2 * 60);
    EXPECT_EQ(pupils(t1)[0]["internet"], "an");
    EXPECT_EQ(json::parse(send("GET", "/api/holds", t1).body)["holds"].size(), 0u);
    const json log = json::parse(send("GET", "/api/log", t1).body)["lines"];
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().get<std::string>().find("operator=" + Teacher2), std::string::npos) << log;
}

TEST_F(App, MaxSessionsCapsTheWorkersUntilOneEnds) {
    config.maxSessions = 2;
    start();
    const std::string first = login("lehrer1", "geheim1");
    login("admin", "geheim2");
    Response full = send("POST", "/anmelden", {}, {{"login", "lehrer1"}, {"password", "geheim1"}});
    EXPECT_EQ(full.status, 503);
    EXPECT_NE(full.body.find("zu viele Sitzungen"), std::string::npos) << full.body;
    EXPECT_EQ(api("GET", "/api/holds", "admin:geheim2").status, 503);
    EXPECT_EQ(send("POST", "/abmelden", first, {{"token", token(first)}}).status, 303);
    login("lehrer1", "geheim1");
}

}  // namespace
