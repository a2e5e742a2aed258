#include "deny/group_check.h"

#include "nwapi/nwapi.h"
#include "platform/text.h"

namespace deny {

GroupState denyGroupState(const std::string& group, std::string* baseClass) {
    const std::string read = group.empty() || group == "." ? std::string() : nwapi::GetBaseClass(group);
    if (baseClass) *baseClass = read;
    if (read.empty()) return GroupState::Missing;
    return text::equalsAsciiNoCase(read, "Group") ? GroupState::Group : GroupState::NotAGroup;
}

std::string groupStateLine(GroupState state) {
    switch (state) {
        case GroupState::Missing: return "existiert nicht!";
        case GroupState::NotAGroup: return "ist keine Gruppe!";
        default: return {};
    }
}

std::string denyGroupProblem(const std::string& group) {
    std::string baseClass;
    switch (denyGroupState(group, &baseClass)) {
        case GroupState::Missing: return "Die Gruppe " + group + " existiert nicht: nichts wurde geändert.";
        case GroupState::NotAGroup:
            return group + " ist keine Gruppe (Klasse " + baseClass + "): nichts wurde geändert.";
        default: return {};
    }
}

}  // namespace deny
