#include "deny/selection.h"

#include "nwapi/nwapi.h"

namespace deny {

EntryKind kindOfClass(const std::string& baseClass) {
    if (text::equalsAsciiNoCase(baseClass, "User")) return EntryKind::User;
    if (text::equalsAsciiNoCase(baseClass, "Organization") || text::equalsAsciiNoCase(baseClass, "Organizational Unit"))
        return EntryKind::Container;
    return EntryKind::Other;
}

std::vector<SelectedEntry> entriesOfNames(const text::NameList& names) {
    std::vector<SelectedEntry> entries;
    entries.reserve(names.size());
    for (const std::string& name : names) entries.push_back({name, kindOfClass(nwapi::GetBaseClass(name))});
    return entries;
}

bool gatherUsers(const std::vector<SelectedEntry>& entries, text::NameList& users) {
    for (const SelectedEntry& entry : entries) {
        if (entry.kind == EntryKind::User) {
            users.push_back(entry.fullName);
        } else if (entry.kind == EntryKind::Container) {
            nwapi::SetzeContext("[root]");
            // A search cut short is not the list of users below: acting on it would leave the
            // rest as they were while the operator sees success.
            if (!nwapi::SearchObjects(entry.fullName, users, "User")) return false;
        }
    }
    return true;
}

}  // namespace deny
