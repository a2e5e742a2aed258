// The batch operations for a backend that has no better way: one request after the other.
#include "nwclient/backend.h"
#include "nwclient/nwclient.h"

namespace nw {

void DirectoryBackend::resolveMany(const std::vector<std::vector<std::string>>& namesFromRoot,
                                   std::vector<ObjectId>& ids, std::vector<NWDSCCODE>& statuses) {
    ids.assign(namesFromRoot.size(), ROOT_ID);
    statuses.assign(namesFromRoot.size(), SUCCESSFUL);
    for (size_t i = 0; i < namesFromRoot.size(); ++i) statuses[i] = resolve(namesFromRoot[i], ids[i]);
}

NWDSCCODE DirectoryBackend::fullNameOf(ObjectId id, std::string& fullName) {
    ObjectSummary summary;
    return describe(id, fullName, summary);
}

namespace {

// Group Membership of one user, tolerant of what a broken-off or concurrent run already did.
NWDSCCODE changeGroupMembership(DirectoryBackend& backend, ObjectId user, const std::string& groupName, bool add) {
    AttrValue value;
    value.text = groupName;
    Change change{add ? DS_ADDITIONAL_VALUE : DS_REMOVE_VALUE, "Group Membership", SYN_DIST_NAME, {value}};
    NWDSCCODE rc = backend.modify(user, {change});
    if (add && rc == ERR_NO_SUCH_ATTRIBUTE) {
        change.type = DS_ADD_ATTRIBUTE;
        rc = backend.modify(user, {change});
        if (rc == ERR_ATTRIBUTE_ALREADY_EXISTS) {  // someone gave it a first value meanwhile
            change.type = DS_ADDITIONAL_VALUE;
            rc = backend.modify(user, {change});
        }
    }
    if (add && rc == ERR_DUPLICATE_VALUE) return SUCCESSFUL;
    if (!add && (rc == ERR_NO_SUCH_VALUE || rc == ERR_NO_SUCH_ATTRIBUTE)) return SUCCESSFUL;
    return rc;
}

}  // namespace

NWDSCCODE DirectoryBackend::changeUserSides(ObjectId group, bool add, const std::vector<ObjectId>& users,
                                            const BatchAnswer& answer, const BatchCancel& cancel) {
    std::string groupName;
    ObjectSummary summary;
    if (NWDSCCODE rc = describe(group, groupName, summary)) return rc;
    for (size_t i = 0; i < users.size(); ++i) {
        if (cancel && cancel()) break;
        // The equivalence first: a backend may queue its user side until the user's next
        // change, which the Group Membership request then is.
        NWDSCCODE rc = add ? addSecurityEquivalence(users[i], group) : removeSecurityEquivalence(users[i], group);
        if (rc == (add ? ERR_DUPLICATE_VALUE : ERR_NO_SUCH_VALUE)) rc = SUCCESSFUL;
        if (rc == SUCCESSFUL) rc = changeGroupMembership(*this, users[i], groupName, add);
        if (answer) answer(i, rc);
        if (rc != SUCCESSFUL) return rc;
    }
    return SUCCESSFUL;
}

NWDSCCODE DirectoryBackend::changeMembers(ObjectId group, bool add, const std::vector<ObjectId>& users,
                                          const BatchAnswer& answer, const BatchCancel& cancel) {
    for (size_t i = 0; i < users.size(); ++i) {
        if (cancel && cancel()) break;
        std::string userName;
        NWDSCCODE rc = fullNameOf(users[i], userName);
        AttrValue value;
        value.text = userName;
        if (rc == SUCCESSFUL)
            rc = modify(group, {Change{add ? DS_ADDITIONAL_VALUE : DS_REMOVE_VALUE, "Member", SYN_DIST_NAME, {value}}});
        if (rc == (add ? ERR_DUPLICATE_VALUE : ERR_NO_SUCH_VALUE) || (!add && rc == ERR_NO_SUCH_ATTRIBUTE)) rc = SUCCESSFUL;
        if (add && rc == ERR_NO_SUCH_ATTRIBUTE)
            rc = modify(group, {Change{DS_ADD_ATTRIBUTE, "Member", SYN_DIST_NAME, {value}}});
        if (answer) answer(i, rc);
        if (rc != SUCCESSFUL) return rc;
    }
    return SUCCESSFUL;
}

}  // namespace nw
