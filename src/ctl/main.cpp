// tarvel-ctl: stop and go from scripts and timetables, timed stops, a consistency check with
// repair and the audit trail, on the window's layers without Qt.
#include "ctl/ctl.h"
#include "ctl/terminal_ports.h"
#include "deny/schedule.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "settings/settings.h"
#include "settings/settings_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace {

const char* const Usage =
    "Aufruf: tarvel-ctl [OPTIONEN] BEFEHL [NAME...]\n"
    "\n"
    "Befehle:\n"
    "  list [--logins] [--output=DATEI]  Mitglieder der Internet-Verbotsgruppe (--logins: Login-Namen\n"
    "                                    für eine Proxy-Liste; --output schreibt sie atomar in DATEI)\n"
    "  stop NAME...                      Benutzer (oder alle Benutzer unter Containern) sperren\n"
    "  stop --for 45m NAME...            sperren und nach der Zeit (s, m, h) wieder freigeben\n"
    "  stop --until 09:30 NAME...        sperren bis zur Uhrzeit\n"
    "  go NAME...                        Benutzer (oder alle Benutzer unter Containern) freigeben\n"
    "  due                               fällige zeitgesteuerte Freigaben ausführen (Timer, cron)\n"
    "  pending                           anstehende zeitgesteuerte Freigaben zeigen\n"
    "  check                             die vier Stellen der Mitgliedschaft prüfen\n"
    "  repair                            Befunde von check beheben (Member entscheidet)\n"
    "  log [--since DATUM]               das Protokoll aller Änderungen\n"
    "  acl LEHRKRAFT CONTAINER...        OpenLDAP-Zugriffsregeln: die Lehrkraft sperrt und gibt nur\n"
    "                                    die Benutzer unter diesen Containern frei\n"
    "\n"
    "Optionen:\n"
    "  --nwclient=DATEI   diese nwclient.conf statt der gesuchten\n"
    "  --ini=DATEI        diese Einstellungsdatei (auch /ini=DATEI)\n"
    "  --dry-run          nur zeigen, was sich ändern würde (stop, go, due, repair)\n"
    "  --json             Ausgabe als JSON (list, pending, check, log)\n"
    "  --help, --version\n"
    "\n"
    "Exit-Status: 0 erledigt, 1 fehlgeschlagen oder nur teilweise erledigt, 2 falscher Aufruf.\n"
    "Das Kennwort kommt aus PasswordFile= der nwclient.conf oder wird am Terminal erfragt.\n";

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

int wrongUse(const std::string& why) {
    std::fprintf(stderr, "tarvel-ctl: %s\n(tarvel-ctl --help zeigt den Aufruf)\n", why.c_str());
    return ctl::WrongUse;
}

std::string programFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("./") : exe.parent_path().string() + "/";
}

// --ini=, /ini= (and the window's other spellings) name it; else the launcher's file when it
// exists; else the window's default beside the program.
std::string settingsPath(const std::string& iniSwitch, const char* argv0) {
    const std::string folder = programFolder();
    if (!iniSwitch.empty()) return settings::ComputeSettingsPath(folder, {argv0, iniSwitch});
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string user;
    if (xdg && *xdg) user = std::string(xdg) + "/tarvel/tarvel.ini";
    else if (home && *home) user = std::string(home) + "/.config/tarvel/tarvel.ini";
    std::error_code ec;
    if (!user.empty() && std::filesystem::is_regular_file(user, ec)) return user;
    return settings::ComputeSettingsPath(folder, {argv0});
}

}  // namespace

