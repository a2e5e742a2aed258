#include "commands.h"

#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tarveltree {

using nw::AttrValue;

namespace {

std::vector<std::string> fields(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t bar = text.find('|', start);
        out.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) return out;
        start = bar + 1;
    }
}

bool parseNumber(const std::string& text, int64_t& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno || *end) return false;
    out = v;
    return true;
}

bool parseHex(const std::string& text, std::string& out) {
    out.clear();
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':') digits += c;
    if (digits.size() % 2) return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        int hi = text::hexDigitValue(digits[i]), lo = text::hexDigitValue(digits[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += char(hi * 16 + lo);
    }
    return true;
}

}  // namespace

const char* valueFormats() {
    return "  1 Name; 2-5, 10, 20 Text; 6 Eintrag|Eintrag|...; 7 TRUE oder FALSE (oder eine Zahl);\n"
           "  8, 22, 24 (Sekunden seit 1970), 27 (Sekunden) Zahl; 0, 9, 13, 18 Hex-Bytes;\n"
           "  11 Telefon[|Hex-Parameter]; 12 Typ|Hex-Adresse; 14 Typ|Adresse; 15 Namensraum|Volume|Pfad;\n"
           "  16 Server|Typ|Nummer; 17 geschütztes Attribut|Subjekt|Rechte; 19 Sekunden|Replikat;\n"
           "  21 Text oder @Datei; 23 entfernte ID|Name; 25 Name|Stufe|Intervall; 26 Name|Menge\n";
}

bool parseValue(uint32_t syntax, const std::string& text, AttrValue& v, std::string& error) {
    v = AttrValue();
    std::vector<std::string> f = fields(text);
    auto want = [&](size_t min, size_t max) {
        if (f.size() < min || f.size() > max) {
            error = "der Wert \"" + text + "\" braucht " + std::to_string(min) +
                    (min == max ? "" : " bis " + std::to_string(max)) + " durch | getrennte Felder";
            return false;
        }
        return true;
    };
    auto number = [&](const std::string& s, int64_t& out) {
        if (parseNumber(s, out)) return true;
        error = "\"" + s + "\" ist keine Zahl";
        return false;
    };
    auto bytes = [&](const std::string& s, std::string& out) {
        if (parseHex(s, out)) return true;
        error = "\"" + s + "\" sind keine Hex-Bytes";
        return false;
    };
    switch (syntax) {
    case nw::SYN_DIST_NAME: case nw::SYN_CE_STRING: case nw::SYN_CI_STRING: case nw::SYN_PR_STRING:
    case nw::SYN_NU_STRING: case nw::SYN_TEL_NUMBER: case nw::SYN_CLASS_NAME:
        v.text = text;
        return true;
    case nw::SYN_CI_LIST:
        v.list = f;
        return true;
    case nw::SYN_BOOLEAN:
        if (text == "TRUE" || text == "true") v.number = 1;
        else if (text == "FALSE" || text == "false") v.number = 0;
        else return number(text, v.number);
        return true;
    case nw::SYN_INTEGER: case nw::SYN_COUNTER: case nw::SYN_TIME: case nw::SYN_INTERVAL:
        return number(text, v.number);
    case nw::SYN_FAX_NUMBER:
        if (!want(1, 2)) return false;
        v.text = f[0];
        return f.size() < 2 || bytes(f[1], v.bytes);
    case nw::SYN_NET_ADDRESS:
        return want(2, 2) && number(f[0], v.number) && bytes(f[1], v.bytes);
    case nw::SYN_EMAIL_ADDRESS:
        if (!want(2, 2) || !number(f[0], v.number)) return false;
        v.text = f[1];
        return true;
    case nw::SYN_PATH:
        if (!want(3, 3) || !number(f[0], v.number)) return false;
        v.text = f[1];
        v.text2 = f[2];
        return true;
    case nw::SYN_REPLICA_POINTER:
        if (!want(3, 3)) return false;
        v.text = f[0];
        return number(f[1], v.number) && number(f[2], v.number2);
    case nw::SYN_OBJECT_ACL:
        if (!want(3, 3)) return false;
        v.text = f[0];
        v.text2 = f[1];
        return number(f[2], v.number);
    case nw::SYN_TIMESTAMP:
        if (!want(1, 2) || !number(f[0], v.number)) return false;
        return f.size() < 2 || number(f[1], v.number2);
    case nw::SYN_STREAM:
        if (!text.empty() && text[0] == '@') {
            std::ifstream in(text.substr(1), std::ios::binary);
            if (!in) {
                error = text.substr(1) + ": nicht lesbar";
                return false;
            }
            std::ostringstream s;
            s << in.rdbuf();
            v.bytes = s.str();
        } else {
            v.bytes = text;
        }
        return true;
    case nw::SYN_BACK_LINK:
        if (!want(2, 2) || !number(f[0], v.number)) return false;
        v.text = f[1];
        return true;
    case nw::SYN_TYPED_NAME:
        if (!want(3, 3)) return false;
        v.text = f[0];
        return number(f[1], v.number) && number(f[2], v.number2);
    case nw::SYN_HOLD:
        if (!want(2, 2)) return false;
        v.text = f[0];
        return number(f[1], v.number);
    default:
        return bytes(text, v.bytes);
    }
}

