#include "nwclient/names.h"

#include "nwclient/nwclient.h"
#include "platform/text.h"

#include <algorithm>

namespace nw::names {

namespace {

bool equalsRoot(std::string_view s) { return text::equalsAsciiNoCase(s, "[root]"); }

}  // namespace

size_t utf8Chars(std::string_view s) {
    return size_t(std::count_if(s.begin(), s.end(), [](char c) { return (uint8_t(c) & 0xC0) != 0x80; }));
}

NWDSCCODE checkDnLimits(std::string_view name) {
    if (name.size() > MAX_DN_BYTES - 1 || utf8Chars(name) > MAX_DN_CHARS) return ERR_DN_TOO_LONG;
    return SUCCESSFUL;
}

bool isRootName(std::string_view name) {
    if (!name.empty() && name.front() == '.') name.remove_prefix(1);
    return equalsRoot(name);
}

NWDSCCODE parse(std::string_view name, Parsed& out) {
    out = Parsed{};
    if (NWDSCCODE rc = checkDnLimits(name)) return rc;
    if (isRootName(name)) {
        out.absolute = true;
        return SUCCESSFUL;
    }
    if (name.empty()) return SUCCESSFUL;
    if (name.front() == '.') {
        out.absolute = true;
        name.remove_prefix(1);
        if (name.empty()) return ERR_INVALID_DS_NAME;
    }
    std::vector<std::string> parts = splitEscaped(name);
    // Trailing dots: each one climbs a level of the name context.
    size_t up = 0;
    while (parts.size() > 1 && parts.back().empty()) {
        parts.pop_back();
        ++up;
    }
    if (equalsRoot(parts.back()) && parts.size() > 1 && up == 0) {
        out.absolute = true;
        parts.pop_back();
    }
    if (up && out.absolute) return ERR_INVALID_DS_NAME;
    for (const std::string& p : parts) {
        if (p.empty() || equalsRoot(p)) return ERR_INVALID_DS_NAME;
        if (utf8Chars(p) > MAX_RDN_CHARS) return ERR_RDN_TOO_LONG;
    }
    out.leafFirst = std::move(parts);
    out.up = up;
    return SUCCESSFUL;
}

NWDSCCODE parseContext(std::string_view context, std::vector<std::string>& rootFirst) {
    Parsed p;
    if (NWDSCCODE rc = parse(context, p)) return rc;
    if (p.up) return ERR_INVALID_DS_NAME;
    rootFirst.assign(p.leafFirst.rbegin(), p.leafFirst.rend());
    return SUCCESSFUL;
}

NWDSCCODE resolveAgainst(const std::vector<std::string>& contextRootFirst, std::string_view name,
                         std::vector<std::string>& rootFirst) {
    Parsed p;
    if (NWDSCCODE rc = parse(name, p)) return rc;
    if (p.absolute) {
        rootFirst.assign(p.leafFirst.rbegin(), p.leafFirst.rend());
    } else {
        if (p.up > contextRootFirst.size()) return ERR_INVALID_DS_NAME;
        rootFirst.assign(contextRootFirst.begin(), contextRootFirst.end() - long(p.up));
        rootFirst.insert(rootFirst.end(), p.leafFirst.rbegin(), p.leafFirst.rend());
    }
    // The name may be short and the context long: the whole must still fit a name buffer.
    return checkDnLimits(joinRootFirst(rootFirst));
}

std::string escape(std::string_view component) {
    std::string out;
    out.reserve(component.size());
    for (char c : component) {
        if (c == '.' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::vector<std::string> splitEscaped(std::string_view name) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '\\' && i + 1 < name.size() && (name[i + 1] == '.' || name[i + 1] == '\\')) {
            parts.back() += name[++i];
        } else if (c == '.') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

namespace {

template <typename It>
std::string joinEscaped(It first, It last) {
    std::string out;
    for (It it = first; it != last; ++it) {
        if (it != first) out += '.';
        out += escape(*it);
    }
    return out;
}

}  // namespace

std::string joinLeafFirst(const std::vector<std::string>& leafFirst) {
    return joinEscaped(leafFirst.begin(), leafFirst.end());
}

std::string joinRootFirst(const std::vector<std::string>& rootFirst) {
    return joinEscaped(rootFirst.rbegin(), rootFirst.rend());
}

std::string_view stripRootSpelling(std::string_view name) {
    if (!name.empty() && name.front() == '.') name.remove_prefix(1);
    static constexpr size_t suffix = 7;  // ".[root]"
    if (name.size() >= suffix && name[name.size() - suffix] == '.' && equalsRoot(name.substr(name.size() - suffix + 1)))
        name.remove_suffix(suffix);
    return name;
}

}  // namespace nw::names
