// How a listing that the server's size limit stopped is split into few smaller searches: the names
// that came before the limit are a sample of the part, and prefixes of them are packed into parts
// each expected to stay under the limit. Private to src/nwclient/ldap (and its tests).
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace nw::ldapbackend {

// A name lower-cased character by character, as the server compares naming values.
std::string lowerName(std::string_view name);

// The parts for a part that the limit stopped after `received` entries, `names` the lower-cased
// names among them. Each part is a set of prefixes; a name's part is the one holding a prefix of
// it. Only prefixes that extend one of `within` (when given) and start with none of `taken` are
// planned. The caller searches every part but the last and lets the last go with the rest (all
// that none of the others' prefixes match). Empty when the names give nothing to split on.
std::vector<std::vector<std::string>> planSplit(std::vector<std::string> names, size_t received,
                                                const std::set<std::string>& within,
                                                const std::set<std::string>& taken);

// Searches (not pages) this process has started against a directory; tests count them.
size_t searchesStarted();
void countSearchStarted();

}  // namespace nw::ldapbackend
