// Values a read left out because no name can be given for them, and their removal.
#include "nwclient/client_state.h"

namespace nw {

std::vector<std::string> NWDSSkippedValues() {
    return state().backend ? state().backend->skippedValues() : std::vector<std::string>();
}

NWDSCCODE NWDSRemoveSkippedValue(NWDSContextHandle context, const char* objectName, const char* attrName,
                                 const char* shown) {
    ContextState* c = findContext(context);
    if (!c) return ERR_BAD_CONTEXT;
    if (!shown) return ERR_NULL_POINTER;
    if (!state().backend) return ERR_NO_CONNECTION;
    std::string attribute;
    if (NWDSCCODE rc = checkSchemaName(attrName, attribute)) return rc;
    ObjectId id = ROOT_ID;
    if (NWDSCCODE rc = resolveName(*c, objectName, id)) return rc;
    return state().backend->removeSkippedValue(id, attribute, shown);
}

}  // namespace nw
