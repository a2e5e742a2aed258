#include "deny/audit.h"

#include "deny/client_conf.h"
#include "deny/state_file.h"
#include "nwapi/names.h"
#include "platform/ports.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace deny {

namespace {

size_t failures = 0;
// The problem whose box a failed "begun" line just showed: its result line, failing the same
// way, stays quiet.
std::string shownForBegun;

// Only the owner: the lines name pupils, and a user's primary group may be everyone's.
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

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

std::string& defaultPath() {
    static std::string path;
    return path;
}

std::string pathOf(const ClientConf& conf) {
    if (!conf.auditLog.empty()) return conf.auditLog;
    if (!defaultPath().empty()) return defaultPath();
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state) return std::string(state) + "/tarvel/audit.log";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/state/tarvel/audit.log";
}

// What a file that is no regular file is, in the box's words; empty for a regular file.
std::string kindOf(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISLNK(mode)) return "ein symbolischer Verweis";
    if (S_ISFIFO(mode)) return "eine Pipe (FIFO)";
    if (S_ISSOCK(mode)) return "ein Socket";
    if (S_ISDIR(mode)) return "ein Ordner";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "ein Gerät";
    return "keine Datei";
}

std::string notRegular(const std::string& kind) { return "Es ist keine gewöhnliche Datei, sondern " + kind + "."; }

// Creates the missing folders on the way to folder with kFolderMode (set again after mkdir, as
// the umask may have taken bits); "" or the reason it failed.
std::string makeFolders(const std::filesystem::path& folder) {
    std::filesystem::path sofar;
    for (const std::filesystem::path& part : folder) {
        sofar /= part;
        if (::mkdir(sofar.c_str(), kFolderMode) == 0) {
            const int fd = ::open(sofar.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0 || ::fchmod(fd, kFolderMode) != 0) {
                const int error = errno;
                if (fd >= 0) ::close(fd);
                return std::strerror(error);
            }
            ::close(fd);
        } else if (const int error = errno; error != EEXIST) {
            struct stat st{};
            if (::stat(sofar.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::strerror(error);
        }
    }
    return {};
}

// Opens the trail for appending, creating it with kFileMode; -1 and the reason when it cannot be
// opened or is no regular file. O_NOFOLLOW: a symlink planted as the trail writes nowhere else;
// O_NONBLOCK: a FIFO without a reader never holds the change up.
int openTrail(const std::string& path, std::string& reason) {
    const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, kFileMode);
    if (fd >= 0 && ::fchmod(fd, kFileMode) != 0) {
        reason = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        const int error = errno;
        struct stat st{};
        const std::string kind = ::lstat(path.c_str(), &st) == 0 ? kindOf(st.st_mode) : std::string();
        reason = kind.empty() ? std::strerror(error) : notRegular(kind);
        return -1;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = notRegular(kindOf(st.st_mode));
        ::close(fd);
        return -1;
    }
    return fd;
}

bool appendLine(const AuditRecord& record, bool begun) {
    const ClientConf conf = readClientConf();
    const std::string who = (conf.operatorName.empty() ? std::string("-") : conf.operatorName) + "/" + systemUser();
    const std::string line = formatAuditLine(std::time(nullptr), who, record, conf.bindDn);

    openlog("tarvel", LOG_PID, LOG_USER);
    syslog(LOG_NOTICE, "%s", line.c_str());
    closelog();

    const std::string path = pathOf(conf);
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::string reason = folder.empty() ? std::string() : makeFolders(folder);
    if (reason.empty()) {
        const int fd = openTrail(path, reason);
        if (fd >= 0) {
            // One write: the kernel appends it whole, so lines of two programs never mix.
            const std::string data = line + "\n";
            const ssize_t n = ::write(fd, data.data(), data.size());
            if (n != ssize_t(data.size())) reason = std::strerror(n < 0 ? errno : EIO);
            if (::close(fd) != 0 && reason.empty()) reason = std::strerror(errno);
        }
    }
    const std::string shownBefore = shownForBegun;
    shownForBegun.clear();
    if (reason.empty()) return true;
    ++failures;
    const std::string problem = path + "\n" + reason;
    if (begun) shownForBegun = problem;
    if (problem != shownBefore)
        platform::showMessage(platform::joinLines({"Das Protokoll kann nicht geschrieben werden:", path, reason,
                                                   "Die Änderung im Verzeichnis bleibt davon unberührt."}),
                              "Tarvel Protokoll");
    return false;
}

}  // namespace

std::string auditLogPath() { return pathOf(readClientConf()); }

void setDefaultAuditLogPath(const std::string& path) { defaultPath() = path; }

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

std::string formatAuditLine(std::time_t when, const std::string& operatorName, const AuditRecord& record,
                            const std::string& boundAccount) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string time = stamp;
    if (time.size() >= 5) time.insert(time.size() - 2, ":");  // +0100 -> +01:00
    const std::string bound = boundAccount.empty() ? std::string() : "\tbound=" + clean(boundAccount);
    return time + "\toperator=" + clean(operatorName) + bound + "\taction=" + clean(record.action) +
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

namespace {

// Reads what fd holds from offset on; false on a read error.
bool readRest(int fd, off_t& offset, std::string& out) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        out.append(buffer, size_t(n));
        offset += n;
    }
}

}  // namespace

bool pruneAudit(const std::string& path, int days, std::time_t now, std::string& error) {
    auto fail = [&](const std::string& reason) {
        error = platform::joinLines({"Das Protokoll kann nicht gekürzt werden:", path, reason});
        return false;
    };
    if (days <= 0) return true;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        const int err = errno;
        struct stat st{};
        const std::string kind = ::lstat(path.c_str(), &st) == 0 ? kindOf(st.st_mode) : std::string();
        return fail(kind.empty() ? std::strerror(err) : notRegular(kind));
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    if (!statefile::checkOwnFile(fd, path, "Das Protokoll", error)) return false;
    std::string text;
    off_t offset = 0;
    if (!readRest(fd, offset, text)) return fail(std::strerror(errno));
    const std::time_t oldest = now - std::time_t(days) * 86400;
    std::string kept;
    bool dropped = false;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(start, end - start);
        std::time_t when = 0;
        if (auditLineTime(line, when) && when < oldest) dropped = true;
        else kept += line;
        start = end;
    }
    if (!dropped) return true;
    // Lines written meanwhile go along: those before the rename into the new file, those a
    // writer that had opened the old one adds after it are appended once more below.
    if (!readRest(fd, offset, kept)) return fail(std::strerror(errno));
    statefile::Words words{"Das Protokoll", "", "", "Das Protokoll kann nicht gekürzt werden:", "", ""};
    if (!statefile::replaceFile(path, kept, words, error)) return false;
    std::string late;
    if (readRest(fd, offset, late) && !late.empty()) {
        const int out = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const bool ok = out >= 0 && ::write(out, late.data(), late.size()) == ssize_t(late.size());
        if (out >= 0) ::close(out);
        if (!ok) return fail(std::strerror(errno));
    }
    return true;
}

bool writeAudit(const AuditRecord& record) { return appendLine(record, false); }

bool writeAuditBegun(const std::string& action, const text::NameList& users, size_t toChange) {
    return appendLine({action, users, "begun to-change=" + std::to_string(toChange)}, true);
}

}  // namespace deny
