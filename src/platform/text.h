// Text rules of the program. Every text is UTF-8 in std::string. Three comparison kinds, each
// used exactly where the behaviour calls for it:
//   - ASCII case-insensitive: only A-Z/a-z fold (class names, the root test, context equality);
//   - locale-aware case-insensitive: ICU collator of the operator's locale (German where the
//     locale is C/POSIX), secondary strength, punctuation not ignorable, so punctuation sorts
//     before digits and digits before letters (listings, deny list, name filters, pre-checks);
//   - exact: plain byte equality.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace text {

using NameList = std::vector<std::string>;

// ---- ASCII ----
bool equalsAsciiNoCase(std::string_view a, std::string_view b);
std::string toLowerAscii(std::string_view s);
std::string toUpperAscii(std::string_view s);
// Position of needle in haystack ignoring ASCII case, or npos.
size_t findAsciiNoCase(std::string_view haystack, std::string_view needle);
// Two upper-case hexadecimal digits a byte ("\x0a\xff" gives "0AFF").
std::string toHexUpper(std::string_view bytes);
// The text with every control byte (below 0x20, and DEL) written as "\XX", upper-case hex, as a
// DN escapes them: a name or value from the directory shown on one line, its bytes still told.
std::string showControls(std::string_view s);
// The value of one hexadecimal digit (either case), -1 for anything else.
int hexDigitValue(char c);
// s without blanks and tabs at either end.
std::string trimBlanks(std::string_view s);
// The non-empty lines of text, split at LF, each without a trailing CR (a box's CR LF lines too).
std::vector<std::string> nonEmptyLines(std::string_view text);

// ---- locale-aware, case-insensitive ----
// <0, 0, >0 like strcmp.
int compareLocaleNoCase(std::string_view a, std::string_view b);
bool equalsLocaleNoCase(std::string_view a, std::string_view b);
bool lessLocaleNoCase(std::string_view a, std::string_view b);
// Sort key under the same collator: equal keys exactly when compareLocaleNoCase says 0, so it
// can serve as a hash-map key.
std::string localeSortKey(std::string_view s);
// Lower-casing with the locale's rules (umlauts too).
std::string toLowerLocale(std::string_view s);
// Case-insensitive (locale) prefix and substring tests, for the name filters.
bool startsWithLocaleNoCase(std::string_view s, std::string_view prefix);
bool containsLocaleNoCase(std::string_view s, std::string_view part);
// The case-folded form those two tests compare (full folding, NFC), for callers that test one
// text against many: fold once, then compare bytes.
std::string foldCaseLocale(std::string_view s);
// Stable sort of a name list with compareLocaleNoCase.
void sortLocaleNoCase(NameList& list);

// The locale used for collation and dates: the operator's (LC_COLLATE / LC_ALL / LANG), or
// "de_DE" where that is C/POSIX or unset. Tests may pin it; an empty name goes back to the
// operator's.
std::string activeLocale();
void setLocaleForTesting(const std::string& localeName);

// ---- code pages ----
// Windows-1252 to UTF-8. The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) become the control characters of the same number, as Windows reads them.
// Appends one code point as UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);
std::string cp1252ToUtf8(std::string_view bytes);
// UTF-8 to Windows-1252; false (and out untouched) when a character has no place in the code
// page or the input is not valid UTF-8: nothing is silently altered.
bool utf8ToCp1252(std::string_view utf8, std::string& out);
bool isValidUtf8(std::string_view bytes);

// ---- dates ----
// Local short date ("%x") and long time ("%X") of the active locale; German dd.mm.yyyy and
// hh:nn:ss where the locale is C/POSIX. The tm is taken as is (no time-zone conversion).
std::string formatShortDate(const std::tm& tm);
std::string formatLongTime(const std::tm& tm);

}  // namespace text
