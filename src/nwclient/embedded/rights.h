// The operator's rights in the embedded tree.
//
// Directory rights come from ACL values (syntax 17) on the object and on every container above
// it. An ACL value names the protected attribute ("[Entry Rights]", "[All Attributes Rights]"
// or one attribute), the subject and the privileges. The operator holds the rights of every
// subject it is security-equivalent to: itself, the objects in its Security Equals, the
// containers above it, "[Root]" (anyone logged in) and "[Public]" (anyone). For each subject and
// protected attribute the assignment nearest to the object counts; one further up is replaced,
// not added. Attribute rights are inherited like entry rights, so a right granted on a class's
// container reaches every user in it.
//
// File-system rights come from trustee assignments per folder of a volume, inherited downwards
// and replaced by an assignment further down for the same trustee; supervisor over the tree's
// root gives every right on every volume.
#pragma once

#include "nwclient/backend.h"
#include "nwclient/embedded/tree_store.h"

#include <unordered_set>

namespace nw::embedded {

class Rights {
public:
    // op < 0: nobody is logged in; nothing may be changed.
    Rights(TreeStore& store, ObjectId op) : store_(store), op_(op) {}

    struct Effective {
        uint32_t entry = 0;       // [Entry Rights]
        uint32_t attribute = 0;   // the attribute's own and [All Attributes Rights], together
    };
    // Effective rights of the operator on an object and one of its attributes.
    Effective effective(ObjectId object, const std::string& attribute);

    // A change of one attribute needs write (or supervisor) on it or on all attributes, or
    // entry supervisor; the self right allows adding or removing the operator's own name.
    bool mayChange(ObjectId object, const AttrDef& def, const Change& change);
    // Write on the user's Security Equals and on the group's Member or Equivalent To Me, so
    // nobody makes a user equivalent to an object they have no say over.
    bool mayChangeEquivalence(ObjectId user, ObjectId group);

    // NetWare rights bits on a folder or file of a volume.
    uint16_t fileRights(const std::string& volume, const std::string& directoryPath);

private:
    std::unordered_set<ObjectId> subjects();
    bool subjectApplies(const TreeStore::AclEntry& e, const std::unordered_set<ObjectId>& subjects, ObjectId object);

    TreeStore& store_;
    ObjectId op_;
};

}  // namespace nw::embedded
