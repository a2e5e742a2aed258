// Group membership on all three sides: the group's Member, each user's Group Membership and each
// user's security equivalence to the group. Users first, one request each; the group last.
#include "nwapi/nwapi.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace nwapi {
namespace {

// Each value is staged as NUL-terminated text in a buffer of 1024 bytes before it goes into a
// request. No name that long is a distinguished name: whatever does not fit the client's
// 514-byte name buffers is refused before the first change, rather than cut or failing half-way
// through the users.
constexpr size_t LONGEST_NAME_BYTES = nw::MAX_DN_BYTES - 1;

enum class Direction { Add, Remove };

std::string userSideText(Direction d, const std::string& group, const std::string& user) {
    return std::string(d == Direction::Add ? "AddMultipleUsersToGroup (" : "DeleteMultipleUsersFromGroup (") + "[" +
           group + "]" + " Group Membership/Security Eq. of " + user + ")";
}

std::string groupSideText(Direction d, const std::string& group, const std::string& user) {
    if (d == Direction::Add) return "AddMultipleUsersToGroup (" + std::string("[") + user + "]" + " Member of " + group + ")";
    return " DeleteMultipleUsersFromGroup (" + std::string("[") + user + "]" + "Member of " + group + ")";
}

// Keeps the first occurrence of each name (locale-aware, ignoring case): a name given twice
// would otherwise go into one request twice and fail it.
void dropRepeatedNames(NameList& users) {
    std::unordered_set<std::string> seen;
    seen.reserve(users.size());
    NameList kept;
    kept.reserve(users.size());
    for (std::string& user : users)
        if (seen.insert(text::localeSortKey(user)).second) kept.push_back(std::move(user));
    users = std::move(kept);
}

// Add: each member takes out the first occurrence of its name from the user list.
void dropMembers(NameList& users, const NameList& members) {
    std::unordered_map<std::string, std::vector<size_t>> positions;  // key -> indices, descending
    positions.reserve(users.size());
    for (size_t i = users.size(); i-- > 0;) positions[text::localeSortKey(users[i])].push_back(i);
    std::vector<bool> drop(users.size(), false);
    for (const std::string& member : members) {
        auto it = positions.find(text::localeSortKey(member));
        if (it == positions.end() || it->second.empty()) continue;
        drop[it->second.back()] = true;
        it->second.pop_back();
    }
    NameList kept;
    kept.reserve(users.size());
    for (size_t i = 0; i < users.size(); ++i)
        if (!drop[i]) kept.push_back(std::move(users[i]));
    users = std::move(kept);
}

// Remove: only actual members stay in the user list.
void keepMembers(NameList& users, const NameList& members) {
    std::unordered_set<std::string> memberKeys;
    memberKeys.reserve(members.size());
    for (const std::string& member : members) memberKeys.insert(text::localeSortKey(member));
    NameList kept;
    kept.reserve(users.size());
    for (std::string& user : users)
        if (memberKeys.count(text::localeSortKey(user))) kept.push_back(std::move(user));
    users = std::move(kept);
}

std::string withoutLeadingDot(const std::string& name) { return (!name.empty() && name[0] == '.') ? name.substr(1) : name; }

// The group's full name as the directory spells it, to recognise it among a user's Group
// Membership values (which are full names); the given text when the name cannot be read.
std::string fullGroupName(const std::string& group) {
    char distinguished[nw::MAX_DN_BYTES] = {};
    nw::Object_Info_T info{};
    if (nw::NWDSReadObjectInfo(layer().context, group.c_str(), distinguished, &info) == 0)
        return withoutLeadingDot(std::string(distinguished, strnlen(distinguished, sizeof distinguished)));
    return withoutLeadingDot(group);
}

bool holds(const NameList& values, const std::string& name) {
    for (const std::string& value : values)
        if (text::equalsLocaleNoCase(withoutLeadingDot(value), name)) return true;
    return false;
}

class MembershipChange {
public:
    MembershipChange(Direction direction, NameList& users, const std::string& group)
        : d_(direction), users_(users), group_(group), context_(layer().context) {}

    bool run() {
        // The empty name stands for the name context itself (the tree root when called as
        // usual): it would make the root a member, or read and change the wrong object.
        if (group_.empty()) {
            ShowNDSError(nw::ERR_INVALID_DS_NAME, userSideText(d_, group_, users_.empty() ? "" : users_.front()));
            return false;
        }
        NameList members;
        bool read = GetAttributeMultiValueStringList(context_, group_, "Member", members);
        if (read && !users_.empty()) {
            dropRepeatedNames(users_);
            if (d_ == Direction::Add) {
                if (!members.empty()) dropMembers(users_, members);
            } else {
                keepMembers(users_, members);
            }
        }
        if (users_.empty() || !read) return read;
        if (!namesFit()) return false;

        nw::NWDSCCODE status = nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &layer().modifyBuffer);
        if (status != 0) {
            layer().modifyBuffer = nullptr;
            ShowNDSError(status, userSideText(d_, group_, users_.front()));
            return false;
        }
        buffer_ = layer().modifyBuffer;
        groupFullName_ = fullGroupName(group_);

        bool ok = true;
        for (const std::string& user : users_) {
            if (!changeUser(user)) {
                ok = false;
                break;
            }
        }
        if (ok) ok = changeGroup(members.empty());

