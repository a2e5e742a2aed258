// Chooses the backend that nwclient.conf's Tree= names.
#include "nwclient/backend.h"
#include "nwclient/embedded/embedded_backend.h"
#include "nwclient/ldap/ldap_backend.h"
#include "nwclient/ldap/ldap_library.h"

#include <filesystem>

namespace nw {

namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

std::unique_ptr<DirectoryBackend> openBackend(const ClientConfig& config, NWCCODE& status) {
    status = SUCCESSFUL;
    if (startsWith(config.tree, "sqlite:")) {
        std::filesystem::path tree = config.tree.substr(7);
        if (tree.empty()) {
            status = TARVEL_CONFIGURATION_INVALID;
            return nullptr;
        }
        // A relative tree file sits beside nwclient.conf, wherever the program was started.
        if (tree.is_relative() && !config.file.empty())
            tree = std::filesystem::path(config.file).parent_path() / tree;
        EmbeddedOptions options;
        if ((status = embeddedOptionsOf(config, options)) != SUCCESSFUL) return nullptr;
        auto backend = makeEmbeddedBackend(tree.string(), config.operatorName, status, options);
        if (!backend && status == SUCCESSFUL) status = TARVEL_TREE_UNREADABLE;
        return backend;
    }
    if (startsWith(config.tree, "ldap://") || startsWith(config.tree, "ldaps://")) {
        std::string why;
        if (!ldapLibraryLoads(why)) {
            status = TARVEL_LDAP_LIBRARY_MISSING;
            return nullptr;
        }
        return makeLdapBackend(config, status);
    }
    status = TARVEL_CONFIGURATION_INVALID;
    return nullptr;
}

}  // namespace nw
