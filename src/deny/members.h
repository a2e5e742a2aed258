// The deny group's members as every front end reads them.
#pragma once

#include "platform/text.h"

#include <string>

namespace deny {

// The members of group (typeless full names) in the deny list's order: by container from the top
// of the tree down. A group without any Member value is empty, not a failure. False when the read
// failed; the layer has reported it.
// On a directory that nests groups (AD) the users of the groups in the group count as members;
// with ClassGroups=yes the class groups themselves are no members of their own.
bool readMembers(const std::string& group, text::NameList& members);
// The same, with through[i] the group members[i] is in the group through (a group that is none of
// its class groups), empty when directly or through a class group.
bool readMembers(const std::string& group, text::NameList& members, text::NameList& through);
// The deny list's words for a member held by another group: " (über Gruppe X)"; empty for none.
std::string throughText(const std::string& holder);
// A deny list row's text back to the member's name (the window's go takes the rows' texts).
std::string withoutThroughText(const std::string& rowText);

}  // namespace deny
