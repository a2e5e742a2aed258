#include "settings/ini_file.h"

#include "platform/text.h"
#include "settings/settings.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace settings {

namespace {

bool startsWithBom(std::string_view bytes) {
    return bytes.size() >= 3 && uint8_t(bytes[0]) == 0xEF && uint8_t(bytes[1]) == 0xBB && uint8_t(bytes[2]) == 0xBF;
}

bool hasNonAscii(std::string_view bytes) {
    for (char c : bytes)
        if (uint8_t(c) >= 0x80) return true;
    return false;
}

bool startsWithUtf16LeBom(std::string_view bytes) {
    return bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE;
}

// UTF-16 little-endian, as Notepad saves "Unicode": a surrogate without its partner becomes
// U+FFFD, an odd last byte is dropped.
std::string utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    auto unit = [&bytes](size_t i) { return uint32_t(uint8_t(bytes[i])) | (uint32_t(uint8_t(bytes[i + 1])) << 8); };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
            const uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                text::appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        text::appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
    }
    return out;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view trimBlanks(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

}  // namespace

std::string decodeSettingsBytes(std::string_view bytes) {
    if (startsWithUtf16LeBom(bytes)) return utf16LeToUtf8(bytes.substr(2));
    if (startsWithBom(bytes)) {
        // A mark followed by bytes that are no UTF-8 came from an editor that put it before
        // Windows-1252 text; read as UTF-8 they would turn into replacement characters that
        // no save could write back.
        std::string_view rest = bytes.substr(3);
        return text::isValidUtf8(rest) ? std::string(rest) : text::cp1252ToUtf8(rest);
    }
    if (hasNonAscii(bytes) && text::isValidUtf8(bytes)) return std::string(bytes);
    return text::cp1252ToUtf8(bytes);
}

FileRead readSettingsFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    // Non-blocking, so that opening a FIFO does not wait for a writer; checked just below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return FileRead::Unreadable;
    struct stat st {};
    // Only a regular file: a folder, a FIFO or a device would block or never end.
    FileRead result = FileRead::Read;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) result = FileRead::Unreadable;
    else if (uint64_t(st.st_size) > MaxSettingsFileBytes) result = FileRead::TooLarge;
    std::string data;
    size_t have = 0;
    if (result == FileRead::Read) {
        // Up to one byte past the limit, so a file that grew since fstat is noticed.
        const size_t limit = MaxSettingsFileBytes + 1;
        data.resize(size_t(st.st_size) + 1);
        while (true) {
            if (have == data.size()) {
                if (have >= limit) break;
                data.resize(std::min(limit, have + 65536));
            }
            const ssize_t n = ::read(fd, data.data() + have, data.size() - have);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) result = FileRead::Unreadable;
            if (n <= 0) break;
            have += size_t(n);
        }
        if (result == FileRead::Read && have > MaxSettingsFileBytes) result = FileRead::TooLarge;
    }
    ::close(fd);
    if (result != FileRead::Read) return result;
    data.resize(have);
    bytes = std::move(data);
    return FileRead::Read;
}

std::string foldIniName(std::string_view name) {
    return hasNonAscii(name) ? text::toLowerLocale(name) : text::toLowerAscii(name);
}

IniFile IniFile::fromBytes(std::string_view bytes) { return fromText(decodeSettingsBytes(bytes)); }

IniFile IniFile::fromText(std::string_view utf8) {
    IniFile ini;
    Keys* current = nullptr;  // keys before the first header, or in a repeated section, are not read
    size_t pos = 0, lineNumber = 0;
    while (pos < utf8.size()) {
        ++lineNumber;
        size_t end = utf8.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = utf8.size();
        std::string_view line = utf8.substr(pos, end - pos);
        pos = end;
        if (pos < utf8.size()) pos += (utf8[pos] == '\r' && pos + 1 < utf8.size() && utf8[pos + 1] == '\n') ? 2 : 1;

        // The loader refuses such a file; no value ever holds a NUL.
        const size_t nul = line.find('\0');
        if (nul != std::string_view::npos) {
            if (!ini.nulLine_) ini.nulLine_ = lineNumber;
            line = line.substr(0, nul);
        }
        line = trimBlanks(line);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const size_t close = line.rfind(']');
            if (close != std::string_view::npos) {
                auto [it, inserted] = ini.sections_.try_emplace(foldIniName(trimBlanks(line.substr(1, close - 1))));
                current = inserted ? &it->second : nullptr;
                continue;
            }
            // Without "]" the line is no header; it can still be a key line.
        }
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos || !current) continue;
        const std::string_view key = trimBlanks(line.substr(0, eq));
        if (key.empty()) continue;
        std::string_view value = trimBlanks(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        current->try_emplace(foldIniName(key), value);
    }
    return ini;
}

bool IniFile::read(std::string_view section, std::string_view key, std::string& value) const {
    const auto s = sections_.find(foldIniName(section));
    if (s == sections_.end()) return false;
    const auto k = s->second.find(foldIniName(key));
    if (k == s->second.end()) return false;
    value = k->second;
    return true;
}

std::string_view trimBlanksAndControls(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && uint8_t(s[b]) <= 0x20) ++b;
    while (e > b && uint8_t(s[e - 1]) <= 0x20) --e;
    return s.substr(b, e - b);
}

std::string ReadSettingText(const IniFile& ini, std::string_view section, std::string_view key,
                            const std::string& defaultText) {
    std::string value;
    if (!ini.read(section, key, value)) value = defaultText;
    const size_t comment = value.find(CommentChar);
    if (comment != std::string::npos) value.erase(comment);
    size_t e = value.size();
    while (e > 0 && uint8_t(value[e - 1]) <= 0x20) --e;
    value.erase(e);
    return value.empty() ? defaultText : value;
}

bool ReadSettingBool(const IniFile& ini, std::string_view section, std::string_view key,
                     const std::string& defaultText) {
    const std::string v = text::toLowerAscii(ReadSettingText(ini, section, key, defaultText));
    return v == "ja" || v == "1" || v == "true" || v == "wahr" || v == "yes";
}

bool parseInteger(std::string_view text, int32_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > int64_t(INT32_MAX) + 1) return false;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    value = int32_t(v);
    return true;
}

int32_t ReadSettingInteger(const IniFile& ini, std::string_view section, std::string_view key,
                           const std::string& defaultText) {
    int32_t value = 0;
    if (parseInteger(ReadSettingText(ini, section, key, defaultText), value)) return value;
    if (parseInteger(defaultText, value)) return value;
    return 0;
}

}  // namespace settings
