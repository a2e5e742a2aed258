#include "platform/text.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <cstdlib>
#include <iconv.h>
#include <locale.h>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace text {

// ---------------------------------------------------------------- ASCII

namespace {
inline char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
inline char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
}  // namespace

bool equalsAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

std::string toLowerAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = lowerAscii(c);
    return r;
}

std::string toUpperAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = upperAscii(c);
    return r;
}

std::string toHexUpper(std::string_view bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string showControls(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) out += "\\" + toHexUpper(std::string_view(&c, 1));
        else out += c;
    }
    return out;
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string trimBlanks(std::string_view s) {
    const size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    return std::string(s.substr(begin, s.find_last_not_of(" \t") - begin + 1));
}

std::vector<std::string> nonEmptyLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

size_t findAsciiNoCase(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) return 0;
    if (needle.size() > haystack.size()) return std::string_view::npos;
    for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        size_t j = 0;
        while (j < needle.size() && lowerAscii(haystack[i + j]) == lowerAscii(needle[j])) ++j;
        if (j == needle.size()) return i;
    }
    return std::string_view::npos;
}

// ---------------------------------------------------------------- locale

namespace {

std::mutex localeMutex;
std::string pinnedLocale;  // set by tests; empty = the operator's

bool isPlainCLocale(const std::string& name) {
    if (name.empty() || name == "C" || name == "POSIX") return true;
    // "C.UTF-8", "C.utf8": the C locale with a code set, still no language
    return name.size() > 2 && name[0] == 'C' && name[1] == '.';
}

// The environment's choice for a category, with the usual precedence.
std::string environmentLocale(const char* category) {
    for (const char* var : {"LC_ALL", category, "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) return v;
    }
    return {};
}

// "de_DE.UTF-8@euro" -> "de_DE"
std::string stripCodeset(const std::string& name) {
    std::string r = name.substr(0, name.find_first_of(".@"));
    return r;
}

std::string resolvedLocale(const char* category) {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(localeMutex);
        name = pinnedLocale;
    }
    if (name.empty()) name = environmentLocale(category);
    if (isPlainCLocale(name)) return "de_DE";
    return name;
}

// One collator per locale name, made once: opening a collator costs far more than a comparison.
// Collator::compare is const and safe to call from several threads.
struct CollatorCache {
    std::string localeName;
    std::shared_ptr<const icu::Collator> collator;
};

CollatorCache collatorCache;

std::shared_ptr<const icu::Collator> collator() {
    const std::string name = stripCodeset(resolvedLocale("LC_COLLATE"));
    std::lock_guard<std::mutex> lock(localeMutex);
    if (collatorCache.collator && collatorCache.localeName == name) return collatorCache.collator;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(icu::Locale(name.c_str()), status));
    if (U_FAILURE(status) || !c) {
        status = U_ZERO_ERROR;
        c.reset(icu::Collator::createInstance(icu::Locale::getGermany(), status));
    }
    if (U_FAILURE(status) || !c) {
        status = U_ZERO_ERROR;
        c.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    }
    // Secondary: case does not count, accents do. Non-ignorable: punctuation takes part in the
    // comparison and sorts before digits, digits before letters.
    c->setStrength(icu::Collator::SECONDARY);
    status = U_ZERO_ERROR;
    c->setAttribute(UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, status);
    status = U_ZERO_ERROR;
    c->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
    collatorCache.localeName = name;
    collatorCache.collator = std::shared_ptr<const icu::Collator>(c.release());
    return collatorCache.collator;
}

icu::UnicodeString fromUtf8(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), int32_t(s.size())));
}

std::string toUtf8(const icu::UnicodeString& u) {
    std::string r;
    u.toUTF8String(r);
    return r;
}

// Full case folding plus NFC: what the name filters match on. Folding agrees with the
// collator at secondary strength on case (and on ß ~ ss).
std::string foldForMatching(std::string_view s) {
    // Plain ASCII folds to its lower case; most directory names are ASCII.
    if (std::all_of(s.begin(), s.end(), [](char c) { return (unsigned char)c < 0x80; }))
        return toLowerAscii(s);
    icu::UnicodeString u = fromUtf8(s);
    u.foldCase();
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status) && nfc) {
        icu::UnicodeString n = nfc->normalize(u, status);
        if (U_SUCCESS(status)) return toUtf8(n);
    }
    return toUtf8(u);
}

}  // namespace

