// The worker's side: one process bound as one account, answering the service's requests with the
// same layers the window and tarvel-ctl use. Boxes the layers show are recorded and sent back with
// the answer; nothing is pumped; the password is handed to the client once and then forgotten.
#include "browse/browse.h"
#include "deny/members.h"
#include "deny/audit.h"
#include "deny/selection.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "nwclient/names.h"
#include "platform/ports.h"
#include "settings/settings.h"
#include "web/logins.h"
#include "web/worker.h"
#include "web/worker_protocol.h"

#include <algorithm>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace web {

namespace {

using wire::Json;

struct RecordedBoxes : platform::MessageBoxPort {
    std::vector<Box> boxes;
    platform::Answer show(const std::string& text, const std::string& caption, platform::Buttons) override {
        boxes.push_back({caption, text});
        return platform::Answer::Ok;
    }
    std::vector<Box> take() { return std::exchange(boxes, {}); }
};

struct Quiet : platform::BusyCursorPort, platform::EventPumpPort, platform::ShellPort {
    void push() override {}
    void pop() override {}
    void pump() override {}  // the worker has no window: nothing to keep alive meanwhile
    bool openWebAddress(const std::string&) override { return false; }
    void endProgram(int exitCode) override { ::_exit(exitCode); }
};

// Hands out the session's password once: a second ask (a reconnect whose first bind was refused)
// is refused, so a wrong password ends as bad credentials instead of a loop.
struct OnePassword : platform::CredentialsPort {
    std::string password;
    bool given = false;
    bool askPassword(const std::string&, std::string& out) override {
        if (given || password.empty()) return false;
        given = true;
        out = password;
        wire::wipe(password);
        return true;
    }
};

std::string parentOf(const std::string& fullName) {
    for (size_t i = 0; i < fullName.size(); ++i) {
        if (fullName[i] == '\\') ++i;
        else if (fullName[i] == '.') return fullName.substr(i + 1);
    }
    return {};
}

std::string leafOf(const std::string& fullName) {
    const std::vector<std::string> parts = nw::names::splitEscaped(fullName);
    return parts.empty() ? std::string() : parts.front();
}

std::string keyOf(const std::string& name) {
    return text::localeSortKey(name.empty() || name[0] != '.' ? name : name.substr(1));
}

std::string searchBase(const std::string& container) {
    return browse::IstRootContext(container) || container.empty() ? std::string("[Root]") : container;
}

class Session {
public:
    explicit Session(int fd) : fd_(fd), reader_(fd) {
        platform::Ports ports;
        ports.messageBox = &boxes_;
        ports.busyCursor = &quiet_;
        ports.eventPump = &quiet_;
        ports.shell = &quiet_;
        ports.credentials = &password_;
        platform::installPorts(ports);
    }

    int run() {
        std::string line;
        if (reader_.next(line, -1) != wire::LineReader::Result::Line) return 1;
        Json request = Json::parse(line, nullptr, false);
        wire::wipe(line);
        reader_.wipe();
        if (!request.is_object()) return 1;
        Json answer = login(request);
        if (request.contains("password") && request["password"].is_string())
            wire::wipe(request["password"].get_ref<std::string&>());
        answer["boxes"] = wire::boxesToJson(boxes_.take());
        const bool bound = answer.value("ok", false);
        if (!wire::writeLine(fd_, wire::text(answer)) || !bound) return bound ? 1 : 0;
        for (;;) {
            const auto got = reader_.next(line, -1);
            if (got == wire::LineReader::Result::Closed) return 0;
            if (got != wire::LineReader::Result::Line) return 1;
            Json r = Json::parse(line, nullptr, false);
            Json a = r.is_object() ? handle(r) : Json{{"ok", false}};
            a["boxes"] = wire::boxesToJson(boxes_.take());
            if (!wire::writeLine(fd_, wire::text(a))) return 1;
        }
    }

private:
    static Json failed(LoginFailure why, const std::string& message) {
        return Json{{"ok", false}, {"failure", static_cast<int>(why)}, {"message", message}};
    }

