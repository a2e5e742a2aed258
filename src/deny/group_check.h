// Whether the configured deny group can be one: it must exist and its base class must be "Group".
// A user (admin.UNTERRICHT) or a container there would take Member and Equivalent To Me, and every
// pupil "stopped" would become security-equal to it (on eDirectory: get its rights) and keep
// Internet. Every front end asks here before anything is written.
#pragma once

#include <string>

namespace deny {

enum class GroupState { Group, Missing, NotAGroup };

// Reads the object's base class, the name taken as absolute; shows no box. baseClass, when given,
// receives what was read (empty when missing).
GroupState denyGroupState(const std::string& group, std::string* baseClass = nullptr);

// The line that follows the group's name in the boxes: "existiert nicht!" or "ist keine Gruppe!"
// (empty for a group).
std::string groupStateLine(GroupState state);

// For the command line: why group cannot be the deny group, in one sentence ending in
// "nichts wurde geändert."; empty when it is a group.
std::string denyGroupProblem(const std::string& group);

}  // namespace deny
