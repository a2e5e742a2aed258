#include "deny/audit.h"

#include "deny/client_conf.h"
#include "nwapi/names.h"
#include "platform/ports.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

namespace deny {

namespace {

size_t failures = 0;

std::string clean(const std::string& field) {
    std::string out;
    out.reserve(field.size());
    for (unsigned char c : field) {
        if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string systemUser() {
    if (const passwd* pw = getpwuid(getuid())) return pw->pw_name;
    return std::to_string(getuid());
}

// Components of a name, root first.
std::vector<std::string> rootFirst(const std::string& name) {
    std::vector<std::string> parts = nwapi::NameComponents(nwapi::StripRootSpelling(name));
    return {parts.rbegin(), parts.rend()};
}

}  // namespace

std::string auditLogPath() {
    const ClientConf conf = readClientConf();
    if (!conf.auditLog.empty()) return conf.auditLog;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state) return std::string(state) + "/tarvel/audit.log";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/state/tarvel/audit.log";
}

std::string describeUsers(const text::NameList& users) {
    if (users.size() <= 5) {
        std::string out;
        for (const std::string& u : users) out += (out.empty() ? "" : ",") + u;
        return out.empty() ? "-" : out;
    }
    // The common container: the longest chain of components, from the root, that every user's
    // container shares.
    std::vector<std::string> common = rootFirst(users.front());
    if (!common.empty()) common.pop_back();
    for (const std::string& u : users) {
        std::vector<std::string> parts = rootFirst(u);
        if (!parts.empty()) parts.pop_back();
        size_t n = 0;
        while (n < common.size() && n < parts.size() && text::equalsLocaleNoCase(common[n], parts[n])) ++n;
        common.resize(n);
    }
    const std::string container = common.empty() ? "[root]" : nwapi::JoinRootFirst(common);
    return std::to_string(users.size()) + " users below " + container;
}

std::string formatAuditLine(std::time_t when, const std::string& operatorName, const AuditRecord& record) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string time = stamp;
    if (time.size() >= 5) time.insert(time.size() - 2, ":");  // +0100 -> +01:00
    return time + "\toperator=" + clean(operatorName) + "\taction=" + clean(record.action) +
           "\tusers=" + clean(describeUsers(record.users)) + "\tresult=" + clean(record.result);
}

size_t auditFailures() { return failures; }

bool auditLineTime(const std::string& line, std::time_t& when) {
    int y, mo, d, h, mi, s, oh, om;
    char sign;
    if (std::sscanf(line.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &y, &mo, &d, &h, &mi, &s, &sign, &oh, &om) != 9 ||
        (sign != '+' && sign != '-'))
        return false;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    const long offset = (oh * 3600L + om * 60L) * (sign == '-' ? -1 : 1);
    when = timegm(&tm) - offset;
    return true;
}

bool writeAudit(const AuditRecord& record) {
    const ClientConf conf = readClientConf();
    const std::string who = (conf.operatorName.empty() ? std::string("-") : conf.operatorName) + "/" + systemUser();
    const std::string line = formatAuditLine(std::time(nullptr), who, record);

    openlog("tarvel", LOG_PID, LOG_USER);
    syslog(LOG_NOTICE, "%s", line.c_str());
    closelog();

    const std::string path = auditLogPath();
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    const std::string data = line + "\n";
    int error = 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (fd < 0) {
        error = errno;
    } else {
        // One write: the kernel appends it whole, so lines of two programs never mix.
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n != ssize_t(data.size())) error = n < 0 ? errno : EIO;
        if (::close(fd) != 0 && error == 0) error = errno;
    }
    if (error == 0) return true;
    ++failures;
    platform::showMessage(platform::joinLines({"Das Protokoll kann nicht geschrieben werden:", path,
                                               std::strerror(error),
                                               "Die Änderung im Verzeichnis bleibt davon unberührt."}),
                          "Tarvel Protokoll");
    return false;
}

}  // namespace deny
