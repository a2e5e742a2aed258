#include "deny/members.h"

#include "browse/member_order.h"
#include "nwapi/nwapi.h"
#include "nwclient/status.h"

namespace deny {

bool readMembers(const std::string& group, text::NameList& members) {
    members.clear();
    // An empty group has no Member attribute at all: that is no failure worth a box.
    nwapi::ExpectNDSError(nw::ERR_NO_SUCH_ATTRIBUTE);
    int32_t error = 0;
    nwapi::GetGroupMembers(group, members, error);
    if (error != 0 && error != nw::ERR_NO_SUCH_ATTRIBUTE && error != -nw::ERR_NO_SUCH_ATTRIBUTE) {
        members.clear();
        return false;
    }
    browse::SortiereNachContainer(members);
    return true;
}

}  // namespace deny
