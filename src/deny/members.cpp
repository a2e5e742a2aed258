#include "deny/members.h"

#include "browse/member_order.h"
#include "nwapi/nwapi.h"
#include "nwclient/status.h"
#include "platform/ports.h"

#include <unordered_map>

namespace deny {

bool readMembers(const std::string& group, text::NameList& members) {
    text::NameList through;
    return readMembers(group, members, through);
}

bool readMembers(const std::string& group, text::NameList& members, text::NameList& through) {
    members.clear();
    through.clear();
    std::vector<nwapi::GroupMember> read;
    if (!nwapi::ReadGroupMembers(group, read)) return false;
    std::unordered_map<std::string, std::string> holders;
    for (nwapi::GroupMember& m : read) {
        if (m.isGroup && m.classGroup) continue;
        if (!m.via.empty() && !m.classGroup) holders.emplace(text::localeSortKey(m.name), m.via);
        members.push_back(std::move(m.name));
    }
    platform::pumpMessages();  // thousands of names took a while: the window repaints first
    browse::SortiereNachContainer(members);
    through.assign(members.size(), std::string());
    // A collation key per member costs as much as the sort: only where some are held by a group.
    if (!holders.empty())
        for (size_t i = 0; i < members.size(); ++i)
            if (const auto it = holders.find(text::localeSortKey(members[i])); it != holders.end()) through[i] = it->second;
    return true;
}

std::string throughText(const std::string& holder) { return holder.empty() ? std::string() : " (über Gruppe " + holder + ")"; }

std::string withoutThroughText(const std::string& rowText) {
    const size_t at = rowText.rfind(" (über Gruppe ");
    return at != std::string::npos && rowText.back() == ')' ? rowText.substr(0, at) : rowText;
}

}  // namespace deny
