#include "dialogs/connection_failure.h"

#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "platform/text.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <vector>

namespace {

struct Cause {
    const char* reason;
    std::vector<const char*> keys;  // the first of these the file has is the line shown
};

Cause causeOf(unsigned code) {
    switch (code) {
    case nw::TARVEL_NO_CONFIGURATION: return {"keine nwclient.conf gefunden", {}};
    case nw::TARVEL_CONFIGURATION_INVALID: return {"nwclient.conf ist unlesbar oder fehlerhaft", {"tree"}};
    case nw::TARVEL_TREE_MISSING: return {"die Baumdatei fehlt", {"tree"}};
    case nw::TARVEL_TREE_UNREADABLE: return {"keine Baumdatei oder nicht lesbar", {"tree"}};
    case nw::TARVEL_TREE_LOCKED: return {"die Baumdatei ist von einem anderen Programm gesperrt", {"tree"}};
    case nw::TARVEL_OPERATOR_UNKNOWN: return {"Operator= nennt kein Objekt des Verzeichnisses", {"operator"}};
    case nw::TARVEL_TREE_DAMAGED: return {"die Baumdatei ist beschädigt (tarvel-tree check)", {"tree"}};
    case nw::TARVEL_LDAP_UNREACHABLE: return {"der LDAP-Server antwortet nicht", {"tree"}};
    case nw::TARVEL_LDAP_BAD_CREDENTIALS:
        return {"Anmeldung abgelehnt: Kennwort falsch", {"passwordfile", "binddn", "operator"}};
    case nw::TARVEL_LDAP_TLS_FAILED: return {"die TLS-Verbindung kam nicht zustande", {"cafile", "tree"}};
    case nw::TARVEL_LDAP_NO_PASSWORD: return {"kein Kennwort angegeben", {"passwordfile", "binddn", "operator"}};
    case nw::TARVEL_LDAP_LIBRARY_MISSING: return {"die LDAP-Bibliothek (libldap) ist nicht installiert", {"tree"}};
    default: return {"die Verbindung kam nicht zustande", {"tree"}};
    }
}

std::string trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// The first line of the file that sets one of keys (in their order of preference).
void findLine(const std::string& file, const std::vector<const char*>& keys, ConnectionFailure& out) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(trimmed(line));
    for (const char* key : keys)
        for (size_t i = 0; i < lines.size(); ++i) {
            const size_t eq = lines[i].find('=');
            if (lines[i].empty() || lines[i][0] == '#' || lines[i][0] == ';' || eq == std::string::npos) continue;
            if (text::toLowerAscii(trimmed(lines[i].substr(0, eq))) != key) continue;
            out.line = int(i) + 1;
            out.lineText = lines[i];
            return;
        }
}

}  // namespace

ConnectionFailure connectionFailure() {
    ConnectionFailure failure;
    failure.code = nwapi::layer().connectionFailure;
    if (failure.code == 0) return failure;
    const Cause cause = causeOf(failure.code);
    failure.reason = cause.reason;
    failure.file = nw::connectionIdentity().configurationFile;
    if (failure.file.empty()) {
        for (const std::string& place : nw::configurationSearchPath())
            failure.file += (failure.file.empty() ? "" : ", ") + place;
        return failure;
    }
    findLine(failure.file, cause.keys, failure);
    return failure;
}

std::string failureLine(const ConnectionFailure& failure) {
    std::string line = failure.file;
    if (failure.line > 0) line += ":" + std::to_string(failure.line);
    line += ": " + failure.reason + " (Fehler " + std::to_string(failure.code);
    if (!failure.lineText.empty()) line += "; " + failure.lineText;
    return line + ")";
}

void reportConnectionFailure() {
    const ConnectionFailure failure = connectionFailure();
    if (failure.code == 0) return;
    const std::string line = "Verbindung zum Verzeichnis fehlgeschlagen: " + failureLine(failure);
    std::fprintf(stderr, "tarvel: %s\n", line.c_str());
    std::fflush(stderr);
    if (isatty(STDERR_FILENO)) return;
    openlog("tarvel", LOG_PID, LOG_USER);
    syslog(LOG_WARNING, "%s", line.c_str());
}
