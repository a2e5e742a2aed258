#include "nwclient/ldap/ldap_escape.h"

#include "nwclient/names.h"
#include "platform/text.h"

#include <cstdint>
#include <utility>

namespace nw::ldap {
namespace {

using ::text::hexDigitValue;
using ::text::toLowerAscii;

const char HEX[] = "0123456789abcdef";

void appendHex(std::string& out, unsigned char c) {
    out += '\\';
    out += HEX[c >> 4];
    out += HEX[c & 15];
}

std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Reads one BER-encoded octet or UTF-8 string written as "#hex" (RFC 4514 2.4): the primitive
// contents are taken as the value; anything else is refused.
bool decodeHexValue(std::string_view hex, std::string& value) {
    if (hex.size() % 2 != 0) return false;
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = hexDigitValue(hex[i]), lo = hexDigitValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes += static_cast<char>(hi * 16 + lo);
    }
    if (bytes.size() < 2) return false;
    size_t length = static_cast<unsigned char>(bytes[1]);
    size_t header = 2;
    if (length & 0x80) {
        size_t count = length & 0x7F;
        if (count == 0 || count > 4 || bytes.size() < 2 + count) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = length * 256 + static_cast<unsigned char>(bytes[2 + i]);
        header += count;
    }
    if (bytes.size() != header + length) return false;
    value = bytes.substr(header);
    return true;
}

}  // namespace

std::vector<std::string> splitTypelessName(std::string_view name) { return names::splitEscaped(name); }

std::string escapeTypelessComponent(std::string_view component) { return names::escape(component); }

std::string joinTypelessName(const std::vector<std::string>& componentsLeafFirst) {
    return names::joinLeafFirst(componentsLeafFirst);
}

std::string escapeDnValue(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 8);
    for (size_t i = 0; i < value.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        bool first = i == 0, last = i + 1 == value.size();
        if (c < 0x20 || c == 0x7F) {
            appendHex(out, c);
        } else if (c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' || c == ';' ||
                   c == '=' || (first && (c == ' ' || c == '#')) || (last && c == ' ')) {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool unescapeDnValue(std::string_view escaped, std::string& value) {
    value.clear();
    if (!escaped.empty() && escaped.front() == '#') return decodeHexValue(escaped.substr(1), value);
    for (size_t i = 0; i < escaped.size(); ++i) {
        char c = escaped[i];
        if (c != '\\') {
            value += c;
            continue;
        }
        if (i + 1 >= escaped.size()) return false;
        int hi = hexDigitValue(escaped[i + 1]);
        int lo = i + 2 < escaped.size() ? hexDigitValue(escaped[i + 2]) : -1;
        if (hi >= 0 && lo >= 0) {
            value += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (hi >= 0) {
            return false;  // a lone hex digit after a backslash is not an escape
        } else {
            value += escaped[i + 1];
            ++i;
        }
    }
    return true;
}

bool parseDn(std::string_view dn, std::vector<Rdn>& rdns) {
    rdns.clear();
    if (trimSpaces(dn).empty()) return true;
    // Walk the text once, cutting at unescaped "," (";" in old texts) and "+".
    size_t start = 0;
    bool firstOfRdn = true;
    auto takeAva = [&](std::string_view ava) -> bool {
        size_t eq = ava.find('=');
        if (eq == std::string_view::npos) return false;
        std::string_view type = trimSpaces(ava.substr(0, eq));
        std::string_view raw = ava.substr(eq + 1);
        while (!raw.empty() && raw.front() == ' ') raw.remove_prefix(1);
        // Trailing spaces end the value unless the last one is escaped.
        while (raw.size() >= 1 && raw.back() == ' ' && !(raw.size() >= 2 && raw[raw.size() - 2] == '\\'))
            raw.remove_suffix(1);
        if (type.empty()) return false;
        std::string value;
        if (!unescapeDnValue(raw, value)) return false;
        if (firstOfRdn) rdns.push_back({std::string(type), std::move(value)});
        return true;
    };
    for (size_t i = 0; i <= dn.size(); ++i) {
        if (i < dn.size() && dn[i] == '\\') {
            ++i;  // the escaped character (or first hex digit) never separates
            continue;
        }
        if (i == dn.size() || dn[i] == ',' || dn[i] == ';' || dn[i] == '+') {
            if (!takeAva(dn.substr(start, i - start))) return false;
            firstOfRdn = i < dn.size() && dn[i] == '+' ? false : true;
            start = i + 1;
        }
    }
    return true;
}

std::string formatDn(const std::vector<Rdn>& rdnsLeafFirst) {
    std::string out;
    for (size_t i = 0; i < rdnsLeafFirst.size(); ++i) {
        if (i) out += ',';
        out += rdnsLeafFirst[i].type;
        out += '=';
        out += escapeDnValue(rdnsLeafFirst[i].value);
    }
    return out;
}

std::string childDn(std::string_view type, std::string_view value, std::string_view parentDn) {
    std::string out(type);
    out += '=';
    out += escapeDnValue(value);
    if (!parentDn.empty()) {
        out += ',';
        out += parentDn;
    }
    return out;
}

namespace {

// The DN is its own key once lower-cased: no escape, no separator but ",", no space, no character
// that re-escaping would mark, and one "=" per RDN. Server-written DNs nearly always are; a group
// of thousands is keyed without parsing each member. A malformed DN without such characters
// (an RDN without "=" or type) is lower-cased whole by the full path too.
bool keyedAsWritten(std::string_view dn) {
    bool equalsSeen = false;
    for (char ch : dn) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == '\\' || c == ';' || c == '+' || c == ' ' || c == '"' || c == '#' ||
            c == '<' || c == '>')
            return false;
        if (c == ',') equalsSeen = false;
        else if (c == '=' && std::exchange(equalsSeen, true)) return false;
    }
    return true;
}

}  // namespace

std::string dnKey(std::string_view dn) {
    if (keyedAsWritten(dn)) return toLowerAscii(dn);
    std::vector<Rdn> rdns;
    if (!parseDn(dn, rdns)) return toLowerAscii(dn);
    return dnKey(rdns);
}

std::string dnKey(const std::vector<Rdn>& rdns, size_t from) {
    std::string out;
    for (size_t i = from; i < rdns.size(); ++i) {
        if (i > from) out += ',';
        out += toLowerAscii(rdns[i].type);
        out += '=';
        out += escapeDnValue(toLowerAscii(rdns[i].value));
    }
    return out;
}

std::string escapeFilterValue(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 8);
    for (char c : value) {
        if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0')
            appendHex(out, static_cast<unsigned char>(c));
        else
            out += c;
    }
    return out;
}

std::string equalityFilter(std::string_view type, std::string_view value) {
    std::string out = "(";
    out += type;
    out += '=';
    out += escapeFilterValue(value);
    out += ')';
    return out;
}

}  // namespace nw::ldap