    Json login(const Json& request) {
        const std::string who = request.value("login", std::string());
        const std::string conf = request.value("clientConfiguration", std::string());
        nw::setConfigurationFile(conf);
        settings::resetToStartValues();
        deny::setDefaultAuditLogPath(request.value("auditLog", std::string()));
        settings::LoadSettings(request.value("settingsFile", std::string()));
        if (!boxes_.boxes.empty()) return failed(LoginFailure::NotConfigured, "Die Einstellungsdatei des Dienstes ist nicht lesbar.");
        nw::ClientConfig config;
        if (nw::loadConfiguration(config) != nw::SUCCESSFUL)
            return failed(LoginFailure::NotConfigured, "Die nwclient.conf des Dienstes ist nicht lesbar.");
        const bool embedded = config.tree.rfind("sqlite:", 0) == 0;
        std::string password = request.contains("password") && request["password"].is_string()
                                   ? request["password"].get<std::string>() : std::string();
        struct Wipe { std::string& s; ~Wipe() { wire::wipe(s); } } wipePassword{password};
        const Json refused = failed(LoginFailure::BadCredentials, "Anmeldung fehlgeschlagen: Login-Name oder Kennwort ist falsch.");

        std::string dnLogin;
        if (who.empty()) {
            // The service's own account, as its nwclient.conf says.
        } else if (embedded) {
            std::string op, error;
            const std::string file = request.value("loginFile", std::string());
            if (file.empty()) return failed(LoginFailure::NotConfigured, "Für den eingebetteten Baum ist keine Anmeldedatei eingerichtet.");
            switch (checkLogin(file, who, password, op, error)) {
                case LoginCheck::Ok: break;
                case LoginCheck::FileError: return failed(LoginFailure::NotConfigured, error);
                default: return refused;
            }
            nw::setSessionAccount(op, "");
        } else {
            if (password.empty()) return refused;  // an empty password would bind anonymously
            if (who.find('=') != std::string::npos) {
                dnLogin = who;  // a DN: the server knows it as given
                nw::setSessionAccount("", who);
            } else {
                std::string fullName, bindAs;
                if (Json fault = findAccount(who, conf, fullName, bindAs); !fault.is_null()) return fault;
                nw::setSessionAccount(fullName, bindAs);
            }
            password_.password = password;
        }
        bool ok = false;
        nwapi::InitNWConnection(ok);
        wire::wipe(password_.password);
        // The layer lets a program go on without its connection (the window opens anyway).
        if (!ok || nwapi::layer().connectionFailure != 0) return connectionFailure(who.empty());
        boxes_.take();
        const nw::ConnectionIdentity id = nw::connectionIdentity();
        operator_ = id.operatorName;
        if (!dnLogin.empty()) {
            const std::string name = nw::fullNameOfDistinguishedName(dnLogin);
            if (!name.empty()) operator_ = name;
        } else if (!embedded && operator_.find('=') != std::string::npos) {
            const std::string name = nw::fullNameOfDistinguishedName(operator_);
            if (!name.empty()) operator_ = name;
        }
        return Json{{"ok", true}, {"operator", operator_}};
    }

    Json connectionFailure(bool serviceAccount) {
        const uint32_t code = nwapi::layer().connectionFailure;
        std::string detail;
        for (const Box& b : boxes_.boxes) detail += (detail.empty() ? "" : "\r\n") + b.text;
        if (!serviceAccount && (code == nw::TARVEL_LDAP_BAD_CREDENTIALS || code == nw::TARVEL_LDAP_NO_PASSWORD ||
                                code == nw::TARVEL_OPERATOR_UNKNOWN)) {
            boxes_.take();  // which of login and password was wrong stays untold
            return failed(LoginFailure::BadCredentials, "Anmeldung fehlgeschlagen: Login-Name oder Kennwort ist falsch.");
        }
        if (code == nw::TARVEL_LDAP_UNREACHABLE || code == nw::TARVEL_LDAP_TLS_FAILED || code == nw::TARVEL_TREE_LOCKED)
            return failed(LoginFailure::Unreachable, "Das Verzeichnis antwortet nicht." + (detail.empty() ? "" : "\r\n" + detail));
        return failed(LoginFailure::NotConfigured, "Die Verbindung zum Verzeichnis ist nicht eingerichtet." + (detail.empty() ? "" : "\r\n" + detail));
    }

