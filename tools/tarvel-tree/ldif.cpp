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
#include "ldif_reader.h"

#include "nwclient/embedded/sqlite_db.h"
#include "nwclient/ldap/ldap_escape.h"
#include "nwclient/ldap/ldap_map.h"
#include "nwclient/nwclient.h"
#include "nwclient/syntax.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>  // ldif.h uses FILE without including it
#include <fcntl.h>
#include <lber.h>
#include <ldif.h>
#include <unistd.h>
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

// Base classes of this tree that LDAP keeps as another one.
struct ClassAlias {
    const char* ndsClass;
    const char* baseClass;
};
const ClassAlias CLASS_ALIASES[] = {{"NDPS Printer", "Printer"}};
// Leaves of classes LDAP has no class for go out as devices.
constexpr const char* FALLBACK_CLASS = "device";

// The attributes that travel, and the LDAP classes of the export's target (OpenLDAP's standard
// schemas with schema/tarvel.schema) that allow them; "*" for every class (through the
// membership class). Their LDAP names come from the backend's table.
struct Travelling {
    const char* ndsName;
    const char* classes;
};
const Travelling ATTRIBUTES[] = {
    {"Description", "*"},
    {"Surname", "inetOrgPerson"},
    {"Given Name", "inetOrgPerson"},
    {"Full Name", "inetOrgPerson"},
    {"Title", "inetOrgPerson"},
    {"Telephone Number", "inetOrgPerson organization organizationalUnit organizationalRole"},
    {"Internet EMail Address", "inetOrgPerson"},
    {"Postal Code", "inetOrgPerson organization organizationalUnit organizationalRole"},
    {"Employee ID", "inetOrgPerson"},
    {"Serial Number", "tarvelWorkstation tarvelPrinter device"},
    {"Owner", "tarvelGroup tarvelWorkstation tarvelPrinter tarvelVolume device"},
    {"Member", "tarvelGroup"},
    {"Group Membership", "*"},
    {"Security Equals", "*"},
    {"Equivalent To Me", "*"},
};
const std::set<std::string> MEMBERSHIP = {"groupMembership", "securityEquals", "equivalentToMe"};
// Of the backend's names, those the export's target lacks (it has the alternatives).
const std::set<std::string> NOT_IN_OPENLDAP = {"fullname", "employeeid"};

// The backend's table as it reads an OpenLDAP server: what the export writes.
const ldapns::NameMap& openLdapNames() {
    static const ldapns::NameMap names = [] {
        ldapns::NameMap m;
        m.adaptToSchema([](const std::string& ldapName) { return !NOT_IN_OPENLDAP.count(toLowerAscii(ldapName)); });
        return m;
    }();
    return names;
}

// LDAP attribute (lower-cased) to the travelling attribute: the names of OpenLDAP and of
// eDirectory both come in.
const std::map<std::string, const Travelling*>& byLdapName() {
    static const std::map<std::string, const Travelling*> map = [] {
        std::map<std::string, const Travelling*> m;
        ldapns::NameMap eDirectory;
        for (const Travelling& a : ATTRIBUTES) {
            m[toLowerAscii(eDirectory.ldapAttribute(a.ndsName))] = &a;
            m[toLowerAscii(openLdapNames().ldapAttribute(a.ndsName))] = &a;
        }
        return m;
    }();
    return map;
}

bool allows(const Travelling& a, const std::string& ldapClass) {
    if (std::string(a.classes) == "*") return true;
    std::istringstream words(a.classes);
    for (std::string w; words >> w;)
        if (w == ldapClass) return true;
    return false;
}

// One LDIF line (folded, base64 where the value needs it), by libldap.
void writeLine(std::ostream& out, const std::string& type, const std::string& value) {
    char* line = ldif_put(LDIF_PUT_VALUE, type.c_str(), value.data(), value.size());
    if (!line) throw std::bad_alloc();
    out << line;
    ber_memfree(line);
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
        std::string base = ndsClass;
        for (const ClassAlias& a : CLASS_ALIASES)
            if (ndsClass == a.ndsClass) base = a.baseClass;
        std::string ldapClass = ldapns::NameMap::entryClass(base);
        if (!ldapClass.empty()) return ldapClass;
        if (base != "Device") ++fallback_[ndsClass];
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
            const Travelling* mapping = nullptr;
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
                const std::string ldapName = openLdapNames().ldapAttribute(mapping->ndsName);
                values.emplace_back(ldapName, text);
                if (MEMBERSHIP.count(ldapName) && ldapClass != "tarvelGroup" && ldapClass != "tarvelWorkstation")
                    membership = true;
                if (ldapName == "sn") surname = true;
            }
        }
        writeLine(out, "dn", dn);
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
    if (!ldapns::parseDn(base, check)) return fail("kein DN: " + base);
    auto store = openTree(tree);
    if (!store) return 1;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return fail(file + ": nicht schreibbar");
    try {
        Exporter exporter(*store, base);
        int entries = exporter.run(out);
        out.flush();
        if (!out) return fail(file + ": nicht schreibbar");
        std::cerr << "tarvel-tree: " << entries << " Einträge nach " << file << " geschrieben";
        if (exporter.leftOut()) std::cerr << "; " << exporter.leftOut() << " Werte ausgelassen, die LDAP nicht aufnehmen kann";
        std::cerr << "\n";
        for (const auto& [cls, count] : exporter.fallbackClasses())
            std::cerr << "tarvel-tree: " << count << " Objekte der Klasse " << cls << " als " << FALLBACK_CLASS << " exportiert"
                      << "\n";
    } catch (const nw::embedded::SqlError& e) {
        return fail(e.what());
    }
    return 0;
}

