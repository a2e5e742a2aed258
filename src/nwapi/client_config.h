// The client's configuration (nwclient.conf) as the layers above the directory access layer read
// it: the deny job's companions (audit trail, timed stops, the proxy's list) keep their keys there.
#pragma once

#include <map>
#include <string>

namespace nwapi {

struct ClientConfiguration {
    std::string file;          // where it was read from
    std::string tree;          // Tree=: "sqlite:PATH" or an ldap:// or ldaps:// address
    std::string operatorName;  // Operator=
    std::map<std::string, std::string> values;  // every key, lower-cased
};

// The configuration the client uses (the one set for the process, else the first on its search
// path). False when there is none or it cannot be read.
bool ReadClientConfiguration(ClientConfiguration& out);

}  // namespace nwapi
