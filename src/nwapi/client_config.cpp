#include "nwapi/client_config.h"

#include "nwclient/client_setup.h"

namespace nwapi {

bool ReadClientConfiguration(ClientConfiguration& out) {
    nw::ClientConfig config;
    if (nw::loadConfiguration(config) != 0) return false;
    out.file = config.file;
    out.tree = config.tree;
    out.operatorName = config.operatorName;
    out.values = config.values;
    return true;
}

}  // namespace nwapi
