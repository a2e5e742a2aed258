// tarvel-web.conf: the service's own settings (the settings file keeps exactly its four sections,
// and nwclient.conf the directory's). Lines "Key=Value" in sections; unknown keys are refused
// with their line number, as a typo there would silently change how the school's service runs.
//
//   [Dienst]
//   Listen=0.0.0.0            address to listen on; plain HTTP only on a loopback address
//   Port=8443
//   Certificate=/etc/tarvel/web.pem   Key=/etc/tarvel/web.key   (PEM; required off loopback)
//   StateDir=/var/lib/tarvel  the holds, the plan of releases and the audit trail
//   NWClient=/etc/tarvel/nwclient.conf   the service account's directory connection
//   Settings=/etc/tarvel/tarvel.ini      deny group, base container, filters
//   Logins=/etc/tarvel/web-logins        crypt(3) hashes for the embedded tree; empty on LDAP
//   SessionMinutes=45  MaxSessions=200  AuditDays=90
//   TrustedProxy=127.0.0.1    reverse proxies whose X-Forwarded-For is believed (comma-separated)
//   [Stunden]
//   1=07:45-08:30
//   2=08:35-09:20 ...
//   Pausenpuffer=5            minutes added to a lesson's end
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace web {

struct Lesson {
    int number = 0;
    int begin = 0;  // minutes after midnight, local time
    int end = 0;
};

struct Lessons {
    std::vector<Lesson> lessons;  // by begin
    int bufferMinutes = 0;
};

struct WebConfig {
    std::string file;
    std::string listen = "0.0.0.0";
    int port = 8443;
    std::string certificate;
    std::string key;
    std::string stateDir = "/var/lib/tarvel";
    std::string clientConfiguration;
    std::string settingsFile;
    std::string loginFile;
    int sessionMinutes = 45;
    int maxSessions = 200;
    int auditDays = 90;
    std::vector<std::string> trustedProxies;
    Lessons lessons;
};

// Reads file. False with error set (German, naming the line) when it cannot be read or holds an
// unknown key or a value out of range; relative paths are taken beside the file.
bool readWebConfig(const std::string& file, WebConfig& config, std::string& error);

// "Bis Stundenende" at now: the end of the lesson running now, or of the next one in a break,
// plus the buffer. False when no lesson is left today.
bool lessonEnd(const Lessons& lessons, std::time_t now, std::time_t& until);

}  // namespace web
