// What the LDAP backend's tests share: a backend opened for a configuration, and an object's id by
// its typeless name.
#pragma once

#include "nwclient/backend.h"
#include "nwclient/ldap/ldap_backend.h"
#include "nwclient/ldap/ldap_escape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace ldaptest {

inline std::unique_ptr<nw::DirectoryBackend> openBackend(const nw::ClientConfig& config) {
    nw::NWCCODE status = 0;
    auto backend = nw::makeLdapBackend(config, status);
    EXPECT_EQ(status, 0u);
    return backend;
}

inline nw::ObjectId idOf(nw::DirectoryBackend& b, const std::string& name) {
    std::vector<std::string> parts = nw::ldap::splitTypelessName(name);
    std::reverse(parts.begin(), parts.end());
    nw::ObjectId id = -1;
    EXPECT_EQ(b.resolve(parts, id), 0) << name;
    return id;
}

}  // namespace ldaptest
