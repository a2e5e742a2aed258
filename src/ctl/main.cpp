// tarvel-ctl: stop and go from scripts and timetables, timed stops, a consistency check with
// repair and the audit trail, on the window's layers without Qt.
#include "ctl/ctl.h"
#include "ctl/terminal_ports.h"
#include "deny/schedule.h"
#include "deny/service.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "platform/config_files.h"
#include "settings/settings.h"
#include "settings/settings_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

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
    "  acl --ad LEHRKRAFT CONTAINER...   dasselbe für Active Directory: samba-tool-Befehle für je eine\n"
    "                                    Klassengruppe und das Schreibrecht der Lehrkraft darauf\n"
    "\n"
    "Optionen:\n"
    "  --nwclient DATEI   diese nwclient.conf statt der gesuchten (auch --nwclient=DATEI)\n"
    "  --ini DATEI        diese Einstellungsdatei statt der gesuchten (auch --ini=DATEI;\n"
    "                     /ini=NAME wie im Fenster: NAME.ini neben dem Programm)\n"
    "  --dry-run          nur zeigen, was sich ändern würde (stop, go, due, repair)\n"
    "  --json             Ausgabe als JSON (list, pending, check, log)\n"
    "  --help, --version\n"
    "\n"
    "Exit-Status: 0 erledigt, 1 fehlgeschlagen oder nur teilweise erledigt, 2 falscher Aufruf.\n"
    "Ohne --nwclient und --ini werden nwclient.conf und tarvel.ini gesucht: in ~/.config/tarvel/\n"
    "(bzw. $XDG_CONFIG_HOME/tarvel/), in /etc/tarvel/, dann neben dem Programm.\n"
    "Das Kennwort kommt aus PasswordFile= der nwclient.conf oder wird am Terminal erfragt.\n"
    "Mit Service=https://SERVER:8443 in der nwclient.conf gehen stop, go, pending und log über den\n"
    "Dienst der Schule (tarvel-web) mit dem eigenen Login; due führt dann der Dienst aus.\n";

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

int wrongUse(const std::string& why) {
    std::fprintf(stderr, "tarvel-ctl: %s\n(tarvel-ctl --help zeigt den Aufruf)\n", why.c_str());
    return ctl::WrongUse;
}

// A file the command line names must be there: silently falling back to another file or to
// defaults would act on the wrong directory or the wrong deny group.
bool namedFileMissing(const char* option, const std::string& path) {
    const std::string problem = platform::namedFileProblem(path);
    if (problem.empty()) return false;
    wrongUse(std::string(option) + ": " + problem);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ctl::installTerminalPorts();
    ctl::Options options;
    std::string iniOption, iniSwitch, nwclientOption;
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
        } else if (a == "--nwclient" || startsWith(a, "--nwclient=")) {
            if (!valueOf("--nwclient", nwclientOption) || nwclientOption.empty())
                return wrongUse("--nwclient braucht eine Datei");
        } else if (a == "--ini" || startsWith(a, "--ini=")) {
            if (!valueOf("--ini", iniOption) || iniOption.empty()) return wrongUse("--ini braucht eine Datei");
        } else if (startsWith(a, "/ini=") || startsWith(a, "/ini:")) iniSwitch = a;
        else if (a == "--json") options.json = true;
        else if (a == "--dry-run") options.dryRun = true;
        else if (a == "--logins") options.logins = true;
        else if (a == "--ad") options.ad = true;
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
    if (options.ad && c != "acl") return wrongUse("--ad gilt nur für acl");
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

    if (!nwclientOption.empty()) {
        if (namedFileMissing("--nwclient", nwclientOption)) return ctl::WrongUse;
        nw::setConfigurationFile(nwclientOption);
    }
    std::string folder = platform::programFolder();
    if (folder.empty()) folder = "./";
    const std::string iniPath = settings::CommandLineSettingsPath(folder, iniOption, iniSwitch);
    if ((!iniOption.empty() || !iniSwitch.empty()) && namedFileMissing(iniOption.empty() ? "/ini" : "--ini", iniPath))
        return ctl::WrongUse;

    // With a service the school's state is its: stops, goes, the holds and the trail go through it.
    if (const std::string service = deny::serviceAddress();
        !service.empty() && (c == "stop" || c == "go" || c == "pending" || c == "log" || c == "due")) {
        if (const std::string problem = deny::serviceAddressProblem(service); !problem.empty())
            return wrongUse(problem);
        if (options.dryRun && c != "due") return wrongUse("--dry-run gibt es mit Service= nicht");
        if (c == "stop" || c == "go") return ctl::cmdServiceStopGo(c == "stop", options);
        if (c == "pending") return ctl::cmdServicePending(options);
        if (c == "log") return ctl::cmdServiceLog(options);
        return ctl::cmdServiceDue();
    }
    if (c == "pending") return ctl::cmdPending(options);
    if (c == "log") return ctl::cmdLog(options);

    // The directory commands: the settings, then the operator's connection.
    settings::resetToStartValues();
    settings::LoadSettings(iniPath);
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