int main(int argc, char** argv) {
    ctl::installTerminalPorts();
    ctl::Options options;
    std::string iniSwitch;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto valueOf = [&](const char* name, std::string& out) {
            const std::string eq = std::string(name) + "=";
            if (startsWith(a, eq.c_str())) {
                out = a.substr(eq.size());
                return true;
            }
            if (a == name) {
                if (i + 1 >= argc) return false;
                out = argv[++i];
                return true;
            }
            return false;
        };
        if (optionsEnded || a.empty() || (a[0] != '-' && !startsWith(a, "/ini"))) {
            if (options.command.empty()) options.command = a;
            else options.names.push_back(a);
            continue;
        }
        if (a == "--") optionsEnded = true;
        else if (a == "--help" || a == "-h") {
            std::fputs(Usage, stdout);
            return ctl::Done;
        } else if (a == "--version") {
            std::printf("tarvel-ctl %s\n", TARVEL_VERSION);
            return ctl::Done;
        } else if (startsWith(a, "--nwclient=")) nw::setConfigurationFile(a.substr(11));
        else if (startsWith(a, "--ini=")) iniSwitch = "/ini=" + a.substr(6);
        else if (startsWith(a, "/ini=") || startsWith(a, "/ini:")) iniSwitch = a;
        else if (a == "--json") options.json = true;
        else if (a == "--dry-run") options.dryRun = true;
        else if (a == "--logins") options.logins = true;
        else if (a == "--for" || startsWith(a, "--for=")) {
            if (!valueOf("--for", options.forText)) return wrongUse("--for braucht eine Dauer");
        } else if (a == "--until" || startsWith(a, "--until=")) {
            if (!valueOf("--until", options.untilText)) return wrongUse("--until braucht eine Uhrzeit");
        } else if (a == "--since" || startsWith(a, "--since=")) {
            if (!valueOf("--since", options.since)) return wrongUse("--since braucht ein Datum");
        } else if (startsWith(a, "--output=")) options.output = a.substr(9);
        else return wrongUse("unbekannte Option " + a);
    }

    const std::string& c = options.command;
    if (c.empty()) return wrongUse("kein Befehl angegeben");
    const bool takesNames = c == "stop" || c == "go" || c == "acl";
    if (c != "list" && c != "stop" && c != "go" && c != "due" && c != "pending" && c != "check" && c != "repair" &&
        c != "log" && c != "acl")
        return wrongUse("unbekannter Befehl " + c);
    if (takesNames && options.names.empty()) return wrongUse(c + " braucht mindestens einen Namen");
    if (!takesNames && !options.names.empty()) return wrongUse(c + " nimmt keine Namen");
    if (c == "acl" && options.names.size() < 2) return wrongUse("acl braucht eine Lehrkraft und mindestens einen Container");
    if ((!options.forText.empty() || !options.untilText.empty()) && c != "stop")
        return wrongUse("--for und --until gelten nur für stop");
    if (!options.forText.empty() && !options.untilText.empty()) return wrongUse("--for oder --until, nicht beides");
    std::time_t due = 0;
    if (!options.forText.empty() && !deny::parseDuration(options.forText, std::time(nullptr), due))
        return wrongUse(options.forText + " ist keine Dauer (z. B. 90s, 45m, 2h)");
    if (!options.untilText.empty() && !deny::parseClockTime(options.untilText, std::time(nullptr), due))
        return wrongUse(options.untilText + " ist keine Uhrzeit (HH:MM)");
    if (options.logins && c != "list") return wrongUse("--logins gilt nur für list");
    if (!options.output.empty() && c != "list") return wrongUse("--output gilt nur für list");
    if (!options.since.empty() && c != "log") return wrongUse("--since gilt nur für log");
    if (options.dryRun && c != "stop" && c != "go" && c != "due" && c != "repair")
        return wrongUse("--dry-run gilt nur für stop, go, due und repair");
    if (options.json && c != "list" && c != "pending" && c != "check" && c != "log")
        return wrongUse("--json gilt nur für list, pending, check und log");

    if (c == "pending") return ctl::cmdPending(options);
    if (c == "log") return ctl::cmdLog(options);

    // The directory commands: the settings, then the operator's connection.
    settings::resetToStartValues();
    settings::LoadSettings(settingsPath(iniSwitch, argv[0]));
    if (c == "acl") return ctl::cmdAcl(options);  // prints rules, asks no directory
    bool connected = false;
    const int boxesBefore = ctl::messageBox().shown;
    nwapi::InitNWConnection(connected);
    // The layer goes on after a failed connection (the window still opens); here it ends.
    if (!connected || ctl::messageBox().shown != boxesBefore) {
        ctl::say("Keine Verbindung zum Verzeichnis: nichts wurde geändert.");
        return ctl::Failed;
    }
    if (c == "list") return ctl::cmdList(options);
    if (c == "stop") return ctl::cmdStopGo(true, options);
    if (c == "go") return ctl::cmdStopGo(false, options);
    if (c == "due") return ctl::cmdDue(options);
    if (c == "check") return ctl::cmdCheck(options, false);
    return ctl::cmdCheck(options, true);
}