std::string foldCaseLocale(std::string_view s) { return foldForMatching(s); }

std::string activeLocale() { return stripCodeset(resolvedLocale("LC_COLLATE")); }

void setLocaleForTesting(const std::string& localeName) {
    std::lock_guard<std::mutex> lock(localeMutex);
    pinnedLocale = localeName;
}

int compareLocaleNoCase(std::string_view a, std::string_view b) {
    auto c = collator();
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult r = c->compareUTF8(icu::StringPiece(a.data(), int32_t(a.size())),
                                        icu::StringPiece(b.data(), int32_t(b.size())), status);
    if (U_FAILURE(status)) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
    return r == UCOL_LESS ? -1 : (r == UCOL_EQUAL ? 0 : 1);
}

bool equalsLocaleNoCase(std::string_view a, std::string_view b) { return compareLocaleNoCase(a, b) == 0; }

bool lessLocaleNoCase(std::string_view a, std::string_view b) { return compareLocaleNoCase(a, b) < 0; }

std::string localeSortKey(std::string_view s) {
    auto c = collator();
    icu::UnicodeString u = fromUtf8(s);
    std::string key(64, '\0');
    int32_t n = c->getSortKey(u, reinterpret_cast<uint8_t*>(key.data()), int32_t(key.size()));
    if (n > int32_t(key.size())) {
        key.resize(size_t(n));
        n = c->getSortKey(u, reinterpret_cast<uint8_t*>(key.data()), int32_t(key.size()));
    }
    // The key ends with its terminating zero; drop it so keys compare as plain strings.
    key.resize(n > 0 ? size_t(n - 1) : 0);
    return key;
}

std::string toLowerLocale(std::string_view s) {
    icu::UnicodeString u = fromUtf8(s);
    u.toLower(icu::Locale(activeLocale().c_str()));
    return toUtf8(u);
}

bool startsWithLocaleNoCase(std::string_view s, std::string_view prefix) {
    if (prefix.empty()) return true;
    const std::string fs = foldForMatching(s);
    const std::string fp = foldForMatching(prefix);
    return fs.compare(0, fp.size(), fp) == 0;
}

bool containsLocaleNoCase(std::string_view s, std::string_view part) {
    if (part.empty()) return true;
    return foldForMatching(s).find(foldForMatching(part)) != std::string::npos;
}

void sortLocaleNoCase(NameList& list) {
    // One sort key per name, then a plain byte sort: n log n comparisons of short byte strings
    // instead of n log n collator calls.
    std::vector<std::pair<std::string, size_t>> keyed;
    keyed.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) keyed.emplace_back(localeSortKey(list[i]), i);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    NameList sorted;
    sorted.reserve(list.size());
    for (const auto& k : keyed) sorted.push_back(std::move(list[k.second]));
    list = std::move(sorted);
}

// ---------------------------------------------------------------- code pages

namespace {

constexpr std::array<unsigned char, 5> kUndefinedCp1252 = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

// Byte -> code point, built once through iconv; the undefined bytes map to the C1 controls of
// the same number, as Windows reads them.
struct Cp1252Table {
    std::array<char32_t, 256> toUnicode{};
    std::unordered_map<char32_t, unsigned char> fromUnicode;

