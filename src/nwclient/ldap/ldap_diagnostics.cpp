#include "nwclient/ldap/ldap_diagnostics.h"

#include <ldap.h>
#include <syslog.h>
#include <unistd.h>

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

void write(const std::string& line) {
    std::function<void(const std::string&)> own;
    {
        std::lock_guard<std::mutex> guard(lock());
        own = sink();
    }
    if (own) {
        own(line);
        return;
    }
    if (isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "tarvel: %s\n", line.c_str());
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

}  // namespace

void logLdapFailure(LDAP* ld, int rc, const std::string& dn) {
    // Answers a change takes as ordinary (a value that is not there, or is there already, or an
    // attribute that already has values) are not failures to report.
    if (rc == LDAP_SUCCESS || rc == LDAP_NO_SUCH_ATTRIBUTE || rc == LDAP_TYPE_OR_VALUE_EXISTS ||
        rc == LDAP_ASSERTION_FAILED)
        return;
    write(failureLine(ld, rc, dn));
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

void setDiagnosticsSink(std::function<void(const std::string& line)> sink_) {
    std::lock_guard<std::mutex> guard(lock());
    sink() = std::move(sink_);
}

}  // namespace nw::ldap