// ---- import ----

std::string lineOf(int line) { return "Zeile " + std::to_string(line) + ": "; }

// A DN as it can be shown on one line: control bytes as \XX, as a DN escapes them.
std::string shownDn(std::string_view dn) { return text::showControls(dn); }

// The number of values of each RDN of a DN that parseDn took, leaf first, cut where it cuts
// (unescaped ",", ";" and "+"). parseDn keeps the first value of a multi-valued RDN only.
std::vector<size_t> valuesPerRdn(std::string_view dn) {
    std::vector<size_t> counts{1};
    for (size_t i = 0; i < dn.size(); ++i) {
        if (dn[i] == '\\') ++i;
        else if (dn[i] == ',' || dn[i] == ';') counts.push_back(1);
        else if (dn[i] == '+') ++counts.back();
    }
    return counts;
}

enum class Placement {
    Below,    // the components name an object below the base
    Outside,  // the base itself, a DN above or beside it, or the empty DN
    Refused,  // the reason says why
};

// Where a DN lies from the base, with its components (root first) when it is below it. Refused
// is a DN that is malformed or names an object no tree may hold: an empty name, one with NUL,
// CR or LF (cut or split wherever it is shown or passed on), or several values in one RDN
// (cn=a+sn=b is no tree name; taking "a" alone would merge it with cn=a).
Placement placeBelowBase(const std::string& dn, const std::vector<ldapns::Rdn>& baseRdns,
                         std::vector<std::string>& rootFirst, std::string& reason) {
    rootFirst.clear();
    std::vector<ldapns::Rdn> rdns;
    if (!ldapns::parseDn(dn, rdns)) {
        reason = "ungültiger DN";
        return Placement::Refused;
    }
    if (rdns.size() <= baseRdns.size()) return Placement::Outside;
    const std::vector<size_t> values = valuesPerRdn(dn);
    const size_t below = rdns.size() - baseRdns.size();
    for (size_t i = 0; i < baseRdns.size(); ++i) {
        const ldapns::Rdn& r = rdns[below + i];
        if (values[below + i] != 1 || toLowerAscii(r.type) != toLowerAscii(baseRdns[i].type) ||
            toLowerAscii(r.value) != toLowerAscii(baseRdns[i].value))
            return Placement::Outside;
    }
    for (size_t i = below; i-- > 0;) {
        const std::string& value = rdns[i].value;
        if (values[i] != 1) {
            reason = "ein mehrwertiger RDN ist kein Name im Baum";
            return Placement::Refused;
        }
        if (value.empty()) {
            reason = "ein Name im DN ist leer";
            return Placement::Refused;
        }
        if (value.find_first_of(std::string("\0\r\n", 3)) != std::string::npos) {
            reason = "ein Name im DN enthält NUL, CR oder LF";
            return Placement::Refused;
        }
        rootFirst.push_back(value);
    }
    return Placement::Below;
}

// Entries of the file that are not imported, by kind: how many and the line of the first.
struct Skipped {
    int count = 0, firstLine = 0;
    void add(int line) {
        if (!count++) firstLine = line;
    }
    std::string text(const std::string& what) const {
        return "; " + std::to_string(count) + (count == 1 ? " Eintrag " : " Einträge ") + what + " übergangen (" +
               (count == 1 ? "Zeile " : "der erste in Zeile ") + std::to_string(firstLine) + ")";
    }
};

