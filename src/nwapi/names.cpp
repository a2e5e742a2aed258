#include "nwapi/names.h"

#include "nwclient/names.h"

namespace nwapi {

std::string_view StripRootSpelling(std::string_view name) { return nw::names::stripRootSpelling(name); }

std::vector<std::string> NameComponents(std::string_view name) { return nw::names::splitEscaped(name); }

bool NameIsUsable(std::string_view name) {
    nw::names::Parsed parsed;
    return nw::names::parse(name, parsed) == nw::SUCCESSFUL;
}

std::string JoinRootFirst(const std::vector<std::string>& rootFirst) { return nw::names::joinRootFirst(rootFirst); }

}  // namespace nwapi
