// The order of the deny list: members sorted by their containers from the tree root down, and
// by name within one container (Z.A.ORG, then B.X.ORG, then A.Y.ORG).
#pragma once

#include "platform/text.h"

#include <string>
#include <string_view>

namespace browse {

// The name's dot-separated components in reverse order (A.B.C -> C.B.A), without a trailing
// dot. An escaped dot ("\.") stays inside its component.
std::string KomponentenUmgekehrt(std::string_view name);

// Sorts by the reversed names, locale-aware and case-insensitive; stable, n log n. The names
// themselves are left as they were (one given with a leading dot keeps it).
void SortiereNachContainer(text::NameList& names);

}  // namespace browse
