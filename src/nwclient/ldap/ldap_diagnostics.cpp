#include "nwclient/ldap/ldap_diagnostics.h"

#include "platform/stderr_line.h"

#include <ldap.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>

#include <cstdio>
#include <mutex>
#include <set>

namespace nw::ldap {

namespace {

std::mutex& lock() {
    static std::mutex m;
    return m;
}

std::function<void(const std::string&)>& sink() {
    static std::function<void(const std::string&)> s;
    return s;
}

// Standard error when it is a terminal (someone reads it now) or when there is no syslog to
// take the line (a container, a chroot): nothing is lost silently.
bool defaultIsStderr() {
    struct stat st {};
    return isatty(STDERR_FILENO) || stat(_PATH_LOG, &st) != 0 || !S_ISSOCK(st.st_mode);
}

std::function<void(const std::string&)> currentSink() {
    std::lock_guard<std::mutex> guard(lock());
    return sink();
}

void toStderr(const std::string& line) {
    platform::endStderrLine();  // never behind a counter on the same line
    std::fprintf(stderr, "tarvel: %s\n", line.c_str());
    std::fflush(stderr);
}

void write(const std::string& line) {
    if (auto own = currentSink()) {
        own(line);
        return;
    }
    if (defaultIsStderr()) {
        toStderr(line);
        return;
    }
    openlog("tarvel", LOG_PID, LOG_USER);
    syslog(LOG_WARNING, "%s", line.c_str());
}

// The handle's text option, freed here; empty when the server sent none.
std::string textOption(LDAP* ld, int option) {
    char* value = nullptr;
    if (!ld || ldap_get_option(ld, option, &value) != LDAP_OPT_SUCCESS || !value) return {};
    std::string out = value;
    ldap_memfree(value);
    return out;
}

std::string failureLine(LDAP* ld, int rc, const std::string& dn) {
    std::string line = "LDAP " + std::to_string(rc) + " (" + ldap_err2string(rc) + ") for \"" + dn + "\"";
    const std::string diagnostic = textOption(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE);
    const std::string matched = textOption(ld, LDAP_OPT_MATCHED_DN);
    if (!diagnostic.empty()) line += ": " + diagnostic;
    if (!matched.empty()) line += " (matched DN \"" + matched + "\")";
    return line;
}

// Answers a change takes as ordinary (a value that is not there, or is there already, or an
// attribute that already has values) are not failures to report.
bool ordinaryAnswer(int rc) {
    return rc == LDAP_SUCCESS || rc == LDAP_NO_SUCH_ATTRIBUTE || rc == LDAP_TYPE_OR_VALUE_EXISTS ||
           rc == LDAP_ASSERTION_FAILED;
}

// The attributes of mods the server refuses for want of rights, each asked alone with the No-Op
// control (critical); empty when some answer tells nothing (a server without the control).
std::string refusedAttributes(LDAP* ld, const std::string& dn, LDAPMod* const* mods) {
    LDAPControl noop{const_cast<char*>(LDAP_CONTROL_NOOP), {0, nullptr}, 1};
    LDAPControl* controls[] = {&noop, nullptr};
    std::string refused;
    for (; *mods; ++mods) {
        LDAPMod* one[] = {*mods, nullptr};
        const int rc = ldap_modify_ext_s(ld, dn.c_str(), one, controls, nullptr);
        if (rc == LDAP_INSUFFICIENT_ACCESS) refused += (refused.empty() ? "" : ", ") + std::string((*mods)->mod_type);
        else if (rc != LDAP_X_NO_OPERATION && !ordinaryAnswer(rc)) return {};
    }
    return refused;
}

}  // namespace

void logLdapFailure(LDAP* ld, int rc, const std::string& dn) { logLdapFailure(ld, rc, dn, nullptr); }

void logLdapFailure(LDAP* ld, int rc, const std::string& dn, LDAPMod* const* mods) {
    if (ordinaryAnswer(rc)) return;
    std::string line = failureLine(ld, rc, dn);  // before the handle answers anything else
    if (rc == LDAP_INSUFFICIENT_ACCESS && mods && mods[0]) {
        const std::string refused = ld ? refusedAttributes(ld, dn, mods) : std::string();
        if (!refused.empty()) {
            line += "; refused: " + refused;
        } else {
            line += "; the change carried ";
            for (LDAPMod* const* m = mods; *m; ++m) line += std::string(m == mods ? "" : ", ") + (*m)->mod_type;
        }
    }
    write(line);
}

void logIncompleteListing(LDAP* ld, int rc, const std::string& dn) {
    write(failureLine(ld, rc, dn) + "; the listing stays incomplete: the server's limit ends even its smallest parts");
}

void logLdapReadFailure(LDAP* ld, int rc, const std::string& dn) {
    // Reads look for objects that may be gone; that answer is the caller's to judge.
    if (rc != LDAP_NO_SUCH_OBJECT) logLdapFailure(ld, rc, dn);
}

void logSkippedValue(const std::string& dn, const std::string& attribute, const std::string& shown) {
    static std::set<std::string> logged;
    {
        std::lock_guard<std::mutex> guard(lock());
        if (!logged.insert(dn + '\n' + attribute + '\n' + shown).second) return;
    }
    write("a value of " + attribute + " of \"" + dn + "\" is left out: its name holds NUL, CR or LF: \"" + shown +
          "\"; check and repair name and remove it");
}

void warnIfClearText(const std::string& uri, bool startTls) {
    if (startTls) return;
    std::string scheme = uri.substr(0, uri.find(':'));
    for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (scheme != "ldap") return;
    static std::set<std::string> warned;
    {
        std::lock_guard<std::mutex> guard(lock());
        if (!warned.insert(uri).second) return;
    }
    write("warning: " + uri + " runs without StartTLS; the password and every value cross the network in clear");
}

namespace {
std::atomic<bool> uncheckedCertificates{false};
}

void warnCertificateUnchecked(const std::string& uri) {
    if (uncheckedCertificates.exchange(true)) return;
    reportOnce("warning: " + uri + " takes any server certificate (TLSVerify=no); whoever answers in the server's place gets the password");
}

void reportOnce(const std::string& line) {
    static std::set<std::string> reported;
    {
        std::lock_guard<std::mutex> guard(lock());
        if (!reported.insert(line).second) return;
    }
    // Standard error always, and the log unless the log is standard error itself.
    if (currentSink() || !defaultIsStderr()) toStderr(line);
    write(line);
}

bool certificateUnchecked() { return uncheckedCertificates.load(); }

void setDiagnosticsSink(std::function<void(const std::string& line)> sink_) {
    std::lock_guard<std::mutex> guard(lock());
    sink() = std::move(sink_);
}

}  // namespace nw::ldap