    // The one User the login names, found with the service account's connection, and what to
    // bind as. The tree's name of the account is the session's operator (the holder of its
    // holds), whichever form the teacher typed. Where the directory keeps logins apart from
    // names (AD's sAMAccountName), they are found there, also as DOMAIN\login and login@domain
    // (a userPrincipalName, else AD's implicit one, the sAMAccountName at the domain); such a
    // form is bound as typed, so the server judges its domain part too. Elsewhere the login is
    // the leaf name and the bind goes to the entry found.
    Json findAccount(const std::string& login, const std::string& conf, std::string& fullName, std::string& bindAs) {
        bool ok = false;
        nwapi::InitNWConnection(ok);
        if (!ok || nwapi::layer().connectionFailure != 0) return connectionFailure(true);
        nw::DirectoryBackend* backend = nw::currentBackend();
        const std::string attribute = backend ? backend->loginAttribute() : std::string("CN");
        const bool byLeaf = text::equalsAsciiNoCase(attribute, "CN");
        const size_t slash = login.find('\\'), at = login.rfind('@');
        std::vector<std::pair<std::string, std::string>> asks;  // attribute, value; the first that finds wins
        if (byLeaf) {
            asks.push_back({attribute, login});
        } else if (slash != std::string::npos) {
            if (slash > 0 && slash + 1 < login.size()) asks.push_back({attribute, login.substr(slash + 1)});
        } else if (at != std::string::npos) {
            asks.push_back({"userPrincipalName", login});
            if (at > 0 && at + 1 < login.size()) asks.push_back({attribute, login.substr(0, at)});
        } else {
            asks.push_back({attribute, login});
        }
        std::vector<std::string> found;
        nw::NWDSCCODE rc = backend ? 0 : nw::ERR_NO_CONNECTION;
        for (const auto& [name, value] : asks) {
            std::unique_ptr<nw::ObjectCursor> cursor;
            if (rc == 0) rc = backend->search(nw::ROOT_ID, name, value, cursor);
            for (std::vector<nw::ObjectSummary> page; rc == 0 && found.size() < 2;) {
                page.clear();
                rc = cursor->next(page);
                if (rc != 0 || page.empty()) break;
                // The server matched the value; a leaf name is checked once more, as the
                // server's matching of names forgives spaces.
                for (const nw::ObjectSummary& s : page)
                    if (text::equalsAsciiNoCase(s.baseClass, "User") && (!byLeaf || text::equalsLocaleNoCase(leafOf(s.name), login)))
                        found.push_back(s.name);
            }
            if (rc != 0 || !found.empty()) break;
        }
        const bool typedForm = !byLeaf && (slash != std::string::npos || at != std::string::npos);
        if (rc == 0 && found.size() == 1) bindAs = typedForm ? login : nw::distinguishedNameOf(found.front());
        nwapi::DoneNWConnection();
        nw::resetClient();
        nwapi::resetLayerForTesting();
        nw::setConfigurationFile(conf);
        if (rc != 0) return failed(LoginFailure::Unreachable, "Das Verzeichnis antwortet nicht.");
        boxes_.take();
        if (found.size() != 1 || bindAs.empty()) return failed(LoginFailure::BadCredentials, "Anmeldung fehlgeschlagen: Login-Name oder Kennwort ist falsch.");
        fullName = found.front();
        return nullptr;
    }

    Json handle(const Json& r) {
        const std::string op = r.value("op", std::string());
        if (op == "gather") return gather(r.value("names", text::NameList()));
        if (op == "change") return change(r.value("direction", std::string()) == "go" ? deny::Direction::Go : deny::Direction::Stop,
                                          r.value("users", text::NameList()));
        if (op == "classes") return classes();
        if (op == "pupils") return pupils(r.value("class", std::string()));
        if (op == "report") {
            rlimit core{};
            ::getrlimit(RLIMIT_CORE, &core);
            return Json{{"ok", true}, {"dumpable", ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0)}, {"core", core.rlim_cur}};
        }
        return Json{{"ok", false}};
    }

