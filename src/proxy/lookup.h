// Whether a login may browse, asked of the directory at every request: the deny group's Member
// decides. No answer is kept between requests, so a stop from any front end holds at the next one.
#pragma once

#include "proxy/protocol.h"

#include <string>

namespace proxy {

// The users whose login name is login (their own name, CN; on Active Directory sAMAccountName),
// compared as the directory compares names (ignoring case), found by one search from the tree
// root; then, per user, one search for groups beside the deny group whose Member holds that user
// (on Active Directory also through nested groups, such as a class's deny group). A login shared by several users is stopped when
// any of them is. The deny group must exist (an absolute typeless name); a failed call is Broken.
// Needs an open layer connection (nwapi::InitNWConnection).
Verdict askDirectory(const std::string& login, const std::string& denyGroup);

}  // namespace proxy
