// Group membership on all three sides: the group's Member, each user's Group Membership and each
// user's security equivalence to the group. Users first (one batch of the client), the group last.
#include "nwapi/client_config.h"
#include "nwapi/names.h"
#include "nwapi/nwapi.h"

#include <cstring>
#include <algorithm>
#include <deque>
#include <map>
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

// The group's request carries the users' Equivalent To Me with their Member values, so a refusal
// may be about either: the text names both where the directory keeps both.
std::string groupSideText(Direction d, const std::string& group, const std::string& user, bool withEquivalence) {
    const std::string places = withEquivalence ? "Member/Equivalent To Me of " : "Member of ";
    if (d == Direction::Add) return "AddMultipleUsersToGroup (" + std::string("[") + user + "]" + " " + places + group + ")";
    return " DeleteMultipleUsersFromGroup (" + std::string("[") + user + "]" + places + group + ")";
}

std::string withoutLeadingDot(const std::string& name) { return (!name.empty() && name[0] == '.') ? name.substr(1) : name; }

std::string nameKey(const std::string& name) { return text::localeSortKey(withoutLeadingDot(name)); }

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

// Add: each member takes out the first occurrence of its name from the user list, if whole(member)
// says all its places are there.
void dropMembers(NameList& users, const NameList& members, const std::function<bool(const std::string&)>& whole) {
    std::unordered_map<std::string, std::vector<size_t>> positions;  // key -> indices, descending
    positions.reserve(users.size());
    for (size_t i = users.size(); i-- > 0;) positions[text::localeSortKey(users[i])].push_back(i);
    std::vector<bool> drop(users.size(), false);
    for (const std::string& member : members) {
        auto it = positions.find(text::localeSortKey(member));
        if (it == positions.end() || it->second.empty()) continue;
        drop[it->second.back()] = whole(member);
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


// The group's side goes out in requests of at most this many values, in the largest request
// buffer a client allows: every request on the group makes the server write the whole group
// again, and a 4096-byte buffer holds only some 60 names (a go of 50,000 pupils took 770
// requests on a group of 50,000 members). Half of the thousand values an LDAP request carries:
// the other half is the same users' Equivalent To Me, which goes with their Member values.
constexpr size_t MOST_VALUES_PER_REQUEST = 500;
constexpr size_t GROUP_REQUEST_BYTES = nw::MAX_MESSAGE_LEN;
// Rounds of re-reading the group and sending what is still missing (or still there) when another
// change to the group came in between; more only under a storm of concurrent changes.
constexpr int GROUP_RETRIES = 5;

class MembershipChange {
public:
    // known: the group's Member values as this request read them a moment ago, or null to read them.
    MembershipChange(Direction direction, NameList& users, const std::string& group, const MembershipProgress& progress,
                     MembershipOutcome& outcome, const NameList* known = nullptr)
        : d_(direction), users_(users), group_(group), context_(layer().context), progress_(progress), out_(outcome),
          known_(known) {}

    bool run() {
        // The empty name stands for the name context itself (the tree root when called as
        // usual): it would make the root a member, or read and change the wrong object.
        if (group_.empty()) {
            report(nw::ERR_INVALID_DS_NAME, userSideText(d_, group_, users_.empty() ? "" : users_.front()));
            return false;
        }
        NameList members;
        bool read = true;
        if (known_) members = *known_;
        else read = GetAttributeMultiValueStringList(context_, group_, "Member", members);
        out_.groupRead = read;
        if (!read) {
            out_.firstFailure = layer().lastNDSError;
            out_.failedOperation = "GetAttributeMultiValueStringList (Member)";
        }
        if (read && !users_.empty()) {
            dropRepeatedNames(users_);
            if (d_ == Direction::Add) {
                if (!members.empty()) dropMembers(users_, members, [this](const std::string& user) { return whole(user); });
            } else {
                keepMembers(users_, members);
            }
        }
        // Past the filter only whether the group had members counts: a big group's names go.
        const bool hadMembers = !members.empty();
        NameList().swap(members);
        if (users_.empty() || !read) return read;
        out_.toChange = users_.size();
        if (!namesFit()) return false;

        // The users' own side, all in one batch (pipelined where the backend can).
        std::vector<char> ownSideDone(users_.size(), 0);
        size_t answered = 0, failedIndex = users_.size(), unconfirmedUsers = 0;
        nw::NWDSCCODE firstAnswerFailure = 0;
        bool cancelled = false;
        if (progress_.progress) progress_.progress(0, users_.size());
        auto answer = [&](size_t i, nw::NWDSCCODE status) {
            if (i >= users_.size()) return;
            ++answered;
            if (status == 0) {
                ownSideDone[i] = 1;
            } else {
                // Sent without an answer (none in time, or the connection ended first): whether
                // the server made the change is unknown.
                if (status == nw::ERR_TIME_OUT || status == nw::ERR_TRANSPORT_FAILURE) ++unconfirmedUsers;
                if (firstAnswerFailure == 0) {
                    firstAnswerFailure = status;
                    failedIndex = i;
                }
            }
            if (progress_.progress) progress_.progress(answered, users_.size());
        };
        auto cancel = [&] {
            if (!cancelled && progress_.cancel && progress_.cancel()) cancelled = true;
            return cancelled;
        };
        // A directory that keeps nothing on the user (AD) has no own side to change.
        nw::NWDSCCODE status = 0;
        if (places_ & (nw::PLACE_GROUP_MEMBERSHIP | nw::PLACE_SECURITY_EQUALS))
            status = nw::NWDSChangeUserSidesOfGroup(context_, group_.c_str(), d_ == Direction::Add, users_, answer, cancel);
        else
            for (size_t i = 0; i < users_.size() && !cancel(); ++i) answer(i, 0);  // a cancel still holds between users
        if (status != 0) {
            // The status of an answer names its user; one that came before any answer (the
            // group itself) is given with the first user.
            const size_t who = failedIndex < users_.size() ? failedIndex : 0;
            report(status, userSideText(d_, group_, users_[who]));
        }
        const bool timedOut = status == nw::ERR_TIME_OUT || firstAnswerFailure == nw::ERR_TIME_OUT;
        out_.cancelled = cancelled && answered < users_.size();

        // Usually everyone's own side is done: then the list is not copied.
        NameList partly;
        const bool allDone = std::all_of(ownSideDone.begin(), ownSideDone.end(), [](char d) { return d != 0; });
        if (!allDone)
            for (size_t i = 0; i < users_.size(); ++i)
                if (ownSideDone[i]) partly.push_back(users_[i]);
        const NameList& done = allDone ? users_ : partly;

        if (timedOut) {
            // Whether the server applied what it did not answer is unknown: nothing is undone and
            // nothing more is sent to a server that does not answer. A rerun completes it.
            out_.timedOut = true;
            out_.halfDone = done.size() + unconfirmedUsers;
            return false;
        }

        // Whoever got their own side gets the group's side too, also after a failure or a cancel,
        // so that nobody is left with half a membership.
        size_t groupDone = 0;
        const bool groupOk = done.empty() || changeGroup(done, !hadMembers, groupDone, answered);
        out_.changed = groupDone;
        // Without an own side on the user, one whose Member change failed is simply unchanged.
        const bool userSideKept = places_ & (nw::PLACE_GROUP_MEMBERSHIP | nw::PLACE_SECURITY_EQUALS);
        out_.halfDone = userSideKept ? done.size() - groupDone + unconfirmedUsers : 0;
        return status == 0 && groupOk && !out_.cancelled;
    }

private:
    // A member counts as stopped only when all four places say so: one left with Member alone
    // (another operator's repair in the middle of a stop, a tool) is completed by pressing again.
    // The group's Equivalent To Me is read once, and only when a user is a member already; the
    // users' own values come with their listing or search where the backend can.
    bool whole(const std::string& member) {
        if (!(places_ & nw::PLACE_EQUIVALENT_TO_ME)) return userSideWhole(member);
        if (!equivalentsRead_) {
            equivalentsRead_ = true;
            NameList equivalents;
            GetAttributeMultiValueStringList(context_, group_, "Equivalent To Me", equivalents);
            for (const std::string& e : equivalents) equivalentKeys_.insert(nameKey(e));
        }
        if (!equivalentKeys_.count(nameKey(member))) return false;
        return userSideWhole(member);
    }

    // The user's own places that the directory keeps name the group.
    bool userSideWhole(const std::string& member) {
        const std::string groupKey = nameKey(group_);
        NameList values;
        for (const char* attribute : {"Group Membership", "Security Equals"}) {
            const uint32_t place = attribute[0] == 'G' ? nw::PLACE_GROUP_MEMBERSHIP : nw::PLACE_SECURITY_EQUALS;
            if (!(places_ & place)) continue;
            values.clear();
            if (!GetAttributeMultiValueStringList(context_, "." + withoutLeadingDot(member), attribute, values)) return false;
            if (std::none_of(values.begin(), values.end(), [&](const std::string& v) { return nameKey(v) == groupKey; }))
                return false;
        }
        return true;
    }

    // The operator sees the first failure of a change; a later one (the group's side after a
    // server went away) only counts in the outcome.
    void report(nw::NWDSCCODE status, const std::string& operation) {
        if (out_.firstFailure == 0) ShowNDSError(status, operation);
        if (out_.firstFailure == 0) {
            out_.firstFailure = status;
            out_.failedOperation = operation;
        }
        if (status == nw::ERR_TIME_OUT) out_.timedOut = true;
    }

    bool namesFit() {
        if (group_.size() > LONGEST_NAME_BYTES) {
            report(nw::ERR_DN_TOO_LONG, userSideText(d_, group_, users_.front()));
            return false;
        }
        for (const std::string& user : users_) {
            if (user.empty() || user.size() > LONGEST_NAME_BYTES) {
                report(user.empty() ? nw::ERR_INVALID_DS_NAME : nw::ERR_DN_TOO_LONG, userSideText(d_, group_, user));
                return false;
            }
        }
        return true;
    }

    // One request on the group's Member with these values. put stops at the first value that
    // does not fit; sent tells how many went in.
    nw::NWDSCCODE sendGroupRequest(uint32_t changeType, const NameList& values, size_t first, size_t& sent,
                                   std::string& reached) {
        sent = 0;
        nw::NWDSCCODE status = nw::NWDSInitBuf(context_, nw::DSV_MODIFY_ENTRY, buffer_);
        if (status == 0) status = nw::NWDSPutChange(context_, buffer_, changeType, "Member");
        reached = values[first];
        while (status == 0 && first + sent < values.size() && sent < MOST_VALUES_PER_REQUEST) {
            const std::string& value = values[first + sent];
            nw::NWDSCCODE put = nw::NWDSPutAttrVal(context_, buffer_, nw::SYN_DIST_NAME, value.c_str());
            if (put == nw::ERR_BUFFER_FULL && sent > 0) break;  // the rest go in the next request
            reached = value;
            if (put != 0) return put;
            ++sent;
        }
        if (status != 0) return status;
        int32_t iteration = nw::NO_MORE_ITERATIONS;
        return nw::NWDSModifyObject(context_, group_.c_str(), &iteration, 0, buffer_);
    }

    // Of values, those the group's Member holds now (wanted = true) or does not hold.
    bool rereadAndFilter(NameList& values, bool keepMembers) {
        NameList members;
        if (!GetAttributeMultiValueStringList(context_, group_, "Member", members)) return false;
        std::unordered_set<std::string> keys;
        keys.reserve(members.size());
        for (const std::string& member : members) keys.insert(nameKey(member));
        NameList kept;
        for (std::string& value : values)
            if ((keys.count(nameKey(value)) != 0) == keepMembers)
                kept.push_back(std::move(value));
        values = std::move(kept);
        return true;
    }

    // After a conflict with another change of the group in between (a teacher's stop at the same
    // moment, a go that emptied the group), sends again what is still missing or still there.
    // rest: the values of the request that failed with status.
    nw::NWDSCCODE resendAfterConflict(NameList rest, uint32_t& changeType, nw::NWDSCCODE status, std::string& reached) {
        for (int round = 0; round < GROUP_RETRIES; ++round) {
            if (d_ == Direction::Add && status == nw::ERR_ATTRIBUTE_ALREADY_EXISTS) {
                changeType = nw::DS_ADDITIONAL_VALUE;
            } else if (d_ == Direction::Add && status == nw::ERR_NO_SUCH_ATTRIBUTE) {
                changeType = nw::DS_ADD_ATTRIBUTE;
            } else if (d_ == Direction::Add && status == nw::ERR_DUPLICATE_VALUE) {
                if (!rereadAndFilter(rest, false)) return status;
                changeType = nw::DS_ADDITIONAL_VALUE;
            } else if (d_ == Direction::Remove && status == nw::ERR_NO_SUCH_ATTRIBUTE) {
                return nw::SUCCESSFUL;  // emptied meanwhile: nothing left to remove
            } else if (d_ == Direction::Remove && status == nw::ERR_NO_SUCH_VALUE) {
                if (!rereadAndFilter(rest, true)) return status;
            } else {
                return status;
            }
            size_t pos = 0;
            status = nw::SUCCESSFUL;
            while (pos < rest.size()) {
                size_t sent = 0;
                status = sendGroupRequest(changeType, rest, pos, sent, reached);
                if (status != 0) break;
                pos += sent;
                if (changeType == nw::DS_ADD_ATTRIBUTE) changeType = nw::DS_ADDITIONAL_VALUE;
            }
            if (status == 0) return status;
            rest.erase(rest.begin(), rest.begin() + long(pos));
        }
        return status;
    }

    // The group's Member for the users whose own side is done, in as many requests as they need.
    // No request relies on what the group looked like when it was read. done counts the users
    // that are now on the group side.
    // answered: the users' count the progress stood at, given again between the requests, so a
    // window keeps painting while a big group is written (a request can take tens of ms).
    bool changeGroup(const NameList& users, bool groupReadEmpty, size_t& done, size_t answered) {
        done = 0;
        nw::NWDSCCODE status = nw::NWDSAllocBuf(GROUP_REQUEST_BYTES, &layer().modifyBuffer);
        if (status != 0) {
            layer().modifyBuffer = nullptr;
            report(status, groupSideText(d_, group_, users.front(), places_ & nw::PLACE_EQUIVALENT_TO_ME));
            return false;
        }
        buffer_ = layer().modifyBuffer;
        uint32_t changeType = d_ == Direction::Remove ? nw::DS_REMOVE_VALUE
                              : groupReadEmpty        ? nw::DS_ADD_ATTRIBUTE
                                                      : nw::DS_ADDITIONAL_VALUE;
        // A go takes the values a request's worth at a time from the back: a server that keeps
        // them sorted (OpenLDAP with sortvals) shifts every value behind each one removed, so
        // removing from the front of a 50,000-member group costs it a second per thousand names.
        std::vector<std::pair<size_t, size_t>> blocks;
        for (size_t begin = 0; begin < users.size(); begin += MOST_VALUES_PER_REQUEST)
            blocks.emplace_back(begin, std::min(users.size(), begin + MOST_VALUES_PER_REQUEST));
        if (d_ == Direction::Remove) std::reverse(blocks.begin(), blocks.end());
        bool ok = true;
        for (const auto& [begin, end] : blocks) {
            const NameList block(users.begin() + long(begin), users.begin() + long(end));
            size_t next = 0;
            while (ok && next < block.size()) {
                if (done > 0 && progress_.progress) progress_.progress(answered, users_.size());
                size_t sent = 0;
                std::string reached;
                status = sendGroupRequest(changeType, block, next, sent, reached);
                if (status != 0 && sent > 0)
                    status = resendAfterConflict(NameList(block.begin() + long(next), block.begin() + long(next + sent)),
                                                 changeType, status, reached);
                if (status != 0) {
                    report(status, groupSideText(d_, group_, reached, places_ & nw::PLACE_EQUIVALENT_TO_ME));
                    ok = false;
                    break;
                }
                next += sent;
                done += sent;
                if (changeType == nw::DS_ADD_ATTRIBUTE) changeType = nw::DS_ADDITIONAL_VALUE;
            }
            if (!ok) break;
        }
        nw::NWDSFreeBuf(buffer_);
        layer().modifyBuffer = nullptr;
        buffer_ = nullptr;
        return ok;
    }

    Direction d_;
    NameList& users_;
    const std::string& group_;
    nw::NWDSContextHandle context_;
    const MembershipProgress& progress_;
    MembershipOutcome& out_;
    const NameList* known_;
    nw::Buf_T* buffer_ = nullptr;
    bool equivalentsRead_ = false;
    const uint32_t places_ = nw::NWDSMembershipPlaces();
    std::unordered_set<std::string> equivalentKeys_;
};

// A directory that keeps a membership in the group's Member alone nests groups (AD).
bool nestsGroups() { return nw::NWDSMembershipPlaces() == nw::PLACE_MEMBER; }

// The Member values of one group; the reader strips a trailing separator as GetGroupMembers does.
// raw, if given, keeps them as read.
bool readMemberValues(const std::string& group, NameList& values, NameList* raw = nullptr) {
    if (!raw) {
        int32_t error = 0;
        GetGroupMembers(group, values, error);
        return error == 0;
    }
    values.clear();
    if (!GetAttributeMultiValueStringList(layer().context, group, "Member", *raw)) {
        raw->clear();
        return false;
    }
    values = *raw;
    for (std::string& member : values) {
        // A dot behind an odd number of backslashes is part of the name.
        size_t backslashes = 0;
        while (member.size() > backslashes + 1 && member[member.size() - 2 - backslashes] == '\\') ++backslashes;
        if (!member.empty() && member.back() == '.' && backslashes % 2 == 0) member.pop_back();
    }
    return true;
}

// candidate is one of group's class groups: beside it, named group's name + "_" + something.
bool isClassGroupOf(const std::string& candidate, const std::string& group) {
    const std::vector<std::string> c = NameComponents(StripRootSpelling(candidate));
    const std::vector<std::string> g = NameComponents(StripRootSpelling(group));
    if (c.size() != g.size() || c.empty()) return false;
    for (size_t i = 1; i < c.size(); ++i)
        if (text::foldCaseLocale(c[i]) != text::foldCaseLocale(g[i])) return false;
    const std::string prefix = text::foldCaseLocale(g[0] + "_");
    const std::string name = text::foldCaseLocale(c[0]);
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0;
}

// As ReadGroupMembers; direct, if given, keeps the group's own Member values as read.
bool readGroupMembers(const std::string& group, std::vector<GroupMember>& members, NameList* direct) {
    members.clear();
    NameList own;
    if (!readMemberValues(group, own, direct)) return false;
    if (!nestsGroups()) {
        for (std::string& value : own) members.push_back({std::move(value), {}, false, false});
        return true;
    }
    // Which values are groups: one search for the groups of the tree, not a read per member.
    NameList groups;
    if (!SearchObjects("[root]", groups, "Group")) return false;
    std::unordered_set<std::string> groupKeys, seen, visited{nameKey(group)};
    for (const std::string& g : groups) groupKeys.insert(nameKey(g));
    const bool classGroups = ClassGroupsEnabled();
    std::deque<std::pair<std::string, bool>> nested;  // a group still to read, and whether a class group
    for (std::string& value : own) {
        const std::string k = nameKey(value);
        GroupMember m{std::move(value), {}, false, false};
        m.isGroup = groupKeys.count(k) > 0;
        m.classGroup = m.isGroup && classGroups && isClassGroupOf(m.name, group);
        if (m.isGroup && visited.insert(k).second) nested.emplace_back(m.name, m.classGroup);
        if (seen.insert(k).second) members.push_back(std::move(m));
    }
    while (!nested.empty()) {
        const auto [holder, classGroup] = nested.front();
        nested.pop_front();
        NameList values;
        if (!readMemberValues("." + withoutLeadingDot(holder), values)) return false;
        for (std::string& value : values) {
            const std::string k = nameKey(value);
            if (groupKeys.count(k)) {
                if (visited.insert(k).second) nested.emplace_back(value, false);
            } else if (seen.insert(k).second) {
                members.push_back({std::move(value), holder, classGroup, false});
            }
        }
    }
    return true;
}

// A stop or go on a directory that nests groups: the users already stopped through a group count
// as stopped; with class groups each user goes into (or out of) the group that holds him; a go of
// a user held by another group changes nothing and says which group.
bool changeNested(Direction d, NameList& users, const std::string& group, const MembershipProgress& progress,
                  MembershipOutcome& out) {
    std::vector<GroupMember> members;
    NameList direct;  // the group's own values, as its change would read them again
    if (!readGroupMembers(group, members, &direct)) {
        out.groupRead = false;
        out.firstFailure = layer().lastNDSError;
        out.failedOperation = "GetAttributeMultiValueStringList (Member)";
        return false;
    }
    dropRepeatedNames(users);
    const bool classGroups = ClassGroupsEnabled();
    std::unordered_map<std::string, const GroupMember*> held;
    std::unordered_set<std::string> nestedClassGroups;
    for (const GroupMember& m : members) {
        if (!m.isGroup) held.emplace(nameKey(m.name), &m);
        else if (m.classGroup) nestedClassGroups.insert(nameKey(m.name));
    }
    // Target group -> its users, in the order the targets first come.
    std::vector<std::pair<std::string, NameList>> targets;
    std::unordered_map<std::string, size_t> targetIndex;
    for (std::string& user : users) {
        const auto it = held.find(nameKey(user));
        std::string target = group;
        if (d == Direction::Add) {
            if (it != held.end()) continue;
            if (classGroups) target = ClassGroupOf(group, user);
        } else {
            if (it == held.end()) continue;
            const GroupMember& m = *it->second;
            if (!m.via.empty() && !m.classGroup) {
                out.throughGroups.emplace_back(user, m.via);
                continue;
            }
            if (!m.via.empty()) target = m.via;
        }
        auto [slot, fresh] = targetIndex.emplace(nameKey(target), targets.size());
        if (fresh) targets.emplace_back(target, NameList{});
        targets[slot->second].second.push_back(std::move(user));
    }
    users.clear();
    for (const auto& [target, list] : targets) users.insert(users.end(), list.begin(), list.end());
    out.toChange = users.size() + out.throughGroups.size();
    // A class group that is missing or not nested in the group would leave its users browsing:
    // nothing is changed, and nothing is created here (tarvel-ctl acl --ad prints the commands).
    if (classGroups && d == Direction::Add) {
        for (const auto& [target, list] : targets) {
            if (nestedClassGroups.count(nameKey(target))) continue;
            const bool exists = !target.empty() && ObjektExistiert("." + withoutLeadingDot(target));
            const std::string what =
                target.empty() ? "Für " + list.front() + " gibt es keine Klassengruppe (ClassGroups=yes): er steht in keinem Container."
                : exists ? "Die Klassengruppe " + target + " ist nicht Mitglied der Gruppe " + group +
                               " (ClassGroups=yes): ihre Mitglieder wären nicht gesperrt. Nichts wurde geändert."
                         : "Die Klassengruppe " + target + " fehlt (ClassGroups=yes). Nichts wurde geändert; "
                           "tarvel-ctl acl --ad zeigt, wie sie angelegt wird.";
            const int32_t status = exists ? nw::ERR_NO_SUCH_VALUE : nw::ERR_NO_SUCH_ENTRY;
            ShowNDSError(status, what);
            out.firstFailure = status;
            out.failedOperation = what;
            return false;
        }
    }
    bool ok = true;
    size_t offset = 0;
    const size_t total = users.size();
    for (auto& [target, list] : targets) {
        MembershipOutcome sub;
        sub.firstFailure = out.firstFailure;  // only the first failure is shown
        MembershipProgress step{nullptr, progress.cancel};
        if (progress.progress)
            step.progress = [&, offset](size_t done, size_t) { progress.progress(offset + done, total); };
        const size_t count = list.size();
        // The group itself was read just now in this request; a class group is read by its change.
        const bool stepOk = MembershipChange(d, list, target, step, sub, target == group ? &direct : nullptr).run();
        ok = ok && stepOk;
        out.changed += sub.changed;
        out.halfDone += sub.halfDone;
        if (out.firstFailure == 0 && sub.firstFailure != 0) {
            out.firstFailure = sub.firstFailure;
            out.failedOperation = sub.failedOperation;
        }
        out.timedOut = out.timedOut || sub.timedOut;
        out.cancelled = out.cancelled || sub.cancelled;
        offset += count;
        if (sub.timedOut || sub.cancelled) break;
    }
    return ok && out.throughGroups.empty() && !out.cancelled;
}

bool change(Direction d, NameList& users, const std::string& group, const MembershipProgress& progress,
            MembershipOutcome* outcome) {
    MembershipOutcome local;
    MembershipOutcome& out = outcome ? *outcome : local;
    if (!group.empty() && nestsGroups()) return changeNested(d, users, group, progress, out);
    return MembershipChange(d, users, group, progress, out).run();
}

}  // namespace

bool ClassGroupsEnabled() {
    if (!nestsGroups()) return false;
    ClientConfiguration config;
    if (!ReadClientConfiguration(config)) return false;
    const auto it = config.values.find("classgroups");
    return it != config.values.end() && text::equalsAsciiNoCase(it->second, "yes");
}

std::string ClassGroupOf(const std::string& group, const std::string& user) {
    const std::vector<std::string> u = NameComponents(StripRootSpelling(user));
    std::vector<std::string> g = NameComponents(StripRootSpelling(group));
    if (u.size() < 2 || g.empty()) return {};
    g[0] += "_" + u[1];
    return JoinRootFirst(std::vector<std::string>(g.rbegin(), g.rend()));
}

bool ReadGroupMembers(const std::string& group, std::vector<GroupMember>& members) {
    return readGroupMembers(group, members, nullptr);
}

bool AddMultipleUsersToGroup(NameList& users, const std::string& group) {
    return AddMultipleUsersToGroup(users, group, MembershipProgress{});
}

bool DeleteMultipleUsersFromGroup(NameList& users, const std::string& group) {
    return DeleteMultipleUsersFromGroup(users, group, MembershipProgress{});
}

bool AddMultipleUsersToGroup(NameList& users, const std::string& group, const MembershipProgress& progress,
                             MembershipOutcome* outcome) {
    return change(Direction::Add, users, group, progress, outcome);
}

bool DeleteMultipleUsersFromGroup(NameList& users, const std::string& group, const MembershipProgress& progress,
                                  MembershipOutcome* outcome) {
    return change(Direction::Remove, users, group, progress, outcome);
}

}  // namespace nwapi