std::string formatValue(uint32_t syntax, const AttrValue& v) {
    auto n = [](int64_t x) { return std::to_string(x); };
    switch (syntax) {
    case nw::SYN_DIST_NAME: case nw::SYN_CE_STRING: case nw::SYN_CI_STRING: case nw::SYN_PR_STRING:
    case nw::SYN_NU_STRING: case nw::SYN_TEL_NUMBER: case nw::SYN_CLASS_NAME:
        return v.text;
    case nw::SYN_CI_LIST: {
        std::string out;
        for (size_t i = 0; i < v.list.size(); ++i) out += (i ? "|" : "") + v.list[i];
        return out;
    }
    case nw::SYN_BOOLEAN: return v.number ? "TRUE" : "FALSE";
    case nw::SYN_INTEGER: case nw::SYN_COUNTER: case nw::SYN_TIME: case nw::SYN_INTERVAL: return n(v.number);
    case nw::SYN_FAX_NUMBER: return v.bytes.empty() ? v.text : v.text + "|" + text::toHexUpper(v.bytes);
    case nw::SYN_NET_ADDRESS: return n(v.number) + "|" + text::toHexUpper(v.bytes);
    case nw::SYN_EMAIL_ADDRESS: return n(v.number) + "|" + v.text;
    case nw::SYN_PATH: return n(v.number) + "|" + v.text + "|" + v.text2;
    case nw::SYN_REPLICA_POINTER: return v.text + "|" + n(v.number) + "|" + n(v.number2);
    case nw::SYN_OBJECT_ACL: {
        char priv[16];
        std::snprintf(priv, sizeof priv, "0x%X", unsigned(v.number));
        return v.text + "|" + v.text2 + "|" + priv;
    }
    case nw::SYN_TIMESTAMP: return n(v.number) + "|" + n(v.number2);
    case nw::SYN_STREAM: return v.bytes;
    case nw::SYN_BACK_LINK: return n(v.number) + "|" + v.text;
    case nw::SYN_TYPED_NAME: return v.text + "|" + n(v.number) + "|" + n(v.number2);
    case nw::SYN_HOLD: return v.text + "|" + n(v.number);
    default: return text::toHexUpper(v.bytes);
    }
}

bool parseFileRights(const std::string& letters, uint32_t& rights) {
    rights = 0;
    if (letters == "-" || letters == "none") return true;
    for (char c : letters) {
        switch (c & ~0x20) {
        case 'S': rights |= 0x100; break;
        case 'R': rights |= 0x001; break;
        case 'W': rights |= 0x002; break;
        case 'E': rights |= 0x010; break;
        case 'C': rights |= 0x008; break;
        case 'M': rights |= 0x080; break;
        case 'F': rights |= 0x040; break;
        case 'A': rights |= 0x020; break;
        default: return false;
        }
    }
    return true;
}

}  // namespace tarveltree
