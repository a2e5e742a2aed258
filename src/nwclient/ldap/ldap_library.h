// libldap, opened on first need (ldap_library.cpp).
#pragma once

#include <string>

namespace nw {

// Opens libldap once; false, with the loader's reason, when the library cannot be loaded.
bool ldapLibraryLoads(std::string& why);

// Which library ldapLibraryLoads() opens next (the installed libldap's soname unless changed).
void setLdapLibraryName(const char* soname);

}  // namespace nw
