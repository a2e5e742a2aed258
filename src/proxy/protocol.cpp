#include "proxy/protocol.h"

#include "platform/text.h"

#include <istream>
#include <ostream>
#include <vector>

namespace proxy {

namespace {

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const size_t begin = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > begin) out.push_back(line.substr(begin, i - begin));
    }
    return out;
}

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Squid reads the message as a quoted kv-pair value on one line.
std::string quotedMessage(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c < 0x20 || c == 0x7f ? ' ' : char(c);
    }
    return out + "\"";
}

}  // namespace

std::string urlDecode(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '%' && i + 2 < field.size()) {
            const int hi = text::hexDigitValue(field[i + 1]);
            const int lo = text::hexDigitValue(field[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += char(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

Request parseRequest(std::string_view line) {
    Request r;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::vector<std::string_view> f = fields(line);
    // Squid appends the ACL's arguments (%DATA), "-" when there are none.
    if (f.size() >= 2 && f.back() == "-") f.pop_back();
    size_t at = 0;
    if (f.size() >= 2 && allDigits(f[0])) r.channel = std::string(f[at++]);
    if (f.size() - at != 1) {
        r.problem = f.size() <= at ? "Anfrage ohne Login-Namen"
                                   : "unerwartete Felder in der Anfrage (der Helfer nimmt keine ACL-Argumente)";
        return r;
    }
    r.login = urlDecode(f[at]);
    if (r.login.find('\0') != std::string::npos) r.problem = "Login-Name mit NUL-Zeichen";
    return r;
}

std::string formatAnswer(const Request& request, const Verdict& verdict) {
    std::string out = request.channel.empty() ? std::string() : request.channel + " ";
    switch (verdict.kind) {
        case Verdict::MayBrowse: return out + "OK";
        case Verdict::Stopped: return out + "ERR";
        case Verdict::Broken: break;
    }
    return out + "BH message=" + quotedMessage("tarvel-proxy-helper: " + verdict.message);
}

void serve(std::istream& in, std::ostream& out, const Decide& decide) {
    for (std::string line; std::getline(in, line);) {
        const Request request = parseRequest(line);
        Verdict verdict;
        if (!request.problem.empty()) verdict.message = request.problem;
        else if (request.login == "-") verdict.kind = Verdict::Stopped;
        else verdict = decide(request.login);
        out << formatAnswer(request, verdict) << '\n' << std::flush;
    }
}

}  // namespace proxy
