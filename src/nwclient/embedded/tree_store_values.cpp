#include "nwclient/embedded/tree_store.h"

#include "nwclient/nwclient.h"
#include "platform/text.h"

#include <algorithm>

namespace nw::embedded {

namespace {

constexpr char kListSeparator = '\x1F';

// Key of a byte string for value equality: the bytes themselves while short, else length and a
// 64-bit hash (streams of many kilobytes would otherwise bloat the index).
std::string bytesKey(std::string_view bytes) {
    if (bytes.size() <= 512) return text::toHexUpper(bytes);
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return "#" + std::to_string(bytes.size()) + ":" + std::to_string(h);
}

bool namesObject(uint32_t syntax) {
    return syntax == SYN_DIST_NAME || syntax == SYN_OBJECT_ACL || syntax == SYN_BACK_LINK ||
           syntax == SYN_TYPED_NAME || syntax == SYN_HOLD;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Values

struct TreeStore::Row {
    bool hasRef = false;
    ObjectId ref = 0;
    std::string text, text2, list, bytes, key;
    int64_t number = 0, number2 = 0;
};

NWDSCCODE TreeStore::toRow(const AttrDef& def, const AttrValue& v, Row& row) {
    row = Row();
    row.text = v.text;
    row.text2 = v.text2;
    row.bytes = v.bytes;
    row.number = v.number;
    row.number2 = v.number2;
    for (size_t i = 0; i < v.list.size(); ++i) {
        if (i) row.list += kListSeparator;
        row.list += v.list[i];
    }
    const uint32_t syntax = def.syntax;
    if (namesObject(syntax)) {
        std::string& named = syntax == SYN_OBJECT_ACL ? row.text2 : row.text;
        bool special = syntax == SYN_OBJECT_ACL && !named.empty() && named.front() == '[';
        if (!special) {
            ObjectId id;
            NWDSCCODE st = resolveFullName(named, id);
            if (st == ERR_INVALID_DS_NAME) return ERR_INVALID_DS_NAME;
            if (st != 0) return ERR_NO_SUCH_ENTRY;
            row.hasRef = true;
            row.ref = id;
            named.clear();
        }
    }
    std::string refKey = row.hasRef ? "#" + std::to_string(row.ref) : std::string();
    switch (syntax) {
    case SYN_DIST_NAME: row.key = refKey; break;
    case SYN_CE_STRING: case SYN_PR_STRING: case SYN_NU_STRING: row.key = row.text; break;
    case SYN_CI_STRING: case SYN_TEL_NUMBER: case SYN_CLASS_NAME: row.key = foldName(row.text); break;
    case SYN_CI_LIST: row.key = foldName(row.list); break;
    case SYN_BOOLEAN: case SYN_INTEGER: case SYN_COUNTER: case SYN_TIME: case SYN_INTERVAL:
        row.key = std::to_string(row.number);
        break;
    case SYN_OBJECT_ACL:
        row.key = foldName(row.text) + kListSeparator + (row.hasRef ? refKey : foldName(row.text2)) + kListSeparator +
                  std::to_string(uint32_t(row.number));
        break;
    case SYN_BACK_LINK: case SYN_HOLD: case SYN_TYPED_NAME:
        row.key = refKey + kListSeparator + std::to_string(row.number) + kListSeparator + std::to_string(row.number2);
        break;
    case SYN_STREAM: row.key = bytesKey(row.bytes); break;
    default:
        row.key = std::to_string(row.number) + kListSeparator + std::to_string(row.number2) + kListSeparator +
                  row.text + kListSeparator + row.text2 + kListSeparator + row.list + kListSeparator +
                  bytesKey(row.bytes);
    }
    return 0;
}

// Fills every field but the names of referenced objects; returns the referenced id or -1.
ObjectId TreeStore::fromRow(const AttrDef& def, Stmt& s, AttrValue& v) {
    // columns: ref, text, text2, list, bytes, number, number2
    v.text = s.text(1);
    v.text2 = s.text(2);
    if (def.syntax == SYN_CI_LIST) {
        std::string list = s.text(3);
        size_t start = 0;
        for (;;) {
            size_t end = list.find(kListSeparator, start);
            v.list.push_back(list.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    v.bytes = s.blob(4);
    v.number = s.i64(5);
    v.number2 = s.i64(6);
    return s.isNull(0) ? -1 : s.i64(0);
}

NWDSCCODE TreeStore::computedAttribute(const ObjectRow& row, const AttrDef& def, Attribute& out) {
    out.name = def.name;
    out.syntax = def.syntax;
    out.values.clear();
    ClassInfo info = classInfo(row.className);
    if (def.name == "Object Class") {
        for (const std::string& c : info.chain) {
            AttrValue v;
            v.text = c;
            out.values.push_back(v);
        }
    } else if (row.id != ROOT_ID && foldName(info.namingAttribute) == foldName(def.name)) {
        AttrValue v;
        v.text = row.name;
        out.values.push_back(v);
    }
    return out.values.empty() ? ERR_NO_SUCH_ATTRIBUTE : 0;
}

NWDSCCODE TreeStore::readAttribute(ObjectId id, std::string_view attribute, Attribute& out) {
    // A group's members are named one object at a time.
    ReadTransaction reading(db_);
    ObjectRow row;
    if (!object(id, row)) return ERR_NO_SUCH_ENTRY;
    AttrDef def;
    if (!this->attribute(attribute, def)) return ERR_NO_SUCH_ATTRIBUTE;
    if (def.computed) return computedAttribute(row, def, out);
    out.name = def.name;
    out.syntax = def.syntax;
    out.values.clear();
    // The referenced objects come with their values: a group of thousands is named without a
    // query per member.
    Stmt& s = stmt("SELECT v.ref, v.text, v.text2, v.list, v.bytes, v.number, v.number2, o.name, o.parent, o.container "
                   "FROM attribute_values v LEFT JOIN objects o ON o.id = v.ref "
                   "WHERE v.object = ? AND v.attribute = ? ORDER BY v.id");
    s.bind(1, id).bind(2, foldName(def.name));
    // Names of referenced objects are filled after the scan: fullName() uses other statements.
    struct Reference {
        ObjectRow row;
        bool found;  // false: the root, or an object that is gone; fullName(id) answers for them
        size_t value;
    };
    std::vector<Reference> refs;
    while (s.step()) {
        AttrValue v;
        ObjectRow ref;
        ref.id = fromRow(def, s, v);
        if (ref.id >= 0) {
            const bool found = ref.id != ROOT_ID && !s.isNull(7);
            ref.name = s.text(7);
            ref.parent = s.isNull(8) ? -1 : s.i64(8);
            ref.container = s.i64(9) != 0;
            refs.push_back({std::move(ref), found, out.values.size()});
        }
        out.values.push_back(std::move(v));
    }
    s.reset();
    for (const Reference& r : refs)
        (def.syntax == SYN_OBJECT_ACL ? out.values[r.value].text2 : out.values[r.value].text) =
            r.found ? fullName(r.row) : fullName(r.row.id);
    return out.values.empty() ? ERR_NO_SUCH_ATTRIBUTE : 0;
}

std::vector<std::string> TreeStore::attributeNames(ObjectId id) {
    std::vector<std::string> keys;
    Stmt& s = stmt("SELECT DISTINCT attribute FROM attribute_values WHERE object = ?");
    s.bind(1, id);
    while (s.step()) keys.push_back(s.text(0));
    s.reset();
    std::vector<std::string> names;
    for (const std::string& k : keys) {
        auto it = schema_.find(k);
        names.push_back(it == schema_.end() ? k : it->second.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

NWDSCCODE TreeStore::valueKey(const AttrDef& def, const AttrValue& value, std::string& key) {
    Row row;
    NWDSCCODE st = toRow(def, value, row);
    if (st == 0) key = row.key;
    return st;
}

bool TreeStore::hasValueKey(ObjectId id, const AttrDef& def, const std::string& key) {
    Stmt& s = stmt("SELECT 1 FROM attribute_values WHERE object = ? AND attribute = ? AND value_key = ?");
    s.bind(1, id).bind(2, foldName(def.name)).bind(3, key);
    bool found = s.step();
    s.reset();
    return found;
}

NWDSCCODE TreeStore::applyChanges(ObjectId id, const std::vector<Change>& changes) {
    ObjectRow objectRow;
    if (!object(id, objectRow)) return ERR_NO_SUCH_ENTRY;
    bool changed = false;
    for (const Change& change : changes) {
        AttrDef def;
        if (!attribute(change.attribute, def)) return ERR_NO_SUCH_ATTRIBUTE;
        if (def.computed) return ERR_ILLEGAL_ATTRIBUTE;
        if (!change.values.empty() && change.syntax != def.syntax) return ERR_SYNTAX_VIOLATION;
        const std::string attrKey = foldName(def.name);
        auto countValues = [&] {
            Stmt& c = stmt("SELECT count(*) FROM attribute_values WHERE object = ? AND attribute = ?");
            c.bind(1, id).bind(2, attrKey);
            int64_t n = c.step() ? c.i64(0) : 0;
            c.reset();
            return n;
        };
        switch (change.type) {
        case DS_ADD_ATTRIBUTE:
        case DS_ADD_VALUE:
        case DS_ADDITIONAL_VALUE: {
            if (change.type == DS_ADD_ATTRIBUTE && countValues() > 0) return ERR_ATTRIBUTE_ALREADY_EXISTS;
            for (const AttrValue& v : change.values) {
                Row row;
                if (NWDSCCODE st = toRow(def, v, row)) return st;
                Stmt& dup = stmt("SELECT 1 FROM attribute_values WHERE object = ? AND attribute = ? AND value_key = ?");
                dup.bind(1, id).bind(2, attrKey).bind(3, row.key);
                bool exists = dup.step();
                dup.reset();
                if (exists) return ERR_DUPLICATE_VALUE;
                Stmt& ins = stmt("INSERT INTO attribute_values(object, attribute, ref, text, text2, list, bytes, "
                                 "number, number2, value_key) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
                ins.bind(1, id).bind(2, attrKey);
                if (row.hasRef) ins.bind(3, row.ref); else ins.bindNull(3);
                ins.bind(4, row.text).bind(5, row.text2).bind(6, row.list).bindBlob(7, row.bytes)
                    .bind(8, row.number).bind(9, row.number2).bind(10, row.key).run();
                changed = true;
            }
            if (def.singleValued && countValues() > 1) return ERR_CANT_HAVE_MULTIPLE_VALUES;
            break;
        }
        case DS_REMOVE_ATTRIBUTE:
            if (countValues() == 0) return ERR_NO_SUCH_ATTRIBUTE;
            stmt("DELETE FROM attribute_values WHERE object = ? AND attribute = ?").bind(1, id).bind(2, attrKey).run();
            changed = true;
            break;
        case DS_REMOVE_VALUE:
            for (const AttrValue& v : change.values) {
                Row row;
                NWDSCCODE st = toRow(def, v, row);
                // A value naming an object that does not exist cannot be among the values.
                if (st == ERR_NO_SUCH_ENTRY) return ERR_NO_SUCH_VALUE;
                if (st) return st;
                Stmt& del = stmt("DELETE FROM attribute_values WHERE object = ? AND attribute = ? AND value_key = ?");
                del.bind(1, id).bind(2, attrKey).bind(3, row.key).run();
                if (db_.changes() == 0) return ERR_NO_SUCH_VALUE;
                changed = true;
            }
            break;
        default:
            return ERR_INVALID_REQUEST;
        }
    }
    if (changed) touch(id);
    return 0;
}

std::vector<ObjectId> TreeStore::references(ObjectId id, std::string_view attribute) {
    std::vector<ObjectId> ids;
    Stmt& s = stmt("SELECT ref FROM attribute_values WHERE object = ? AND attribute = ? AND ref IS NOT NULL ORDER BY id");
    s.bind(1, id).bind(2, foldName(attribute));
    while (s.step()) ids.push_back(s.i64(0));
    s.reset();
    return ids;
}

std::vector<TreeStore::AclEntry> TreeStore::acl(ObjectId id) {
    std::vector<AclEntry> entries;
    Stmt& s = stmt("SELECT ref, text, text2, number FROM attribute_values WHERE object = ? AND attribute = 'acl'");
    s.bind(1, id);
    while (s.step()) {
        AclEntry e;
        e.subject = s.isNull(0) ? -1 : s.i64(0);
        e.protectedAttribute = s.text(1);
        e.subjectName = s.text(2);
        e.privileges = uint32_t(s.i64(3));
        entries.push_back(std::move(e));
    }
    s.reset();
    return entries;
}

}  // namespace nw::embedded