        nw::NWDSFreeBuf(buffer_);
        layer().modifyBuffer = nullptr;
        return ok;
    }

private:
    bool namesFit() {
        if (group_.size() > LONGEST_NAME_BYTES) {
            ShowNDSError(nw::ERR_DN_TOO_LONG, userSideText(d_, group_, users_.front()));
            return false;
        }
        for (const std::string& user : users_) {
            if (user.empty() || user.size() > LONGEST_NAME_BYTES) {
                ShowNDSError(user.empty() ? nw::ERR_INVALID_DS_NAME : nw::ERR_DN_TOO_LONG, userSideText(d_, group_, user));
                return false;
            }
        }
        return true;
    }

    bool changeUser(const std::string& user) {
        nw::NWDSInitBuf(context_, nw::DSV_MODIFY_ENTRY, buffer_);
        bool sendRequest = true;
        nw::NWDSCCODE equivalence = 0;
        if (d_ == Direction::Add) {
            NameList groups;
            GetAttributeMultiValueStringList(context_, user, "Group Membership", groups);
            // A user that a broken-off run already gave the group keeps its one value.
            sendRequest = !holds(groups, groupFullName_);
            if (sendRequest) {
                nw::NWDSPutChange(context_, buffer_, groups.empty() ? nw::DS_ADD_ATTRIBUTE : nw::DS_ADDITIONAL_VALUE,
                                  "Group Membership");
                nw::NWDSPutAttrVal(context_, buffer_, nw::SYN_DIST_NAME, group_.c_str());
            }
            equivalence = nw::NWDSAddSecurityEquiv(context_, user.c_str(), group_.c_str());
            if (equivalence == nw::ERR_DUPLICATE_VALUE) equivalence = 0;
        } else {
            nw::NWDSPutChange(context_, buffer_, nw::DS_REMOVE_VALUE, "Group Membership");
            nw::NWDSPutAttrVal(context_, buffer_, nw::SYN_DIST_NAME, group_.c_str());
            equivalence = nw::NWDSRemSecurityEquiv(context_, user.c_str(), group_.c_str());
            if (equivalence == nw::ERR_NO_SUCH_VALUE) equivalence = 0;
        }
        if (equivalence != 0) {
            ShowNDSError(equivalence, userSideText(d_, group_, user));
            return false;
        }
        if (!sendRequest) return true;
        int32_t iteration = nw::NO_MORE_ITERATIONS;
        nw::NWDSCCODE status = nw::NWDSModifyObject(context_, user.c_str(), &iteration, 0, buffer_);
        // On go, a user side that no longer holds the group is what the go wants.
        if (d_ == Direction::Remove &&
            (status == nw::ERR_NO_SUCH_VALUE || status == nw::ERR_NO_SUCH_ATTRIBUTE || status == -nw::ERR_NO_SUCH_ATTRIBUTE))
            status = 0;
        if (status != 0) {
            ShowNDSError(status, userSideText(d_, group_, user));
            return false;
        }
        return true;
    }

    // As many requests as the names need; a request holds as many values as fit its buffer.
    bool changeGroup(bool groupHadNoMembers) {
        uint32_t changeType = d_ == Direction::Remove ? nw::DS_REMOVE_VALUE
                              : groupHadNoMembers     ? nw::DS_ADD_ATTRIBUTE
                                                      : nw::DS_ADDITIONAL_VALUE;
        size_t next = 0;
        while (next < users_.size()) {
            nw::NWDSCCODE status = nw::NWDSInitBuf(context_, nw::DSV_MODIFY_ENTRY, buffer_);
            if (status == 0) status = nw::NWDSPutChange(context_, buffer_, changeType, "Member");
            size_t first = next;
            std::string reached = users_[next];
            while (status == 0 && next < users_.size()) {
                nw::NWDSCCODE put = nw::NWDSPutAttrVal(context_, buffer_, nw::SYN_DIST_NAME, users_[next].c_str());
                if (put == nw::ERR_BUFFER_FULL && next > first) break;  // the rest go in the next request
                if (put != 0) {
                    status = put;
                    reached = users_[next];
                    break;
                }
                reached = users_[next];
                ++next;
            }
            if (status == 0) {
                int32_t iteration = nw::NO_MORE_ITERATIONS;
                status = nw::NWDSModifyObject(context_, group_.c_str(), &iteration, 0, buffer_);
            }
            if (status != 0) {
                ShowNDSError(status, groupSideText(d_, group_, reached));
                return false;
            }
            if (changeType == nw::DS_ADD_ATTRIBUTE) changeType = nw::DS_ADDITIONAL_VALUE;
        }
        return true;
    }

    Direction d_;
    NameList& users_;
    const std::string& group_;
    nw::NWDSContextHandle context_;
    nw::Buf_T* buffer_ = nullptr;
    std::string groupFullName_;
};

}  // namespace

bool AddMultipleUsersToGroup(NameList& users, const std::string& group) {
    return MembershipChange(Direction::Add, users, group).run();
}

bool DeleteMultipleUsersFromGroup(NameList& users, const std::string& group) {
    return MembershipChange(Direction::Remove, users, group).run();
}

}  // namespace nwapi
