// tarvel-proxy-helper: Squid's external ACL helper. Answers OK for a login that may browse and
// ERR for one in the deny group, asking the directory at every request through the operator's
// connection of nwclient.conf; anything it cannot answer is BH, so Squid refuses (fail closed).
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "platform/config_files.h"
#include "platform/ports.h"
#include "proxy/lookup.h"
#include "proxy/protocol.h"
#include "settings/settings.h"
#include "settings/settings_path.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const Usage =
    "Aufruf: tarvel-proxy-helper [--nwclient DATEI] [--ini DATEI]\n"
    "\n"
    "Squids externer ACL-Helfer: liest je Zeile einen Login-Namen (%LOGIN, mit concurrency= davor\n"
    "die Kanal-Nummer) und antwortet OK, wenn der Benutzer ins Internet darf, ERR, wenn er in der\n"
    "Internet-Verbotsgruppe ist, BH, wenn das Verzeichnis nicht gefragt werden kann.\n"
    "\n"
    "  --nwclient DATEI   diese nwclient.conf (auch --nwclient=DATEI)\n"
    "  --ini DATEI        diese Einstellungsdatei (auch --ini=DATEI; /ini=NAME wie im Fenster)\n"
    "  --help, --version\n"
    "\n"
    "Ohne Angabe: $XDG_CONFIG_HOME/tarvel/, dann /etc/tarvel/, dann neben dem Programm.\n";

// The layer's boxes go to standard error (Squid's cache.log); the last one becomes the BH message.
class HelperBox : public platform::MessageBoxPort {
public:
    platform::Answer show(const std::string& text, const std::string& caption, platform::Buttons) override {
        ++shown;
        last = caption + ": ";
        for (char c : text) last += c == '\r' || c == '\n' ? ' ' : c;
        std::fprintf(stderr, "tarvel-proxy-helper: %s\n", last.c_str());
        std::fflush(stderr);
        return platform::Answer::Ok;
    }
    int shown = 0;
    std::string last;
};

// Standard input is Squid's: a password can only come from PasswordFile=.
class NoCredentials : public platform::CredentialsPort {
public:
    bool askPassword(const std::string&, std::string&) override { return false; }
};

HelperBox box;
NoCredentials noCredentials;

int wrongUse(const std::string& why) {
    std::fprintf(stderr, "tarvel-proxy-helper: %s\n(tarvel-proxy-helper --help zeigt den Aufruf)\n", why.c_str());
    return 2;
}

struct Connection {
    std::string configuration;
    bool open = false;

    void close() {
        if (!open) return;
        nwapi::DoneNWConnection();
        nw::resetClient();
        open = false;
    }

    // Opens the operator's connection; false with the reason.
    bool ensure(std::string& why) {
        if (open) return treeStillShared(why);
        if (!configuration.empty()) nw::setConfigurationFile(configuration);
        const int before = box.shown;
        bool ok = false;
        nwapi::InitNWConnection(ok);
        open = true;
        if (!ok || box.shown != before) {
            why = "keine Verbindung zum Verzeichnis (" + box.last + ")";
            close();
            return false;
        }
        return treeStillShared(why);
    }

    // A tree file opened while it had no -wal and -shm beside it (and Squid's user could not
    // create them) is read as an unchanging snapshot: later stops would never be seen.
    bool treeStillShared(std::string& why) {
        const nw::ConnectionIdentity id = nw::connectionIdentity();
        if (!id.embedded) return true;
        std::error_code ec;
        for (const char* suffix : {"-wal", "-shm"}) {
            if (!fs::exists(id.tree + suffix, ec)) {
                why = id.tree + suffix + " fehlt: der Ordner des Baums muss für Squids Benutzer beschreibbar sein";
                close();
                return false;
            }
        }
        return true;
    }
};

}  // namespace

int main(int argc, char** argv) {
    platform::Ports ports;
    ports.messageBox = &box;
    ports.credentials = &noCredentials;
    platform::installPorts(ports);

    // The files as tarvel-ctl finds them: named (a plain path, or /ini= with the window's meaning),
    // else the user's folder, /etc/tarvel/, beside the program.
    std::string iniOption, iniSwitch, nwclient;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name, std::string& out) {
            const std::string eq = std::string(name) + "=";
            if (a.rfind(eq, 0) == 0) out = a.substr(eq.size());
            else if (a == name && i + 1 < argc) out = argv[++i];
            else return false;
            return true;
        };
        if (a == "--help" || a == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("tarvel-proxy-helper %s\n", TARVEL_VERSION);
            return 0;
        }
        if (value("--nwclient", nwclient) || value("--ini", iniOption)) continue;
        if (a.rfind("/ini=", 0) == 0 || a.rfind("/ini:", 0) == 0) {
            iniSwitch = a;
            continue;
        }
        return wrongUse("unbekanntes Argument " + a);
    }
    std::error_code ec;
    if (!nwclient.empty()) {
        if (const std::string problem = platform::namedFileProblem(nwclient); !problem.empty())
            return wrongUse("--nwclient: " + problem);
    } else {
        nwclient = platform::findConfigurationFile("nwclient.conf");
    }
    std::string folder = platform::programFolder();
    if (folder.empty()) folder = "./";
    const std::string ini = settings::CommandLineSettingsPath(folder, iniOption, iniSwitch);
    if (!iniOption.empty() || !iniSwitch.empty())
        if (const std::string problem = platform::namedFileProblem(ini); !problem.empty())
            return wrongUse((iniOption.empty() ? "/ini: " : "--ini: ") + problem);

    settings::resetToStartValues();
    if (!ini.empty() && fs::is_regular_file(ini, ec)) settings::LoadSettings(ini);
    const std::string group = settings::values().GroupInternetUserDeny;

    // Kept absolute: the connection is opened again after a failure, wherever the process is.
    Connection connection{nwclient.empty() ? std::string() : fs::absolute(nwclient, ec).string()};
    std::ios::sync_with_stdio(false);
    proxy::serve(std::cin, std::cout, [&](const std::string& login) {
        std::string why;
        if (!connection.ensure(why)) return proxy::Verdict{proxy::Verdict::Broken, why};
        proxy::Verdict verdict = proxy::askDirectory(login, group);
        // After a failure the next request starts with a fresh connection (a restarted server).
        if (verdict.kind == proxy::Verdict::Broken) connection.close();
        return verdict;
    });
    connection.close();
    return 0;
}
