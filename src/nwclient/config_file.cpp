// Reading nwclient.conf's text (kept apart from the client's state so it can be fuzzed alone).
#include "nwclient/client_state.h"
#include "nwclient/names.h"
#include "platform/text.h"

#include <map>
#include <sstream>

namespace nw {

namespace {

using ::text::toLowerAscii;

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Switches that must say what they mean: a mistyped value ("ja", "maybe") silently meaning
// "no" would turn encryption or certificate checking off unnoticed.
constexpr const char* YES_NO_KEYS[] = {"starttls", "tlsverify"};

// Every key some part of the program reads, lower-cased: the client, both backends and the deny
// job's companions (audit trail, timed stops, the proxy's list). A key missing here is reported
// as unknown, so a new key is added here.
constexpr const char* KNOWN_KEYS[] = {
    "tree", "operator", "defaultcontext", "locktimeout",                              // every tree
    "base", "binddn", "passwordfile", "password", "starttls", "tlsverify", "cafile",  // LDAP
    "timeout", "pagesize", "membershipclass", "servername", "permissivemodify",
    "directory", "rangesize", "classgroups",                                          // Active Directory
    "auditlog", "schedule", "listfile", "reloadcommand",                              // the deny job
    "service", "servicelogin", "servicecafile",                                       // the school's service
};
// The LDAP backend's name tables: Class.<ldap class>= and Attribute.<attribute>=.
constexpr const char* KNOWN_PREFIXES[] = {"class.", "attribute."};

bool knownKey(const std::string& key) {
    for (const char* k : KNOWN_KEYS)
        if (key == k) return true;
    for (const char* prefix : KNOWN_PREFIXES)
        if (key.rfind(prefix, 0) == 0 && key.size() > std::string(prefix).size()) return true;
    return false;
}

// A blank or tab followed by "#" starts a comment at the end of a line, so a value may hold a
// "#" of its own (a password file "pw#1") but not after a blank.
std::string withoutComment(const std::string& line) {
    for (size_t i = 1; i < line.size(); ++i)
        if (line[i] == '#' && (line[i - 1] == ' ' || line[i - 1] == '\t')) return trim(line.substr(0, i));
    return line;
}

std::string& problem() {
    static std::string p;
    return p;
}

std::vector<std::string>& warnings() {
    static std::vector<std::string> w;
    return w;
}

}  // namespace

const std::string& configurationProblem() { return problem(); }
const std::vector<std::string>& configurationWarnings() { return warnings(); }

NWCCODE parseConfiguration(const std::string& text, const std::string& file, ClientConfig& config) {
    config = ClientConfig{};
    problem().clear();
    warnings().clear();
    config.file = file;
    if (text.find('\0') != std::string::npos) {
        problem() = file + ": enthält ein NUL-Byte (keine Textdatei)";
        return TARVEL_CONFIGURATION_INVALID;
    }
    // A line ends at LF, CR LF or a lone CR (an old Mac editor): a CR never ends up in a value.
    // CR LF is one line end, or every line number after it would be wrong.
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r') lines += text[i];
        else if (i + 1 >= text.size() || text[i + 1] != '\n') lines += '\n';
    std::istringstream in(lines);
    std::string line;
    size_t lineNumber = 0;
    std::map<std::string, size_t> lineOf;
    auto at = [&](size_t n, const std::string& shown, const char* why) {
        return file + ", Zeile " + std::to_string(n) + ": " + shown + " (" + why + ")";
    };
    while (std::getline(in, line)) {
        ++lineNumber;
        line = trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        line = withoutComment(line);
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            problem() = at(lineNumber, line, "keine Zeile der Form Schlüssel=Wert");
            return TARVEL_CONFIGURATION_INVALID;
        }
        std::string key = toLowerAscii(trim(line.substr(0, eq)));
        if (key.empty()) {
            problem() = at(lineNumber, line, "vor dem = fehlt der Schlüssel");
            return TARVEL_CONFIGURATION_INVALID;
        }
        if (!knownKey(key)) warnings().push_back(at(lineNumber, line, "unbekannter Schlüssel, nicht beachtet"));
        config.values[key] = trim(line.substr(eq + 1));
        lineOf[key] = lineNumber;
        for (const char* yesNo : YES_NO_KEYS) {
            const std::string v = toLowerAscii(config.values[key]);
            if (key == yesNo && !v.empty() && v != "yes" && v != "no") {
                problem() = at(lineNumber, line, "erlaubt sind yes und no");
                return TARVEL_CONFIGURATION_INVALID;
            }
        }
    }
    auto value = [&](const char* key) {
        auto it = config.values.find(key);
        return it == config.values.end() ? std::string() : it->second;
    };
    config.tree = value("tree");
    config.operatorName = value("operator");
    config.defaultContext = value("defaultcontext");
    if (config.tree.empty()) {
        problem() = file + ": Tree= fehlt oder ist leer (welches Verzeichnis?)";
        return TARVEL_CONFIGURATION_INVALID;
    }
    std::vector<std::string> ignored;
    if (!config.defaultContext.empty() && names::parseContext(config.defaultContext, ignored) != SUCCESSFUL) {
        problem() = at(lineOf["defaultcontext"], "DefaultContext=" + config.defaultContext, "kein gültiger Name");
        return TARVEL_CONFIGURATION_INVALID;
    }
    return SUCCESSFUL;
}

}  // namespace nw