    Json gather(const text::NameList& names) {
        text::NameList users, skipped, unknown;
        const std::vector<deny::SelectedEntry> entries = deny::entriesOfNames(names);
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].kind == deny::EntryKind::Other) unknown.push_back(names[i]);
        // A typo must not shrink a class stop silently: the desk changes nothing then.
        const bool ok = unknown.empty() && deny::gatherUsers(entries, users, skipped);
        return Json{{"ok", ok}, {"users", users}, {"skipped", skipped}, {"unknown", unknown}};
    }

    Json change(deny::Direction direction, const text::NameList& users) {
        const std::string group = settings::values().GroupInternetUserDeny;
        deny::JobOptions options;
        options.progress = [this](size_t done, size_t total) {
            wire::writeLine(fd_, wire::text(Json{{"progress", {done, total}}}));
        };
        const deny::JobResult job = deny::runJob(direction, users, group, options);
        text::NameList members, inGroup;
        // A job that did everything asked for leaves no doubt; only an incomplete one needs the
        // group read again (a whole group can be tens of thousands of names).
        if (job.ok()) {
            if (direction == deny::Direction::Stop) inGroup = users;
            return Json{{"ok", true}, {"job", wire::toJson(job)}, {"inGroup", inGroup}, {"inGroupKnown", true}};
        }
        const bool known = deny::readMembers(group, members);
        if (known) {
            std::unordered_set<std::string> keys;
            for (const std::string& m : members) keys.insert(keyOf(m));
            for (const std::string& u : users)
                if (keys.count(keyOf(u))) inGroup.push_back(u);
        }
        return Json{{"ok", true}, {"job", wire::toJson(job)}, {"inGroup", inGroup}, {"inGroupKnown", known}};
    }

    Json classes() {
        const settings::Values& v = settings::values();
        const std::string base = searchBase(v.BasisUserContainer);
        text::NameList containers, users;
        if (!nwapi::SearchObjects(base, containers, "Organizational Unit") || !nwapi::SearchObjects(base, containers, "Organization") ||
            !nwapi::SearchObjects(base, users, "User"))
            return Json{{"ok", false}};
        std::unordered_set<std::string> holdingUsers;
        for (const std::string& u : users) holdingUsers.insert(keyOf(parentOf(u)));
        // The window's container filters judge each container by its own name; a container the
        // window would not show hides what is below it too.
        text::NameList entries;
        for (const std::string& c : containers) entries.push_back("[Organizational Unit] " + leafOf(c));
        browse::NameFilters filters{v.ShowContainerList, v.NoShowContainerList, {}, {}};
        browse::FilterZeige(entries, filters.showContainers, true);
        browse::FilterZeigeNicht(entries, filters.hideContainers, true);
        std::unordered_set<std::string> shownLeaves;
        for (const std::string& e : entries) shownLeaves.insert(keyOf(browse::NameAusEintrag(e)));
        const std::string baseKey = keyOf(base);
        Json out = Json::array();
        std::vector<ClassEntry> list;
        for (const std::string& c : containers) {
            if (!holdingUsers.count(keyOf(c))) continue;
            bool shown = true;
            std::string caption;
            for (std::string at = c; shown && !at.empty() && keyOf(at) != baseKey; at = parentOf(at)) {
                shown = shownLeaves.count(keyOf(leafOf(at))) > 0;
                const std::string leaf = at.substr(0, at.size() - parentOf(at).size() - (parentOf(at).empty() ? 0 : 1));
                caption = caption.empty() ? leaf : caption + "." + leaf;
            }
            if (shown) list.push_back({c, caption});
        }
        std::sort(list.begin(), list.end(), [](const ClassEntry& a, const ClassEntry& b) { return text::lessLocaleNoCase(a.caption, b.caption); });
        for (const ClassEntry& e : list) out.push_back({e.name, e.caption});
        return Json{{"ok", true}, {"classes", out}};
    }

    Json pupils(const std::string& className) {
        text::NameList users, members;
        if (className.empty() || !nwapi::SearchObjects(className, users, "User")) return Json{{"ok", false}};
        if (!deny::readMembers(settings::values().GroupInternetUserDeny, members)) return Json{{"ok", false}};
        std::unordered_set<std::string> stopped;
        for (const std::string& m : members) stopped.insert(keyOf(m));
        std::vector<PupilEntry> list;
        for (const std::string& u : users) list.push_back({u, leafOf(u), leafOf(u), stopped.count(keyOf(u)) > 0});
        std::sort(list.begin(), list.end(), [](const PupilEntry& a, const PupilEntry& b) { return text::lessLocaleNoCase(a.caption, b.caption); });
        Json out = Json::array();
        for (const PupilEntry& p : list) out.push_back({p.name, p.caption, p.login, p.stopped});
        return Json{{"ok", true}, {"pupils", out}};
    }

    int fd_;
    wire::LineReader reader_;
    RecordedBoxes boxes_;
    Quiet quiet_;
    OnePassword password_;
    std::string operator_;
};

}  // namespace

int runWorker(int fd) {
    // Before the password arrives: no core dump and no debugger may read it out of this process.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    Session session(fd);
    return session.run();
}

}  // namespace web
