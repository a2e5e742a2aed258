// The deny group's members as every front end reads them.
#pragma once

#include "platform/text.h"

#include <string>

namespace deny {

// The members of group (typeless full names) in the deny list's order: by container from the top
// of the tree down. A group without any Member value is empty, not a failure. False when the read
// failed; the layer has reported it.
bool readMembers(const std::string& group, text::NameList& members);

}  // namespace deny
