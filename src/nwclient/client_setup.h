// Set-up of the process-wide client outside the NetWare calls: which configuration file to use,
// a backend for tests, and a full reset.
#pragma once

#include "nwclient/backend.h"

#include <memory>
#include <string>
#include <vector>

namespace nw {

// Use exactly this nwclient.conf instead of searching for one (a command line's --nwclient, tests).
void setConfigurationFile(const std::string& path);
// The places searched when none was set: platform::configurationSearchPath("nwclient.conf"),
// the user's folder first and beside the program last.
std::vector<std::string> configurationSearchPath();
// The first of those that exists; empty when none does.
std::string findConfigurationFile();
// The file named by "--nwclient=FILE" or "--nwclient FILE" among arguments (argv-like, the
// program first; the last one named wins); empty when none. A plain path from the current folder.
std::string configurationFileOption(const std::vector<std::string>& arguments);

// Makes the next NWCCGetPrimConnRef use this backend instead of opening nwclient.conf's tree.
void installBackend(std::unique_ptr<DirectoryBackend> backend);
// Reads nwclient.conf (the one set, or the first on the search path).
NWCCODE loadConfiguration(ClientConfig& config);

// The backend of the open primary connection, or null.
DirectoryBackend* currentBackend();

// Binds this process as another account than nwclient.conf names, with the rest of that file
// (tree, base, TLS, time-outs): a web session bound as its teacher. operatorName is a typeless
// full name (empty: none), bindDn the LDAP DN (empty: derived from operatorName as Operator= is).
// On LDAP the file's PasswordFile= is then not read: the password is asked for through the
// credentials port. Both empty: the file's own account again. resetClient() forgets it too.
void setSessionAccount(const std::string& operatorName, const std::string& bindDn);

// On the open LDAP connection: the DN of an object given by its typeless full name, and the
// typeless full name of a DN (empty when it names nothing of the tree, or the tree is no LDAP).
std::string distinguishedNameOf(const std::string& fullName);
std::string fullNameOfDistinguishedName(const std::string& dn);

// Forgets everything: contexts, buffers' iterations, connection, configuration file, backend.
void resetClient();

// Which directory and which operator the client was set up with (nwclient.conf as read; all
// empty before it was read, but for a file named by setConfigurationFile), so the operator can
// see whose rights apply.
struct ConnectionIdentity {
    std::string tree;          // the tree file's path, or the server's address (and base)
    std::string operatorName;  // Operator=, else the LDAP bind DN
    bool embedded = false;     // a tree file: its rights are not enforced by a server
    std::string configurationFile;  // the nwclient.conf read or named; empty when none was found
    bool certificateUnchecked = false;  // TLSVerify=no let a server's certificate through unchecked
};
ConnectionIdentity connectionIdentity();

}  // namespace nw
