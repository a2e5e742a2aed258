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

std::string escape(std::string_view component);
// Full typeless name of components given root first, escaped, leaf first; "" for the root.
std::string joinRootFirst(const std::vector<std::string>& rootFirst);

}  // namespace nw::names
