// tarvel-web: the school's service (the teachers' page and the JSON API), and `passwd` for the
// embedded tree's web logins.
#include "platform/config_files.h"
#include "web/app.h"
#include "web/http.h"
#include "web/logins.h"
#include "web/web_config.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

enum Exit { Done = 0, Failed = 1, WrongUse = 2 };

volatile std::sig_atomic_t stopRequested = 0;

const char* const Usage =
    "Aufruf: tarvel-web [--config DATEI]\n"
    "        tarvel-web passwd LOGIN [--operator NAME] [--config DATEI]\n"
    "\n"
    "Ohne Befehl läuft der Dienst: die Seite der Lehrkräfte und die JSON-Schnittstelle, bis SIGTERM.\n"
    "passwd setzt das Kennwort eines Web-Logins für den eingebetteten Baum (Logins= der\n"
    "Konfiguration); --operator ist der Name im Baum, den das Login verwendet (sonst LOGIN selbst).\n"
    "Das Kennwort wird am Terminal zweimal ohne Echo erfragt, sonst als eine Zeile von stdin gelesen.\n"
    "\n"
    "Ohne --config: /etc/tarvel/tarvel-web.conf, sonst tarvel-web.conf in ~/.config/tarvel/\n"
    "(bzw. $XDG_CONFIG_HOME/tarvel/) oder neben dem Programm.\n"
    "Exit-Status: 0 erledigt, 1 fehlgeschlagen, 2 falscher Aufruf.\n";

int wrongUse(const std::string& why) {
    std::fprintf(stderr, "tarvel-web: %s\n(tarvel-web --help zeigt den Aufruf)\n", why.c_str());
    return WrongUse;
}

int failed(const std::string& why) {
    std::fprintf(stderr, "tarvel-web: %s\n", why.c_str());
    return Failed;
}

// A service reads the system's file first; a user's own file only where there is none (a trial
// run from a development build).
std::string defaultConfiguration() {
    const std::string system = "/etc/tarvel/tarvel-web.conf";
    struct stat st {};
    if (::stat(system.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return system;
    return platform::findConfigurationFile("tarvel-web.conf");
}

bool readPasswordLine(std::string& password) {
    if (!std::getline(std::cin, password)) return false;
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return true;
}

bool askPassword(const std::string& prompt, std::string& password) {
    termios old{};
    ::tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::fprintf(stderr, "%s: ", prompt.c_str());
    std::fflush(stderr);
    const bool got = readPasswordLine(password);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    return got;
}

int passwd(const web::WebConfig& config, const std::string& login, const std::string& operatorName) {
    if (config.loginFile.empty())
        return failed(config.file + ": Logins= ist nicht gesetzt (Web-Logins gibt es nur für den eingebetteten Baum).");
    std::string password;
    if (::isatty(STDIN_FILENO)) {
        std::string again;
        if (!askPassword("Neues Kennwort für " + login, password) || !askPassword("Kennwort wiederholen", again))
            return failed("Kein Kennwort eingegeben.");
        if (password != again) return failed("Die beiden Kennwörter stimmen nicht überein.");
    } else if (!readPasswordLine(password)) {
        return failed("Kein Kennwort auf der Standardeingabe.");
    }
    if (password.empty()) return failed("Das Kennwort ist leer.");
    std::string error;
    if (!web::writeLogin(config.loginFile, login, operatorName, password, error)) return failed(error);
    std::fprintf(stderr, "tarvel-web: Kennwort für %s in %s gesetzt.\n", login.c_str(), config.loginFile.c_str());
    return Done;
}

int serve(const web::WebConfig& config) {
    // A flag, not a blocked mask: the session workers are started from here and a mask would be
    // inherited through exec, leaving them deaf to the SIGTERM that ends them.
    struct sigaction onStop {};
    onStop.sa_handler = [](int) { stopRequested = 1; };
    sigemptyset(&onStop.sa_mask);
    ::sigaction(SIGTERM, &onStop, nullptr);
    ::sigaction(SIGINT, &onStop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::string error;
    std::unique_ptr<web::App> app = web::App::create(config, error);
    if (!app) return failed(error);
    web::ServerOptions options;
    options.address = config.listen;
    options.port = config.port;
    options.certificateFile = config.certificate;
    options.keyFile = config.key;
    options.trustedProxies = config.trustedProxies;
    web::HttpServer server;
    if (!server.start(options, [&app](const web::Request& r) { return app->handle(r); }, error)) return failed(error);
    const bool v6 = config.listen.find(':') != std::string::npos;
    std::fprintf(stderr, "tarvel-web: lauscht auf %s://%s%s%s:%d (Konfiguration %s)\n",
                 config.certificate.empty() ? "http" : "https", v6 ? "[" : "", config.listen.c_str(), v6 ? "]" : "",
                 server.port(), config.file.c_str());
    std::fflush(stderr);

    // A stop is noticed within a second whichever thread the signal reached.
    for (int second = 1; !stopRequested; ++second) {
        const timespec oneSecond{1, 0};
        ::nanosleep(&oneSecond, nullptr);
        if (second % 30 == 0 && !stopRequested) app->tick(std::time(nullptr));
    }
    std::fprintf(stderr, "tarvel-web: beendet.\n");
    server.stop();
    return Done;
}

}  // namespace

int main(int argc, char** argv) {
    std::string configFile, login, operatorName;
    bool passwdCommand = false, operatorGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name, std::string& out) {
            const std::string eq = std::string(name) + "=";
            if (a.rfind(eq, 0) == 0) {
                out = a.substr(eq.size());
                return true;
            }
            if (a != name) return false;
            if (i + 1 >= argc) throw std::string(name);
            out = argv[++i];
            return true;
        };
        try {
            if (a == "--help" || a == "-h") {
                std::fputs(Usage, stdout);
                return Done;
            } else if (a == "--version") {
                std::printf("tarvel-web %s\n", TARVEL_VERSION);
                return Done;
            } else if (value("--config", configFile)) {
            } else if (passwdCommand && value("--operator", operatorName)) {
                operatorGiven = true;
            } else if (!a.empty() && a[0] == '-') {
                return wrongUse("unbekannte Option " + a);
            } else if (!passwdCommand && a == "passwd") {
                passwdCommand = true;
            } else if (passwdCommand && login.empty()) {
                login = a;
            } else {
                return wrongUse("unerwartetes Argument " + a);
            }
        } catch (const std::string& option) {
            return wrongUse(option + " braucht einen Wert");
        }
    }
    if (passwdCommand && login.empty()) return wrongUse("passwd braucht ein LOGIN");
    if (operatorGiven && operatorName.empty()) return wrongUse("--operator braucht einen Namen");
    if (!configFile.empty()) {
        const std::string problem = platform::namedFileProblem(configFile);
        if (!problem.empty()) return wrongUse("--config: " + problem);
    } else {
        configFile = defaultConfiguration();
        if (configFile.empty())
            return failed("Keine tarvel-web.conf gefunden (in /etc/tarvel/, ~/.config/tarvel/ und neben dem Programm).");
    }
    web::WebConfig config;
    std::string error;
    if (!web::readWebConfig(configFile, config, error)) return failed(error);
    if (passwdCommand) return passwd(config, login, operatorGiven ? operatorName : login);
    return serve(config);
}
