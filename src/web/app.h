// tarvel-web's routes: the teachers' page (forms that work without JavaScript) and the JSON API
// for scripts and for tarvel-ctl/the window with Service=, both on the same desk.
//
// Sessions: a login starts the teacher's worker and sets a new session id (cookie "tarvel",
// HttpOnly, Secure, SameSite=Strict); every change carries the session's token (form field
// "token", or header X-Tarvel-Token for the page's script). A session ends at logout or after
// SessionMinutes= without use; MaxSessions= caps the workers. The API takes HTTP Basic instead of
// the cookie, per request, bound as that user.
//
// Page:  GET  /                 login form, or the classes when logged in
//        POST /anmelden         login (login, password)      POST /abmelden   logout (token)
//        GET  /klasse?name=N    a class: its pupils, state, holders and ends, the buttons
//        POST /aktion           token, names (one or more), action = stunde | minuten | weiter |
//                               an | meine, minutes (for minuten); answers 303 to /auftrag/ID
//        GET  /auftrag/ID       a job's progress (refreshing) or its result in describe's words
//        GET  /tarvel.css  /tarvel.js
// API (JSON, UTF-8):
//        GET  /api/classes                   {"classes":[{"name","caption"}]}
//        GET  /api/class?name=N              {"pupils":[{"name","caption","login","internet":"an"|"aus",
//                                              "holds":[{"holder","since","until"}]}]}  (epoch seconds,
//                                              until null = for good)
//        POST /api/stop    {"names":[...], "until":"stunde"|"weiter"|EPOCH, "minutes":N}
//        POST /api/release {"names":[...]}   POST /api/go {"names":[...]}
//                                            all three: 202 {"job":ID}
//        GET  /api/jobs/ID                   {"state":"running","done","total"} or {"state":"done",
//                                              "ok", "caption", "lines":[...], "ended":[{"name","holder",
//                                              "until"}], "stillHeld":[...], "boxes":[{"caption","text"}]}
//        GET  /api/holds                     {"holds":[{"name","holder","since","until"}]}
//        GET  /api/log?since=EPOCH           {"lines":[...]}  the audit trail
// Errors answer {"error": German text} with 400 (bad request), 401 (login), 403 (token), 404,
// 413 (too large), 429 (too many tries, Retry-After), 503 (no more sessions).
#pragma once

#include "web/http.h"
#include "web/web_config.h"

#include <memory>

namespace web {

class App {
public:
    // Opens the hold store in config.stateDir and starts the service account's worker for the
    // timer's releases. Null with error set (German) when either fails.
    static std::unique_ptr<App> create(const WebConfig& config, std::string& error);
    // The same with the workers started from workerProgram (empty: tarvel-web-worker beside this
    // program), for tests that run from another folder.
    static std::unique_ptr<App> create(const WebConfig& config, const std::string& workerProgram, std::string& error);
    virtual ~App() = default;

    virtual Response handle(const Request& request) = 0;
    // Ends idle sessions and runs the due releases; called by the service about once a minute.
    virtual void tick(std::time_t now) = 0;
};

}  // namespace web
