// LDIF export and import of the embedded tree, so a school can move its tree to an LDAP server
// (OpenLDAP with schema/tarvel.schema, or eDirectory) and back.
//
//   tarvel-tree export --ldif FILE TREE [--base DN]
//   tarvel-tree import --ldif FILE TREE [--base DN] [--admin NAME]
//
// Classes and attributes travel under their LDAP names (User <-> inetOrgPerson, Member <->
// member, ...). What LDAP cannot hold the same way (NDS rights, addresses, streams, times) stays
// behind; the tool says how many values it left out.
#include "commands.h"

#include "nwclient/embedded/sqlite_db.h"
#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/ldap/ldap_map.h"
#include "nwclient/nwclient.h"
#include "nwclient/syntax.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <unordered_map>

namespace tarveltree {
namespace {

using ::text::toLowerAscii;

using nw::ObjectId;
using nw::embedded::TreeStore;
namespace ldapns = nw::ldap;

struct ClassMapping {
    const char* ndsClass;
    const char* ldapClass;
};
const ClassMapping CLASSES[] = {
    {"User", "inetOrgPerson"},
    {"Group", "tarvelGroup"},
    {"Organization", "organization"},
    {"Organizational Unit", "organizationalUnit"},
    {"Country", "country"},
    {"Locality", "locality"},
    {"Workstation", "tarvelWorkstation"},
    {"Printer", "tarvelPrinter"},
    {"NDPS Printer", "tarvelPrinter"},
    {"Volume", "tarvelVolume"},
    {"Organizational Role", "organizationalRole"},
    {"Device", "device"},
};
// Leaves of other classes go out as devices.
constexpr const char* FALLBACK_CLASS = "device";

struct AttrMapping {
    const char* ndsName;
    const char* ldapName;
    const char* classes;  // LDAP classes that allow it, "*" for every class (membership class)
};
const AttrMapping ATTRIBUTES[] = {
    {"Description", "description", "*"},
    {"Surname", "sn", "inetOrgPerson"},
    {"Given Name", "givenName", "inetOrgPerson"},
    {"Full Name", "displayName", "inetOrgPerson"},
    {"Title", "title", "inetOrgPerson"},
    {"Telephone Number", "telephoneNumber", "inetOrgPerson organization organizationalUnit organizationalRole"},
    {"Internet EMail Address", "mail", "inetOrgPerson"},
    {"Postal Code", "postalCode", "inetOrgPerson organization organizationalUnit organizationalRole"},
    {"Employee ID", "employeeNumber", "inetOrgPerson"},
    {"Serial Number", "serialNumber", "tarvelWorkstation tarvelPrinter device"},
    {"Owner", "owner", "tarvelGroup tarvelWorkstation tarvelPrinter tarvelVolume device"},
    {"Member", "member", "tarvelGroup"},
    {"Group Membership", "groupMembership", "*"},
    {"Security Equals", "securityEquals", "*"},
    {"Equivalent To Me", "equivalentToMe", "*"},
};
const std::set<std::string> MEMBERSHIP = {"groupMembership", "securityEquals", "equivalentToMe"};

bool allows(const AttrMapping& a, const std::string& ldapClass) {
    if (std::string(a.classes) == "*") return true;
    std::istringstream words(a.classes);
    for (std::string w; words >> w;)
        if (w == ldapClass) return true;
    return false;
}

const char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const std::string& in) {
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (unsigned char c : in) {
        value = (value << 8) | c;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out += BASE64[(value >> bits) & 63];
        }
    }
    if (bits > 0) out += BASE64[(value << (6 - bits)) & 63];
    while (out.size() % 4) out += '=';
    return out;
}