// A new tree is built under a name of its own beside the one asked for and renamed to it once it
// is complete, so a failed import leaves no tree file behind.
class NewTreeFile {
public:
    explicit NewTreeFile(std::string file)
        : file_(std::move(file)), partial_(file_ + ".importing-" + std::to_string(::getpid())) {}
    ~NewTreeFile() {
        if (done_) return;
        std::error_code ec;
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(partial_ + suffix, ec);
    }
    const std::string& path() const { return partial_; }
    // The store must be closed. Never replaces a file that appeared meanwhile.
    bool commit(std::string& error) {
        if (::renameat2(AT_FDCWD, partial_.c_str(), AT_FDCWD, file_.c_str(), RENAME_NOREPLACE) != 0) {
            int e = errno;
            if (e != EINVAL && e != ENOSYS) {
                error = file_ + ": " + std::strerror(e);
                return false;
            }
            std::error_code ec;
            if (std::filesystem::exists(file_, ec) || std::rename(partial_.c_str(), file_.c_str()) != 0) {
                error = file_ + ": " + std::strerror(ec ? ec.value() : errno ? errno : EEXIST);
                return false;
            }
        }
        done_ = true;
        return true;
    }

private:
    std::string file_, partial_;
    bool done_ = false;
};

int cmdImport(const Args& args) {
    LdifArgs a;
    if (!parseLdifArgs(args, true, a)) return usage("import");
    const std::string &file = a.file, &tree = a.tree, &base = a.base, &admin = a.admin;
    std::vector<ldapns::Rdn> baseRdns;
    if (!ldapns::parseDn(base, baseRdns)) return fail("kein DN: " + base);
    std::string text;
    {
        std::ifstream in(file, std::ios::binary);
        if (!in) return fail(file + ": nicht lesbar");
        std::ostringstream contents;
        contents << in.rdbuf();
        if (in.bad()) return fail(file + ": nicht lesbar");
        text = contents.str();
    }
    std::vector<LdifRecord> records;
    std::string error;
    if (!readLdif(text, records, error)) return fail(file + ": " + error);

    // Every entry is checked before the tree is touched; parents first, whatever order the file has.
    std::vector<std::vector<std::string>> names(records.size());
    std::vector<std::pair<size_t, size_t>> ordered;  // depth, record
    std::unordered_map<std::string, size_t> byName;  // folded components (NUL cannot be in one): record
    Skipped outside, emptyDn;
    for (size_t i = 0; i < records.size(); ++i) {
        const LdifRecord& record = records[i];
        std::string reason;
        const Placement placement = placeBelowBase(record.dn, baseRdns, names[i], reason);
        if (placement == Placement::Refused)
            return fail(file + ": " + lineOf(record.line) + reason + ": dn: " + shownDn(record.dn));
        if (placement == Placement::Outside) {
            if (record.dn.find_first_not_of(' ') == std::string::npos) emptyDn.add(record.line);
            else outside.add(record.line);
            continue;
        }
        // The tree's names ignore case: cn=a and cn=A would become one object.
        std::string key;
        for (const std::string& name : names[i]) key += nw::embedded::foldName(name) + '\0';
        auto [first, isNew] = byName.emplace(std::move(key), i);
        if (!isNew)
            return fail(file + ": " + lineOf(record.line) + "dn: " + shownDn(record.dn) + " benennt dasselbe Objekt wie " +
                        lineOf(records[first->second].line) + "dn: " + shownDn(records[first->second].dn) +
                        " (Namen im Baum unterscheiden keine Groß- und Kleinschreibung)");
        ordered.emplace_back(names[i].size(), i);
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& x, const auto& y) { return x.first < y.first; });

    std::unique_ptr<NewTreeFile> fresh;
    std::shared_ptr<TreeStore> store;
    if (std::filesystem::exists(tree)) {
        store = openTree(tree);
        if (!store) return 1;
    } else {
        fresh = std::make_unique<NewTreeFile>(tree);
        store = TreeStore::create(fresh->path(), "SCHULSERVER", error);
        if (!store) return fail(error);
    }

    nw::ldap::NameMap classes;
    classes.configure({{"class.device", "Device"}, {"class.organizationalrole", "Organizational Role"}});
    int added = 0, merged = 0, leftOut = 0;
    try {
        nw::embedded::Transaction transaction(store->db());
        struct Reference {
            ObjectId id;
            nw::embedded::AttrDef def;
            std::vector<std::pair<nw::AttrValue, int>> values;  // with their lines
        };
        std::vector<Reference> references;  // set once every object exists
        for (const auto& [depth, index] : ordered) {
            const LdifRecord& record = records[index];
            const std::string where = file + ": " + lineOf(record.line);
            std::vector<std::string> objectClasses;
            std::string structural;
            for (const LdifValue& v : record.values) {
                if (toLowerAscii(v.type) == "objectclass") objectClasses.push_back(v.value);
                if (toLowerAscii(v.type) == "structuralobjectclass") structural = v.value;
            }
            const std::string className = classes.baseClass(structural, objectClasses);

            std::vector<std::string> components = names[index];
            const std::string leaf = components.back();
            components.pop_back();
            ObjectId parent = nw::ROOT_ID, id = nw::ROOT_ID;
            if (nw::NWDSCCODE st = store->resolve(components, parent))
                return fail(where + "kein übergeordneter Eintrag in der Datei (" + std::to_string(st) + ")");
            nw::NWDSCCODE st = store->addObject(parent, leaf, className, id);
            if (st == nw::ERR_ENTRY_ALREADY_EXISTS) {
                store->child(parent, leaf, id);
                ++merged;  // an object the tree had before: the file's values are added to it
            } else if (st != 0) {
                return fail(where + "der Eintrag kann nicht angelegt werden (" + std::to_string(st) + ")");
            } else {
                ++added;
            }

            const std::string namingType = toLowerAscii(record.dn.substr(0, record.dn.find('=')));
            std::map<std::string, nw::Change> changes;  // by attribute, values in file order
            std::map<std::string, Reference> refs;
            for (const LdifValue& value : record.values) {
                const std::string type = toLowerAscii(value.type);
                auto mapping = byLdapName().find(type);
                if (mapping == byLdapName().end()) {
                    if (type != "objectclass" && type != "structuralobjectclass" && type != namingType &&
                        type != "userpassword")
                        ++leftOut;
                    continue;
                }
                nw::embedded::AttrDef def;
                if (!store->attribute(mapping->second->ndsName, def)) {
                    ++leftOut;
                    continue;
                }
                nw::AttrValue v;
                if (def.syntax == nw::SYN_DIST_NAME) {
                    std::vector<std::string> rootFirst;
                    std::string reason;
                    if (placeBelowBase(value.value, baseRdns, rootFirst, reason) != Placement::Below) {
                        ++leftOut;
                        continue;
                    }
                    v.text = ldapns::joinTypelessName({rootFirst.rbegin(), rootFirst.rend()});
                    Reference& r = refs[def.name];
                    r.id = id;
                    r.def = def;
                    r.values.emplace_back(std::move(v), value.line);
                    continue;
                }
                v.text = value.value;
                nw::Change& c = changes[def.name];
                if (def.singleValued && !c.values.empty()) {
                    ++leftOut;
                    continue;
                }
                c.type = nw::DS_ADD_VALUE;
                c.attribute = def.name;
                c.syntax = def.syntax;
                c.values.push_back(std::move(v));
            }
            for (auto& [attribute, c] : changes) {
                nw::NWDSCCODE cst = store->applyChanges(id, {c});
                if (cst != 0 && cst != nw::ERR_DUPLICATE_VALUE)
                    return fail(where + attribute + " (" + std::to_string(cst) + ")");
            }
            for (auto& [attribute, r] : refs) references.push_back(std::move(r));
        }
        for (const Reference& r : references) {
            // One value per change: a value naming an object the file lacks is left out alone.
            std::vector<nw::Change> one(1);
            one[0].type = nw::DS_ADD_VALUE;
            one[0].attribute = r.def.name;
            one[0].syntax = r.def.syntax;
            one[0].values.resize(1);
            for (const auto& [value, line] : r.values) {
                one[0].values[0] = value;
                nw::NWDSCCODE st = store->applyChanges(r.id, one);
                if (st == nw::ERR_NO_SUCH_ENTRY) ++leftOut;
                else if (st != 0 && st != nw::ERR_DUPLICATE_VALUE)
                    return fail(file + ": " + lineOf(line) + r.def.name + " (" + std::to_string(st) + ")");
            }
        }
        if (!admin.empty()) {
            // The embedded tree enforces NDS rights: give the named operator all of them at the root.
            ObjectId adminId;
            if (store->resolveFullName(admin, adminId) != 0) return fail("Objekt nicht gefunden: " + admin);
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
            if (st != 0 && st != nw::ERR_DUPLICATE_VALUE) return fail("die Rechte können nicht vergeben werden (" + std::to_string(st) + ")");
        }
        transaction.commit();
    } catch (const nw::embedded::SqlError& e) {
        return fail(e.what());
    }
    if (fresh) {
        store.reset();
        if (!fresh->commit(error)) return fail(error);
    }
    std::cerr << "tarvel-tree: " << added << " Objekte aus " << file << " hinzugefügt";
    if (merged) std::cerr << "; " << merged << " Einträge mit Objekten zusammengeführt, die der Baum schon hatte";
    if (outside.count) std::cerr << outside.text("nicht unter " + shownDn(base));
    if (emptyDn.count) std::cerr << emptyDn.text("mit leerem dn:");
    if (leftOut) std::cerr << "; " << leftOut << " Werte ausgelassen";
    std::cerr << "\n";
    return 0;
}

CommandRegistration exportCommand("export", "export --ldif DATEI BAUM [--base DN]\n    der Baum als LDIF für einen LDAP-Server", cmdExport);
CommandRegistration importCommand("import", "import --ldif DATEI BAUM [--base DN] [--admin NAME]\n    LDIF-Einträge in den Baum; --admin erhält alle Rechte an der Wurzel", cmdImport);

}  // namespace
}  // namespace tarveltree
