// Any bytes as nwclient.conf, as a typeless name and as a DN: the readers must neither crash
// nor hand out what breaks their promises (names round-trip through their escaping).
#include "nwclient/client_state.h"
#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/names.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    nw::ClientConfig config;
    if (nw::parseConfiguration(text, "nwclient.conf", config) == 0) {
        check(!config.tree.empty());
        for (const auto& [key, value] : config.values) {
            check(!key.empty() && key.find('=') == std::string::npos);
            check(value.find_first_of("\r\n") == std::string::npos);
        }
    }

    // Typeless names: what parses resolves to components that escape and parse back the same.
    nw::names::Parsed parsed;
    if (nw::names::parse(text, parsed) == 0) {
        for (const std::string& c : parsed.leafFirst) check(nw::names::splitEscaped(nw::names::escape(c)).size() == 1);
        std::vector<std::string> rootFirst;
        if (nw::names::resolveAgainst({"SCHULE"}, text, rootFirst) == 0) {
            nw::names::Parsed again;
            std::string joined = nw::names::joinRootFirst(rootFirst);
            if (!joined.empty() && nw::names::parse("." + joined, again) == 0)
                check(std::vector<std::string>(again.leafFirst.rbegin(), again.leafFirst.rend()) == rootFirst);
        }
    }
    std::vector<std::string> context;
    nw::names::parseContext(text, context);
    const std::vector<std::string> components = nw::ldap::splitTypelessName(text);
    check(nw::ldap::splitTypelessName(nw::ldap::joinTypelessName(components)) == components);

    // DNs: what parses formats to a DN that parses to the same names.
    std::vector<nw::ldap::Rdn> rdns;
    if (nw::ldap::parseDn(text, rdns)) {
        std::vector<nw::ldap::Rdn> again;
        check(nw::ldap::parseDn(nw::ldap::formatDn(rdns), again) && again.size() == rdns.size());
        for (size_t i = 0; i < rdns.size(); ++i) check(again[i].value == rdns[i].value);
        check(nw::ldap::dnKey(nw::ldap::formatDn(rdns)) == nw::ldap::dnKey(rdns));
    }
    std::string value;
    if (nw::ldap::unescapeDnValue(text, value)) {
        std::string back;
        check(nw::ldap::unescapeDnValue(nw::ldap::escapeDnValue(value), back) && back == value);
    }
    nw::ldap::equalityFilter("cn", text);
    return 0;
}