bool base64Decode(const std::string& in, std::string& out) {
    out.clear();
    unsigned value = 0;
    int bits = 0;
    for (char c : in) {
        if (c == '=' || c == ' ') continue;
        const char* p = std::strchr(BASE64, c);
        if (!p || !c) return false;
        value = (value << 6) | static_cast<unsigned>(p - BASE64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return true;
}

// RFC 2849 SAFE-STRING: printable ASCII, not starting with space, ":" or "<", not ending in space.
bool safeString(const std::string& s) {
    if (s.empty()) return true;
    if (s[0] == ' ' || s[0] == ':' || s[0] == '<' || s.back() == ' ') return false;
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

void writeLine(std::ostream& out, const std::string& type, const std::string& value) {
    if (safeString(value)) out << type << ": " << value << "\n";
    else out << type << ":: " << base64Encode(value) << "\n";
}

// ---- export ----

class Exporter {
public:
    Exporter(TreeStore& store, std::string base) : store_(store), base_(std::move(base)) {}

    int run(std::ostream& out) {
        // Depth first, parents before children, pages of the listing as the tree keeps them.
        std::vector<ObjectId> todo = {nw::ROOT_ID};
        while (!todo.empty()) {
            ObjectId parent = todo.back();
            todo.pop_back();
            std::vector<ObjectId> containers;
            std::string after;
            for (;;) {
                std::vector<nw::embedded::ObjectRow> rows = store_.children(parent, after, false, 500);
                if (rows.empty()) break;
                after = rows.back().nameKey;
                for (const auto& row : rows) {
                    writeEntry(out, row);
                    if (row.container) containers.push_back(row.id);
                }
            }
            todo.insert(todo.end(), containers.rbegin(), containers.rend());
        }
        return entries_;
    }

    int leftOut() const { return leftOut_; }
    const std::map<std::string, int>& fallbackClasses() const { return fallback_; }

private:
    std::string ldapClassOf(const std::string& ndsClass) {
        for (const auto& c : CLASSES)
            if (ndsClass == c.ndsClass) return c.ldapClass;
        ++fallback_[ndsClass];
        return FALLBACK_CLASS;
    }

    std::string dnOf(ObjectId id) {
        if (id == nw::ROOT_ID) return base_;
        auto it = dns_.find(id);
        if (it != dns_.end()) return it->second;
        nw::embedded::ObjectRow row;
        if (!store_.object(id, row)) return std::string();
        std::string type = toLowerAscii(nw::embedded::classInfo(row.className).namingAttribute);
        if (type.empty()) type = "cn";
        std::string dn = ldapns::childDn(type, row.name, dnOf(row.parent));
        dns_.emplace(id, dn);
        return dn;
    }

    void writeEntry(std::ostream& out, const nw::embedded::ObjectRow& row) {
        const std::string ldapClass = ldapClassOf(row.className);
        const std::string dn = dnOf(row.id);
        std::string namingType = dn.substr(0, dn.find('='));
        std::vector<std::pair<std::string, std::string>> values;
        bool membership = false, surname = false;
        for (const std::string& name : store_.attributeNames(row.id)) {
            const AttrMapping* mapping = nullptr;
            for (const auto& a : ATTRIBUTES)
                if (name == a.ndsName) mapping = &a;
            nw::Attribute attr;
            if (store_.readAttribute(row.id, name, attr) != 0) continue;
            if (!mapping || !allows(*mapping, ldapClass)) {
                nw::embedded::AttrDef def;
                if (store_.attribute(name, def) && !def.computed) leftOut_ += static_cast<int>(attr.values.size());
                continue;
            }
            for (const nw::AttrValue& v : attr.values) {
                std::string text = v.text;
                if (attr.syntax == nw::SYN_DIST_NAME) {
                    ObjectId ref;
                    if (store_.resolveFullName(v.text, ref) != 0) {
                        ++leftOut_;
                        continue;
                    }
                    text = dnOf(ref);
                }
                if (text.empty()) continue;
                values.emplace_back(mapping->ldapName, text);
                if (MEMBERSHIP.count(mapping->ldapName) && ldapClass != "tarvelGroup" &&
                    ldapClass != "tarvelWorkstation")
                    membership = true;
                if (std::string(mapping->ldapName) == "sn") surname = true;
            }
        }
        out << (safeString(dn) ? "dn: " + dn : "dn:: " + base64Encode(dn)) << "\n";
        writeLine(out, "objectClass", ldapClass);
        if (membership) writeLine(out, "objectClass", "tarvelMembership");
        writeLine(out, namingType, row.name);
        if (ldapClass == "inetOrgPerson" && !surname) writeLine(out, "sn", row.name);  // sn is mandatory there
        std::stable_sort(values.begin(), values.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [type, value] : values) writeLine(out, type, value);
        out << "\n";
        ++entries_;
    }

    TreeStore& store_;
    std::string base_;
    std::unordered_map<ObjectId, std::string> dns_;
    int entries_ = 0;
    int leftOut_ = 0;
    std::map<std::string, int> fallback_;
};

// The arguments export and import share: --ldif FILE, the tree file, --base DN, and for import
// --admin NAME. False when something is missing or not understood.
struct LdifArgs {
    std::string file, tree, base, admin;
};

bool parseLdifArgs(const Args& args, bool withAdmin, LdifArgs& out) {
    bool ldif = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--ldif" && i + 1 < args.size()) {
            ldif = true;
            out.file = args[++i];
        } else if (args[i] == "--base" && i + 1 < args.size()) {
            out.base = args[++i];
        } else if (withAdmin && args[i] == "--admin" && i + 1 < args.size()) {
            out.admin = args[++i];
        } else if (out.tree.empty() && args[i].rfind("--", 0) != 0) {
            out.tree = args[i];
        } else {
            return false;
        }
    }
    return ldif && !out.tree.empty();
}

int cmdExport(const Args& args) {
    LdifArgs a;
    if (!parseLdifArgs(args, false, a)) return usage("export");
    const std::string &file = a.file, &tree = a.tree, &base = a.base;
    std::vector<ldapns::Rdn> check;
    if (!ldapns::parseDn(base, check)) return fail("not a DN: " + base);
    auto store = openTree(tree);
    if (!store) return 1;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return fail("cannot write " + file);
    try {
        Exporter exporter(*store, base);
        int entries = exporter.run(out);
        out.flush();
        if (!out) return fail("cannot write " + file);
        std::cerr << "tarvel-tree: " << entries << " entries written to " << file;
        if (exporter.leftOut()) std::cerr << "; " << exporter.leftOut() << " values LDAP cannot hold left out";
        std::cerr << "\n";
        for (const auto& [cls, count] : exporter.fallbackClasses())
            std::cerr << "tarvel-tree: " << count << " objects of class " << cls << " exported as " << FALLBACK_CLASS
                      << "\n";
    } catch (const nw::embedded::SqlError& e) {
        return fail(e.what());
    }
    return 0;
}

// ---- import ----

struct Record {
    std::string dn;
    std::vector<std::pair<std::string, std::string>> values;
    int line = 0;
};

// Reads the add records of an LDIF file (content records or changetype add).
bool readLdif(std::istream& in, std::vector<Record>& records, std::string& error) {
    std::vector<std::pair<int, std::string>> logical;  // unfolded lines with their first line number
    std::string line;
    int number = 0;
    bool inComment = false;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == ' ') {
            if (inComment) continue;
            if (logical.empty() || logical.back().second.empty()) {
                error = "line " + std::to_string(number) + ": continuation without a line";
                return false;
            }
            logical.back().second += line.substr(1);
            continue;
        }
        inComment = !line.empty() && line[0] == '#';
        if (inComment) continue;
        logical.emplace_back(number, line);
    }
    Record current;
    auto finish = [&]() {
        if (!current.dn.empty()) records.push_back(std::move(current));
        current = Record();
    };
    for (const auto& [at, text] : logical) {
        if (text.empty()) {
            finish();
            continue;
        }
        size_t colon = text.find(':');
        if (colon == std::string::npos || colon == 0) {
            error = "line " + std::to_string(at) + ": not an attribute line";
            return false;
        }
        std::string type = text.substr(0, colon);
        std::string value;
        if (colon + 1 < text.size() && text[colon + 1] == ':') {
            std::string encoded = text.substr(colon + 2);
            if (!base64Decode(encoded, value)) {
                error = "line " + std::to_string(at) + ": bad base64";
                return false;
            }
        } else if (colon + 1 < text.size() && text[colon + 1] == '<') {
            error = "line " + std::to_string(at) + ": values from URLs are not read";
            return false;
        } else {
            value = text.substr(colon + 1);
            size_t start = value.find_first_not_of(' ');
            value = start == std::string::npos ? std::string() : value.substr(start);
        }
        std::string key = toLowerAscii(type);
        if (current.dn.empty()) {
            if (key == "version") continue;
            if (key != "dn") {
                error = "line " + std::to_string(at) + ": a record must start with dn:";
                return false;
            }
            current.dn = value;
            current.line = at;
            if (current.dn.empty()) current.dn = " ";  // the empty DN: refused below
            continue;
        }
        if (key == "changetype") {
            if (toLowerAscii(value) != "add") {
                error = "line " + std::to_string(at) + ": only additions can be imported";
                return false;
            }
            continue;
        }
        if (key == "control") continue;
        current.values.emplace_back(type, value);
    }
    finish();
    return true;
}