    Cp1252Table() {
        for (int b = 0; b < 0x80; ++b) toUnicode[size_t(b)] = char32_t(b);
        iconv_t cd = iconv_open("UTF-32LE", "CP1252");
        for (int b = 0x80; b < 0x100; ++b) {
            char32_t cp = char32_t(b);  // Latin-1 identity where iconv has nothing
            if (cd != iconv_t(-1)) {
                char in = char(b);
                unsigned char outBuf[8] = {};
                char* inp = &in;
                size_t inLeft = 1;
                char* outp = reinterpret_cast<char*>(outBuf);
                size_t outLeft = sizeof outBuf;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != size_t(-1) && outLeft == 4)
                    cp = char32_t(outBuf[0] | (outBuf[1] << 8) | (outBuf[2] << 16) | (outBuf[3] << 24));
            }
            if (std::find(kUndefinedCp1252.begin(), kUndefinedCp1252.end(), b) != kUndefinedCp1252.end())
                cp = char32_t(b);
            toUnicode[size_t(b)] = cp;
        }
        if (cd != iconv_t(-1)) iconv_close(cd);
        for (int b = 0; b < 256; ++b) fromUnicode.emplace(toUnicode[size_t(b)], (unsigned char)b);
    }
};

const Cp1252Table& cp1252() {
    static const Cp1252Table table;
    return table;
}


// Decodes one UTF-8 sequence at pos; false on malformed input (overlong, surrogate, too big,
// truncated).
bool decodeUtf8(std::string_view s, size_t& pos, char32_t& cp) {
    const auto b0 = (unsigned char)s[pos];
    if (b0 < 0x80) {
        cp = b0;
        ++pos;
        return true;
    }
    int len;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) { len = 2; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { len = 3; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { len = 4; cp = b0 & 0x07; min = 0x10000; }
    else return false;
    if (pos + size_t(len) > s.size()) return false;
    for (int i = 1; i < len; ++i) {
        const auto b = (unsigned char)s[pos + size_t(i)];
        if ((b & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    pos += size_t(len);
    return true;
}

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string cp1252ToUtf8(std::string_view bytes) {
    const auto& t = cp1252();
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char c : bytes) appendUtf8(out, t.toUnicode[(unsigned char)c]);
    return out;
}

bool utf8ToCp1252(std::string_view utf8, std::string& out) {
    const auto& t = cp1252();
    std::string result;
    result.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp;
        if (!decodeUtf8(utf8, pos, cp)) return false;
        auto it = t.fromUnicode.find(cp);
        if (it == t.fromUnicode.end()) return false;
        result += char(it->second);
    }
    out = std::move(result);
    return true;
}

bool isValidUtf8(std::string_view bytes) {
    size_t pos = 0;
    char32_t cp;
    while (pos < bytes.size())
        if (!decodeUtf8(bytes, pos, cp)) return false;
    return true;
}

// ---------------------------------------------------------------- dates

namespace {

std::string twoDigits(int v) {
    std::string r = std::to_string(v);
    return r.size() < 2 ? "0" + r : r;
}

// The C library's format for the operator's time locale; empty when that is C/POSIX or the
// locale is not installed, and German is used instead.
std::string formatWithLocale(const std::tm& tm, const char* fmt) {
    const std::string name = resolvedLocale("LC_TIME");
    if (stripCodeset(name) == "de_DE") return {};  // German: the fixed form below
    locale_t loc = static_cast<locale_t>(0);
    for (const std::string& candidate : {name, stripCodeset(name) + ".UTF-8", stripCodeset(name) + ".utf8"}) {
        loc = newlocale(LC_TIME_MASK, candidate.c_str(), static_cast<locale_t>(0));
        if (loc) break;
    }
    if (!loc) return {};
    char buf[128];
    size_t n = strftime_l(buf, sizeof buf, fmt, &tm, loc);
    freelocale(loc);
    return std::string(buf, n);
}

}  // namespace

std::string formatShortDate(const std::tm& tm) {
    std::string r = formatWithLocale(tm, "%x");
    if (!r.empty()) return r;
    std::string year = std::to_string(tm.tm_year + 1900);
    while (year.size() < 4) year = "0" + year;
    return twoDigits(tm.tm_mday) + "." + twoDigits(tm.tm_mon + 1) + "." + year;
}

std::string formatLongTime(const std::tm& tm) {
    std::string r = formatWithLocale(tm, "%X");
    if (!r.empty()) return r;
    return twoDigits(tm.tm_hour) + ":" + twoDigits(tm.tm_min) + ":" + twoDigits(tm.tm_sec);
}

}  // namespace text
