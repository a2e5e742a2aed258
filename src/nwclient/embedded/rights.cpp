#include "nwclient/embedded/rights.h"

#include <set>
#include <utility>

namespace nw::embedded {

namespace {
constexpr uint16_t ALL_FILE_RIGHTS = 0x1FB;
constexpr uint16_t FILE_SUPERVISOR = 0x100;
}  // namespace

std::unordered_set<ObjectId> Rights::subjects() {
    std::unordered_set<ObjectId> ids;
    if (op_ < 0) return ids;
    ids.insert(op_);
    for (ObjectId id : store_.references(op_, "Security Equals")) ids.insert(id);
    for (ObjectId id : store_.ancestors(op_))
        if (id != ROOT_ID) ids.insert(id);
    return ids;
}

bool Rights::subjectApplies(const TreeStore::AclEntry& e, const std::unordered_set<ObjectId>& subjects,
                            ObjectId object) {
    if (e.subject >= 0) return subjects.count(e.subject) != 0;
    std::string name = foldName(e.subjectName);
    if (name == "[public]") return true;
    if (op_ < 0) return false;
    if (name == "[root]") return true;
    if (name == "[self]") return object == op_;
    return false;
}

Rights::Effective Rights::effective(ObjectId object, const std::string& attribute) {
    Effective result;
    const std::unordered_set<ObjectId> ids = subjects();
    const std::string attributeKey = foldName(attribute);
    // (kind, subject) pairs already settled by an assignment nearer to the object.
    std::set<std::pair<int, std::string>> settled;
    ObjectRow row;
    if (object < 0 || !store_.object(object, row)) return result;
    std::vector<ObjectId> chain = store_.ancestors(object);
    chain.insert(chain.begin(), object);
    for (ObjectId id : chain) {
        for (const TreeStore::AclEntry& e : store_.acl(id)) {
            std::string p = foldName(e.protectedAttribute);
            int kind = p == "[entry rights]" ? 0 : p == "[all attributes rights]" ? 1 : p == attributeKey ? 2 : -1;
            if (kind < 0 || !subjectApplies(e, ids, object)) continue;
            std::string subjectKey = e.subject >= 0 ? std::to_string(e.subject) : foldName(e.subjectName);
            if (!settled.insert({kind, subjectKey}).second) continue;
            (kind == 0 ? result.entry : result.attribute) |= e.privileges;
        }
    }
    return result;
}

bool Rights::mayChange(ObjectId object, const AttrDef& def, const Change& change) {
    if (op_ < 0) return false;
    Effective e = effective(object, def.name);
    if (e.entry & DS_ENTRY_SUPERVISOR) return true;
    if (e.attribute & (DS_ATTR_WRITE | DS_ATTR_SUPERVISOR)) return true;
    if ((e.attribute & DS_ATTR_SELF) && def.syntax == SYN_DIST_NAME && !change.values.empty() &&
        change.type != DS_REMOVE_ATTRIBUTE) {
        for (const AttrValue& v : change.values) {
            ObjectId id;
            if (store_.resolveFullName(v.text, id) != 0 || id != op_) return false;
        }
        return true;
    }
    return false;
}

bool Rights::mayChangeEquivalence(ObjectId user, ObjectId group) {
    if (op_ < 0) return false;
    auto writes = [&](ObjectId object, const char* attribute) {
        Effective e = effective(object, attribute);
        return (e.entry & DS_ENTRY_SUPERVISOR) || (e.attribute & (DS_ATTR_WRITE | DS_ATTR_SUPERVISOR));
    };
    return writes(user, "Security Equals") && (writes(group, "Member") || writes(group, "Equivalent To Me"));
}

uint16_t Rights::fileRights(const std::string& volume, const std::string& directoryPath) {
    if (op_ < 0) return 0;
    if (effective(ROOT_ID, "").entry & DS_ENTRY_SUPERVISOR) return ALL_FILE_RIGHTS;
    const std::unordered_set<ObjectId> ids = subjects();
    // Walk from the volume's root down the path; a trustee's assignment further down replaces
    // the one it inherited.
    std::unordered_map<ObjectId, uint32_t> current;
    std::string key = TreeStore::pathKey(directoryPath);
    size_t pos = 0;
    std::string prefix;
    for (;;) {
        for (auto& [object, rights] : store_.trustees(volume, prefix))
            if (ids.count(object)) current[object] = rights;
        if (pos >= key.size()) break;
        size_t slash = key.find('/', pos);
        if (slash == std::string::npos) slash = key.size();
        prefix = key.substr(0, slash);
        pos = slash + 1;
    }
    uint32_t rights = 0;
    for (auto& [object, r] : current) rights |= r;
    if (rights & FILE_SUPERVISOR) return ALL_FILE_RIGHTS;
    return uint16_t(rights & ALL_FILE_RIGHTS);
}

}  // namespace nw::embedded
