// Reading nwclient.conf's text (kept apart from the client's state so it can be fuzzed alone).
#include "nwclient/client_state.h"
#include "nwclient/names.h"
#include "platform/text.h"

#include <algorithm>
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

std::string& problem() {
    static std::string p;
    return p;
}

}  // namespace

const std::string& configurationProblem() { return problem(); }

NWCCODE parseConfiguration(const std::string& text, const std::string& file, ClientConfig& config) {
    config = ClientConfig{};
    problem().clear();
    config.file = file;
    if (text.find('\0') != std::string::npos) return TARVEL_CONFIGURATION_INVALID;
    // A line ends at LF, CR LF or a lone CR (an old Mac editor): a CR never ends up in a value.
    std::string lines = text;
    std::replace(lines.begin(), lines.end(), '\r', '\n');
    std::istringstream in(lines);
    std::string line;
    size_t lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        line = trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) return TARVEL_CONFIGURATION_INVALID;
        std::string key = toLowerAscii(trim(line.substr(0, eq)));
        if (key.empty()) return TARVEL_CONFIGURATION_INVALID;
        config.values[key] = trim(line.substr(eq + 1));
        for (const char* yesNo : YES_NO_KEYS) {
            const std::string v = toLowerAscii(config.values[key]);
            if (key == yesNo && !v.empty() && v != "yes" && v != "no") {
                problem() = file + ", Zeile " + std::to_string(lineNumber) + ": " + line + " (erlaubt sind yes und no)";
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
    if (config.tree.empty()) return TARVEL_CONFIGURATION_INVALID;
    std::vector<std::string> ignored;
    if (!config.defaultContext.empty() && names::parseContext(config.defaultContext, ignored) != SUCCESSFUL)
        return TARVEL_CONFIGURATION_INVALID;
    return SUCCESSFUL;
}

}  // namespace nw
