// Typeless names taken apart and put together, for the layers above the directory access layer
// (audit lines, the deny group's checks): the client's one escaping ("\." and "\\").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nwapi {

// The name without a leading dot or a trailing ".[root]".
std::string_view StripRootSpelling(std::string_view name);
// The components, leaf first, unescaped.
std::vector<std::string> NameComponents(std::string_view name);
// True when the client can take name apart (no overlong component or name, no stray escape).
bool NameIsUsable(std::string_view name);
// The full typeless name of components given root first; "" for the root.
std::string JoinRootFirst(const std::vector<std::string>& rootFirst);

}  // namespace nwapi
