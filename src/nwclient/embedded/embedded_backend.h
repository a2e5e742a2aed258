// The embedded directory backend: the tree lives in one SQLite file (tree_store.h), changes are
// made with the operator's rights from the tree's ACL values.
#pragma once

#include "nwclient/backend.h"

#include <memory>
#include <string>

namespace nw {

// Opens treeFile for the operator (a typeless full name; empty = nobody, read only). On failure
// returns null with status TARVEL_TREE_MISSING, TARVEL_TREE_UNREADABLE, TARVEL_TREE_LOCKED or
// TARVEL_OPERATOR_UNKNOWN (the operator names no object of the tree).
std::unique_ptr<DirectoryBackend> makeEmbeddedBackend(const std::string& treeFile, const std::string& operatorName,
                                                      NWCCODE& status);

struct EmbeddedOptions {
    // How long a call waits for another program's lock on the tree before it answers
    // ERR_DS_LOCKED (and opening answers TARVEL_TREE_LOCKED): nwclient.conf's LockTimeout=.
    int busyTimeoutMs = 30000;
    // Entries per page of a listing or search cursor.
    int pageSize = 500;
};

std::unique_ptr<DirectoryBackend> makeEmbeddedBackend(const std::string& treeFile, const std::string& operatorName,
                                                      NWCCODE& status, const EmbeddedOptions& options);

// The options nwclient.conf sets: LockTimeout= (whole seconds, 0 to 3600; 30 when absent).
// TARVEL_CONFIGURATION_INVALID for any other value.
NWCCODE embeddedOptionsOf(const ClientConfig& config, EmbeddedOptions& options);

}  // namespace nw