int cmdImport(const Args& args) {
    LdifArgs a;
    if (!parseLdifArgs(args, true, a)) return usage("import");
    const std::string &file = a.file, &tree = a.tree, &base = a.base, &admin = a.admin;
    std::vector<ldapns::Rdn> baseRdns;
    if (!ldapns::parseDn(base, baseRdns)) return fail("not a DN: " + base);
    std::ifstream in(file, std::ios::binary);
    if (!in) return fail("cannot read " + file);
    std::vector<Record> records;
    std::string error;
    if (!readLdif(in, records, error)) return fail(file + ": " + error);

    // DN to typeless name below the base; false for a DN outside it (or the base itself).
    auto nameOf = [&](const std::string& dn, std::string& name) {
        std::vector<ldapns::Rdn> rdns;
        if (!ldapns::parseDn(dn, rdns) || rdns.size() <= baseRdns.size()) return false;
        for (size_t i = 0; i < baseRdns.size(); ++i) {
            const auto& a = rdns[rdns.size() - baseRdns.size() + i];
            if (toLowerAscii(a.type) != toLowerAscii(baseRdns[i].type) || toLowerAscii(a.value) != toLowerAscii(baseRdns[i].value)) return false;
        }
        std::vector<std::string> parts;
        for (size_t i = 0; i + baseRdns.size() < rdns.size(); ++i) parts.push_back(rdns[i].value);
        name = ldapns::joinTypelessName(parts);
        return true;
    };

    std::shared_ptr<TreeStore> store;
    if (std::filesystem::exists(tree)) {
        store = openTree(tree);
    } else {
        store = TreeStore::create(tree, "SCHULSERVER", error);
        if (!store) return fail(error);
    }
    if (!store) return 1;

    nw::ldap::NameMap classes;
    classes.configure({{"class.device", "Device"}, {"class.organizationalrole", "Organizational Role"}});
    // Parents first, whatever order the file has.
    std::vector<std::pair<size_t, const Record*>> ordered;
    for (const Record& r : records) {
        std::vector<ldapns::Rdn> rdns;
        if (!ldapns::parseDn(r.dn, rdns)) return fail(file + ": line " + std::to_string(r.line) + ": bad DN");
        ordered.emplace_back(rdns.size(), &r);
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    int added = 0, leftOut = 0;
    try {
        nw::embedded::Transaction transaction(store->db());
        std::vector<std::pair<ObjectId, nw::Change>> references;  // set once every object exists
        for (const auto& [depth, record] : ordered) {
            std::string name;
            if (!nameOf(record->dn, name)) continue;  // the base entry itself, or outside the base
            std::vector<std::string> objectClasses;
            for (const auto& [type, value] : record->values)
                if (toLowerAscii(type) == "objectclass") objectClasses.push_back(value);
            std::string structural;
            for (const auto& [type, value] : record->values)
                if (toLowerAscii(type) == "structuralobjectclass") structural = value;
            std::string className = classes.baseClass(structural, objectClasses);

            std::vector<std::string> components;
            if (!nw::embedded::splitFullName(name, components))
                return fail(file + ": line " + std::to_string(record->line) + ": bad name");
            std::string leaf = components.back();
            components.pop_back();
            ObjectId parent = nw::ROOT_ID, id = nw::ROOT_ID;
            if (nw::NWDSCCODE st = store->resolve(components, parent))
                return fail(file + ": line " + std::to_string(record->line) + ": no parent for " + name + " (" +
                            std::to_string(st) + ")");
            nw::NWDSCCODE st = store->addObject(parent, leaf, className, id);
            if (st == nw::ERR_ENTRY_ALREADY_EXISTS) {
                store->child(parent, leaf, id);
            } else if (st != 0) {
                return fail(file + ": line " + std::to_string(record->line) + ": cannot add " + name + " (" +
                            std::to_string(st) + ")");
            } else {
                ++added;
            }

            std::map<std::string, nw::Change> changes;  // by NDS attribute, values in file order
            for (const auto& [type, value] : record->values) {
                const AttrMapping* mapping = nullptr;
                for (const auto& a : ATTRIBUTES)
                    if (toLowerAscii(type) == toLowerAscii(a.ldapName)) mapping = &a;
                if (!mapping) {
                    std::string t = toLowerAscii(type);
                    if (t != "objectclass" && t != "structuralobjectclass" &&
                        t != toLowerAscii(record->dn.substr(0, record->dn.find('='))) && t != "userpassword")
                        ++leftOut;
                    continue;
                }
                nw::embedded::AttrDef def;
                if (!store->attribute(mapping->ndsName, def)) {
                    ++leftOut;
                    continue;
                }
                nw::Change& c = changes[def.name];
                c.type = nw::DS_ADD_VALUE;
                c.attribute = def.name;
                c.syntax = def.syntax;
                nw::AttrValue v;
                if (def.syntax == nw::SYN_DIST_NAME) {
                    if (!nameOf(value, v.text)) {
                        ++leftOut;
                        continue;
                    }
                } else {
                    v.text = value;
                }
                if (def.singleValued && !c.values.empty()) {
                    ++leftOut;
                    continue;
                }
                c.values.push_back(v);
            }
            for (auto& [attribute, c] : changes) {
                if (c.values.empty()) continue;
                if (c.syntax == nw::SYN_DIST_NAME) {
                    references.emplace_back(id, std::move(c));
                } else if (nw::NWDSCCODE cst = store->applyChanges(id, {c}); cst != 0 && cst != nw::ERR_DUPLICATE_VALUE) {
                    return fail(file + ": line " + std::to_string(record->line) + ": " + attribute + " of " + name +
                                " (" + std::to_string(cst) + ")");
                }
            }
        }
        for (auto& [id, c] : references) {
            for (const nw::AttrValue& v : c.values) {
                nw::Change one = c;
                one.values = {v};
                nw::NWDSCCODE st = store->applyChanges(id, {one});
                if (st == nw::ERR_NO_SUCH_ENTRY) ++leftOut;  // a reference to an object not in the file
                else if (st != 0 && st != nw::ERR_DUPLICATE_VALUE)
                    return fail("cannot set " + c.attribute + " of " + store->fullName(id) + " (" + std::to_string(st) +
                                ")");
            }
        }
        if (!admin.empty()) {
            // The embedded tree enforces NDS rights: give the named operator all of them at the root.
            ObjectId adminId;
            if (store->resolveFullName(admin, adminId) != 0) return fail("no such object: " + admin);
            nw::Change acl;
            acl.type = nw::DS_ADD_VALUE;
            acl.attribute = "ACL";
            acl.syntax = nw::SYN_OBJECT_ACL;
            for (const char* what : {"[Entry Rights]", "[All Attributes Rights]"}) {
                nw::AttrValue v;
                v.text = what;
                v.text2 = store->fullName(adminId);
                v.number = std::string(what) == "[Entry Rights]" ? 0x1F : 0x2F;
                acl.values.push_back(v);
            }
            nw::NWDSCCODE st = store->applyChanges(nw::ROOT_ID, {acl});
            if (st != 0 && st != nw::ERR_DUPLICATE_VALUE) return fail("cannot grant rights (" + std::to_string(st) + ")");
        }
        transaction.commit();
    } catch (const nw::embedded::SqlError& e) {
        return fail(e.what());
    }
    std::cerr << "tarvel-tree: " << added << " objects added from " << file;
    if (leftOut) std::cerr << "; " << leftOut << " values left out";
    std::cerr << "\n";
    return 0;
}

CommandRegistration exportCommand("export", "export --ldif FILE TREE [--base DN]", cmdExport);
CommandRegistration importCommand("import", "import --ldif FILE TREE [--base DN] [--admin NAME]", cmdImport);

}  // namespace
}  // namespace tarveltree
