#include "ldif_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>  // ldif.h uses FILE without including it
#include <cstring>
#include <lber.h>
#include <ldif.h>
#include <string_view>
#include <strings.h>

namespace tarveltree {

namespace {

std::string at(int line, const std::string& what) { return "Zeile " + std::to_string(line) + ": " + what; }

bool startsWithNoCase(std::string_view s, const char* prefix) {
    size_t n = std::strlen(prefix);
    return s.size() >= n && strncasecmp(s.data(), prefix, n) == 0;
}

// The first line of every block libldap's record reader will hand out, found the way it finds
// them (blank lines end a record, comments before it belong to it, a block of comments alone is
// no record). Refuses what the reader would act on by itself: "include:" opens a file, a record
// led by a number loses that line, and a NUL byte cuts a line short.
bool recordStarts(const std::string& text, std::vector<int>& starts, std::string& error) {
    int line = 0, blockStart = 0;
    bool inBlock = false, found = false, topComment = false;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view l(text.data() + pos, end - pos);
        pos = end + 1;
        ++line;
        if (l.find('\0') != std::string_view::npos) {
            error = at(line, "NUL-Byte in der Datei");
            return false;
        }
        if (l.empty() || l == "\r") {
            if (found) starts.push_back(blockStart);
            inBlock = found = topComment = false;
            continue;
        }
        if (!inBlock) {
            inBlock = true;
            blockStart = line;
        }
        if (startsWithNoCase(l, "include:")) {
            error = at(line, "include: wird nicht gelesen");
            return false;
        }
        if (found) continue;
        if (l[0] == '#') {
            topComment = true;
        } else if (!(topComment && l[0] == ' ')) {
            found = true;
            if (std::isdigit(static_cast<unsigned char>(l[0]))) {
                error = at(line, "keine LDIF-Zeile");
                return false;
            }
        }
    }
    if (found) starts.push_back(blockStart);
    return true;
}

void quiet(const char*) {}

struct LdifFile {
    LDIFFP* fp = nullptr;
    char* buf = nullptr;
    int buflen = 0;
    ~LdifFile() {
        ber_memfree(buf);
        if (fp) ldif_close(fp);
    }
};

}  // namespace

bool readLdif(const std::string& text, std::vector<LdifRecord>& records, std::string& error) {
    records.clear();
    std::vector<int> starts;
    if (!recordStarts(text, starts, error)) return false;
    if (starts.empty()) return true;
    // libldap would print its own complaint about bad base64; the line number here says more.
    ber_set_option(nullptr, LBER_OPT_LOG_PRINT_FN, reinterpret_cast<void*>(&quiet));
    std::string copy = text;
    LdifFile f;
    f.fp = ldif_open_mem(copy.data(), copy.size(), "r");
    if (!f.fp) {
        error = "die Datei ist nicht lesbar";
        return false;
    }
    unsigned long lineNumber = 0;
    bool first = true;
    for (size_t index = 0;; ++index) {
        int rc = ldif_read_record(f.fp, &lineNumber, &f.buf, &f.buflen);
        if (rc == 0) break;
        if (rc < 0 || index >= starts.size()) {
            error = at(int(lineNumber), "kein LDIF-Eintrag");
            return false;
        }
        const std::string original = f.buf;
        LdifRecord record;
        bool changetype = false;
        char* next = f.buf;
        // Line numbers counted on from the previous line, so a group of many members stays linear.
        int line = starts[index];
        size_t counted = 0;
        for (char* l; (l = ldif_getline(&next)) != nullptr;) {
            const size_t offset = std::min(size_t(l - f.buf), original.size());
            for (; counted < offset; ++counted) line += original[counted] == '\n';
            const char* colon = std::strchr(l, ':');
            if (!colon || colon == l) {
                error = at(line, "keine Attributzeile");
                return false;
            }
            if (colon[1] == '<') {
                error = at(line, "Werte aus Dateien oder URLs werden nicht gelesen");
                return false;
            }
            berval type{0, nullptr}, value{0, nullptr};
            int freeValue = 0;
            if (ldif_parse_line2(l, &type, &value, &freeValue) != 0) {
                error = at(line, "keine Attributzeile (ungültiges Base64?)");
                return false;
            }
            std::string t(type.bv_val, type.bv_len);
            std::string v = value.bv_val ? std::string(value.bv_val, value.bv_len) : std::string();
            if (freeValue) ber_memfree(value.bv_val);
            if (t.empty()) {
                error = at(line, "keine Attributzeile (kein Attributname)");
                return false;
            }

            if (record.line == 0) {
                if (first && strcasecmp(t.c_str(), "version") == 0) {
                    if (v != "1") {
                        error = at(line, "nur LDIF-Version 1 wird gelesen");
                        return false;
                    }
                    first = false;
                    continue;
                }
                if (strcasecmp(t.c_str(), "dn") != 0) {
                    error = at(line, "ein Eintrag muss mit dn: beginnen");
                    return false;
                }
                record.dn = v;
                record.line = line;
                continue;
            }
            if (strcasecmp(t.c_str(), "changetype") == 0 && !changetype && record.values.empty()) {
                if (strcasecmp(v.c_str(), "add") != 0) {
                    error = at(line, "nur Einträge zum Hinzufügen (add) lassen sich importieren");
                    return false;
                }
                changetype = true;
                continue;
            }
            if (strcasecmp(t.c_str(), "control") == 0 && !changetype && record.values.empty()) continue;
            record.values.push_back({t, v, line});
        }
        first = false;
        if (record.line != 0) records.push_back(std::move(record));
    }
    return true;
}

}  // namespace tarveltree
