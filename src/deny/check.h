// The consistency check of a deny group's four membership places (the group's Member and
// Equivalent To Me, each user's Group Membership and Security Equals) and its repair, in which
// Member decides: it is what the proxy enforces.
#pragma once

#include "platform/text.h"

#include <string>
#include <vector>

namespace deny {

struct Places {
    std::string user;
    bool member = false;           // group's Member
    bool equivalentToMe = false;   // group's Equivalent To Me
    bool groupMembership = false;  // user's Group Membership
    bool securityEquals = false;   // user's Security Equals
    bool all() const { return member && equivalentToMe && groupMembership && securityEquals; }
};

struct Repeated {
    std::string object;     // whose attribute
    std::string attribute;
    std::string value;
    size_t count = 0;
};

struct SharedLogin {
    std::string member;
    std::string login;
    text::NameList others;  // other users anywhere in the tree with the same login name
};

struct CheckReport {
    bool complete = true;              // every read worked; false: the findings are not the whole story
    std::vector<Places> partial;       // users in some, not all, of the four places
    std::vector<Repeated> repeated;    // a value held more than once
    std::vector<Repeated> dangling;    // a group value naming no object (count unused)
    text::NameList notUsers;           // Member or Equivalent To Me values that are no users
    std::vector<SharedLogin> shared;   // members whose login name another user has too
    std::vector<Repeated> unnamable;   // values left out of every read: their names hold NUL, CR or LF (count unused)
    std::string notAGroup;             // the deny group's base class when it is no group: its side is not checked
    std::vector<Repeated> stray;       // users' values naming the deny group although it is no group (count unused)
    size_t members = 0;                // Member values
    size_t usersInTree = 0;

    bool clean() const {
        return partial.empty() && repeated.empty() && dangling.empty() && notUsers.empty() && shared.empty() &&
               unnamable.empty() && notAGroup.empty() && stray.empty();
    }
};

// Reads the group, every user of the tree and their two places. Failed reads have been reported
// by the layer and make complete false.
CheckReport checkGroup(const std::string& group);

// One planned change of one user, done in two requests (the user's own entry, then the group).
struct RepairStep {
    std::string user;
    bool add = false;  // true: into the missing places (in Member); false: out of the leftover ones
    bool groupMembership = false, securityEquals = false, equivalentToMe = false;  // places to change
    bool dedupe = false;  // repeated values of this user to fold into one
};

// The steps that make the report whole; what cannot be made whole (values naming nothing, members
// that are no users, shared login names) has no step.
std::vector<RepairStep> planRepair(const CheckReport& report);

struct RepairResult {
    size_t done = 0;
    size_t failed = 0;   // reported by the layer
    size_t settled = 0;  // found by the check, no longer so on the re-read: left alone
    bool reread = true;  // false: the re-read was incomplete (reported), so nothing was changed
};

// Reads everything again first and carries out only what both reads found: a user half way through
// another operator's stop or go is completed by that change, not undone here. Then user by user:
// each user's own entry in one request, then the group's Equivalent To Me. Repeated group values
// are folded in one further request; values that have no name, and stray values naming a deny
// group that is no group, are removed.
RepairResult repairGroup(const std::string& group, const CheckReport& report);

}  // namespace deny
