// Typeless dot-separated names: parsing with escapes ("\." and "\\"), the root spellings, the
// length limits, and turning a name plus a name context into components from the root down.
#pragma once

#include "nwclient/status.h"

#include <string>
#include <string_view>
#include <vector>

namespace nw::names {

struct Parsed {
    bool absolute = false;
    std::vector<std::string> leafFirst;  // unescaped component values
    size_t up = 0;                       // trailing dots of a relative name: levels to go up
};

// Characters of a UTF-8 text (continuation bytes not counted).
size_t utf8Chars(std::string_view s);
// ERR_DN_TOO_LONG past 256 characters or 513 bytes.
NWDSCCODE checkDnLimits(std::string_view name);
bool isRootName(std::string_view name);

NWDSCCODE parse(std::string_view name, Parsed& out);
// Parses a name context: always counted from the root. Components root first.
NWDSCCODE parseContext(std::string_view context, std::vector<std::string>& rootFirst);
// The components, root first, that name denotes under the name context (given root first).
NWDSCCODE resolveAgainst(const std::vector<std::string>& contextRootFirst, std::string_view name,
                         std::vector<std::string>& rootFirst);

// The one escaping of typeless names, shared by the client, the backends and the tools: inside a
// component a dot is written "\." and a backslash "\\".
std::string escape(std::string_view component);
// Splits a typeless name at its unescaped dots into components, leaf first, undoing "\." and
// "\\". A backslash before anything else (or at the very end) stands for itself. "" gives {""}.
std::vector<std::string> splitEscaped(std::string_view name);
// Components given leaf first, escaped and joined with dots.
std::string joinLeafFirst(const std::vector<std::string>& leafFirst);
// Full typeless name of components given root first, escaped, leaf first; "" for the root.
std::string joinRootFirst(const std::vector<std::string>& rootFirst);
// The name without the spellings that only say "counted from the root": a leading dot and a
// trailing ".[root]" (any case).
std::string_view stripRootSpelling(std::string_view name);

}  // namespace nw::names
