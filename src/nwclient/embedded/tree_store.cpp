#include "nwclient/embedded/tree_store.h"

#include "nwclient/names.h"
#include "nwclient/nwclient.h"
#include "platform/text.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace nw::embedded {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Names

std::string foldName(std::string_view name) {
    bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return text::toLowerAscii(name);
    UErrorCode err = U_ZERO_ERROR;
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), int32_t(name.size())));
    u.foldCase(U_FOLD_CASE_DEFAULT);
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(err);
    std::string out;
    if (U_SUCCESS(err)) {
        icu::UnicodeString n = nfc->normalize(u, err);
        if (U_SUCCESS(err)) {
            n.toUTF8String(out);
            return out;
        }
    }
    u.toUTF8String(out);
    return out;
}

bool splitFullName(std::string_view fullName, std::vector<std::string>& components) {
    components.clear();
    std::string_view s = names::stripRootSpelling(fullName);
    if (s.empty() || names::isRootName(s)) return true;  // the root itself
    // A lone backslash at the end escapes nothing: the name was cut.
    size_t backslashes = 0;
    while (backslashes < s.size() && s[s.size() - 1 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2) return false;
    std::vector<std::string> leafFirst = names::splitEscaped(s);
    for (const std::string& c : leafFirst)
        if (c.empty()) return false;
    components.assign(leafFirst.rbegin(), leafFirst.rend());
    return true;
}

std::string escapeComponent(std::string_view component) { return names::escape(component); }

// ---------------------------------------------------------------------------------------------
// Classes

namespace {

struct ClassEntry {
    const char* name;
    const char* super;
    bool container;
    const char* naming;
};

// The directory's classes this tree knows, each with its superclass.
const ClassEntry kClasses[] = {
    {"Top", nullptr, false, ""},
    {"Tree Root", "Top", true, ""},
    {"Country", "Top", true, "C"},
    {"Locality", "Top", true, "L"},
    {"Organization", "Top", true, "O"},
    {"Organizational Unit", "Top", true, "OU"},
    {"Person", "Top", false, "CN"},
    {"Organizational Person", "Person", false, "CN"},
    {"User", "Organizational Person", false, "CN"},
    {"Group", "Top", false, "CN"},
    {"Organizational Role", "Top", false, "CN"},
    {"Workstation", "Top", false, "CN"},
    {"Workstation Group", "Top", false, "CN"},
    {"Device", "Top", false, "CN"},
    {"Computer", "Device", false, "CN"},
    {"Printer", "Device", false, "CN"},
    {"NDPS Printer", "Device", false, "CN"},
    {"Server", "Top", false, "CN"},
    {"NCP Server", "Server", false, "CN"},
    {"Print Server", "Server", false, "CN"},
    {"Resource", "Top", false, "CN"},
    {"Volume", "Resource", false, "CN"},
    {"Queue", "Resource", false, "CN"},
    {"Directory Map", "Resource", false, "CN"},
    {"Profile", "Top", false, "CN"},
    {"Alias", "Top", false, "CN"},
    {"Template", "Top", false, "CN"},
};

const ClassEntry* findClass(std::string_view name) {
    static const std::unordered_map<std::string, const ClassEntry*> byKey = [] {
        std::unordered_map<std::string, const ClassEntry*> m;
        for (const ClassEntry& c : kClasses) m[foldName(c.name)] = &c;
        return m;
    }();
    auto it = byKey.find(foldName(name));
    return it == byKey.end() ? nullptr : it->second;
}

// Attributes every new tree knows: name, syntax, single-valued.
struct SchemaEntry {
    const char* name;
    uint32_t syntax;
    bool single;
};
const SchemaEntry kSchema[] = {
    {"ACL", SYN_OBJECT_ACL, false},
    {"Back Link", SYN_BACK_LINK, false},
    {"Description", SYN_CI_STRING, false},
    {"EMail Address", SYN_EMAIL_ADDRESS, false},
    {"Equivalent To Me", SYN_DIST_NAME, false},
    {"Facsimile Telephone Number", SYN_FAX_NUMBER, false},
    {"Full Name", SYN_CI_STRING, false},
    {"Generational Qualifier", SYN_PR_STRING, true},
    {"Given Name", SYN_CI_STRING, true},
    {"Group Membership", SYN_DIST_NAME, false},
    {"Home Directory", SYN_PATH, true},
    {"Host Server", SYN_DIST_NAME, true},
    {"Internet EMail Address", SYN_CI_STRING, false},
    {"Language", SYN_CI_LIST, true},
    {"Last Login Time", SYN_TIME, true},
    {"Login Allowed Time Map", SYN_OCTET_STRING, true},
    {"Login Disabled", SYN_BOOLEAN, true},
    {"Login Grace Limit", SYN_INTEGER, true},
    {"Login Grace Remaining", SYN_COUNTER, true},
    {"Login Intruder Attempts", SYN_COUNTER, true},
    {"Login Intruder Reset Interval", SYN_INTERVAL, true},
    {"Login Script", SYN_STREAM, true},
    {"Login Time", SYN_TIME, true},
    {"Member", SYN_DIST_NAME, false},
    {"Network Address", SYN_NET_ADDRESS, false},
    {"Notify", SYN_TYPED_NAME, false},
    {"Owner", SYN_DIST_NAME, false},
    {"Password Expiration Interval", SYN_INTERVAL, true},
    {"Password Minimum Length", SYN_INTEGER, true},
    {"Passwords Used", SYN_OCTET_LIST, false},
    {"Postal Address", SYN_PO_ADDRESS, false},
    {"Postal Code", SYN_CI_STRING, false},
    {"Print Job Configuration", SYN_STREAM, true},
    {"Public Key", SYN_OCTET_STRING, true},
    {"Received Up To", SYN_TIMESTAMP, false},
    {"Replica", SYN_REPLICA_POINTER, false},
    {"Security Equals", SYN_DIST_NAME, false},
    {"Serial Number", SYN_PR_STRING, false},
    {"Server Holds", SYN_HOLD, false},
    {"Surname", SYN_CI_STRING, false},
    {"Telephone Number", SYN_TEL_NUMBER, false},
    {"Title", SYN_CI_STRING, false},
    {"Unique ID", SYN_CE_STRING, true},
    {"Employee ID", SYN_NU_STRING, true},
};

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

ClassInfo classInfo(std::string_view className) {
    ClassInfo info;
    const ClassEntry* c = findClass(className);
    if (!c) {
        info.name = std::string(className);
        info.namingAttribute = "CN";
        info.chain = {info.name, "Top"};
        return info;
    }
    info.name = c->name;
    info.container = c->container;
    info.namingAttribute = c->naming;
    for (const ClassEntry* p = c; p; p = p->super ? findClass(p->super) : nullptr) info.chain.push_back(p->name);
    return info;
}

// ---------------------------------------------------------------------------------------------
// Opening and creating

static const char* kSchemaSql = R"(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE objects(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES objects(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  name_key TEXT NOT NULL,
  class TEXT NOT NULL,
  container INTEGER NOT NULL,
  mtime INTEGER NOT NULL);
CREATE UNIQUE INDEX objects_by_parent ON objects(parent, name_key);
CREATE TABLE schema_attributes(
  name_key TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  syntax INTEGER NOT NULL,
  single INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE attribute_values(
  id INTEGER PRIMARY KEY,
  object INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
  attribute TEXT NOT NULL,
  ref INTEGER REFERENCES objects(id) ON DELETE CASCADE,
  text TEXT, text2 TEXT, list TEXT, bytes BLOB, number INTEGER, number2 INTEGER,
  value_key TEXT NOT NULL);
CREATE UNIQUE INDEX values_by_object ON attribute_values(object, attribute, value_key);
CREATE INDEX values_by_ref ON attribute_values(ref);
CREATE TABLE volumes(name_key TEXT PRIMARY KEY, name TEXT NOT NULL, local_path TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE trustees(
  volume TEXT NOT NULL,
  path_key TEXT NOT NULL,
  object INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
  rights INTEGER NOT NULL,
  PRIMARY KEY(volume, path_key, object)) WITHOUT ROWID;
CREATE INDEX trustees_by_object ON trustees(object);
)";

static std::string fileUri(const std::string& file, const char* query) {
    std::string uri = "file:";
    static const char* hex = "0123456789ABCDEF";
    std::error_code ec;
    fs::path absolute = fs::absolute(file, ec);
    for (unsigned char c : (ec ? fs::path(file) : absolute).string()) {
        if (c == '%' || c == '?' || c == '#' || c < 0x20) {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        } else {
            uri += char(c);
        }
    }
    return uri + query;
}

// Opens and checks the file; SQLite's result code, or SQLITE_FORMAT for a database that is
// not a tree of this version.
int TreeStore::openChecked(const std::string& target, int flags, int busyTimeoutMs) {
    statements_.clear();
    db_.close();
    int rc = db_.open(target, flags | SQLITE_OPEN_NOMUTEX);
    if (rc != SQLITE_OK) return rc;
    sqlite3_busy_timeout(db_.handle(), busyTimeoutMs);
    try {
        db_.exec("PRAGMA foreign_keys=ON");
        // With WAL, NORMAL keeps every commit atomic and the file sound after a crash; only a
        // power cut may lose the last commits. FULL would cost one fsync per changed user.
        db_.exec("PRAGMA synchronous=NORMAL");
        std::string format, version;
        {
            Stmt s(db_, "SELECT key, value FROM meta WHERE key IN ('format','version')");
            while (s.step()) (s.text(0) == "format" ? format : version) = s.text(1);
        }
        if (format != FORMAT || version != std::to_string(VERSION)) return SQLITE_FORMAT;
        readOnly_ = sqlite3_db_readonly(db_.handle(), "main") != 0;
        if (!readOnly_) {
            Stmt s(db_, "PRAGMA journal_mode");
            if (s.step() && s.text(0) != "wal") {
                Stmt w(db_, "PRAGMA journal_mode=WAL");
                w.run();
            }
        }
        loadSchema();
    } catch (const SqlError& e) {
        return e.code();
    }
    return SQLITE_OK;
}

std::shared_ptr<TreeStore> TreeStore::open(const std::string& file, NWCCODE& status, int busyTimeoutMs) {
    std::error_code ec;
    if (!fs::exists(file, ec)) {
        status = TARVEL_TREE_MISSING;
        return nullptr;
    }
    if (fs::is_directory(file, ec) || ::access(file.c_str(), R_OK) != 0) {
        status = TARVEL_TREE_UNREADABLE;
        return nullptr;
    }
    std::shared_ptr<TreeStore> store(new TreeStore);
    store->file_ = file;
    int rc;
    if (::access(file.c_str(), W_OK) == 0) {
        rc = store->openChecked(file, SQLITE_OPEN_READWRITE, busyTimeoutMs);
    } else {
        // A tree the operator may only read is browsed read-only. Without a writable folder
        // for the shared-memory file the file is taken as unchanging, as on read-only media.
        rc = store->openChecked(fileUri(file, "?mode=ro"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, busyTimeoutMs);
        if ((rc & 0xFF) == SQLITE_CANTOPEN || (rc & 0xFF) == SQLITE_READONLY)
            rc = store->openChecked(fileUri(file, "?mode=ro&immutable=1"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                                    busyTimeoutMs);
    }
    if (rc != SQLITE_OK) {
        rc &= 0xFF;
        status = rc == SQLITE_BUSY || rc == SQLITE_LOCKED ? TARVEL_TREE_LOCKED : TARVEL_TREE_UNREADABLE;
        return nullptr;
    }
    status = 0;
    return store;
}

std::shared_ptr<TreeStore> TreeStore::create(const std::string& file, const std::string& serverName,
                                             std::string& error) {
    std::error_code ec;
    if (fs::exists(file, ec)) {
        error = file + ": file exists";
        return nullptr;
    }
    std::shared_ptr<TreeStore> store(new TreeStore);
    store->file_ = file;
    int rc = store->db_.open(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
    if (rc != SQLITE_OK) {
        error = file + ": " + sqlite3_errstr(rc);
        return nullptr;
    }
    sqlite3_busy_timeout(store->db_.handle(), DEFAULT_BUSY_TIMEOUT_MS);
    try {
        store->db_.exec("PRAGMA journal_mode=WAL");
        store->db_.exec("PRAGMA foreign_keys=ON");
        store->db_.exec("PRAGMA synchronous=NORMAL");
        store->createSchema(serverName);
        store->loadSchema();
    } catch (const SqlError& e) {
        error = file + ": " + e.what();
        return nullptr;
    }
    return store;
}

void TreeStore::createSchema(const std::string& serverName) {
    Transaction t(db_);
    db_.exec(kSchemaSql);
    Stmt meta(db_, "INSERT INTO meta(key, value) VALUES(?, ?)");
    meta.bind(1, "format").bind(2, FORMAT).run();
    meta.reset();
    meta.bind(1, "version").bind(2, std::to_string(VERSION)).run();
    meta.reset();
    meta.bind(1, "server").bind(2, serverName).run();
    Stmt root(db_, "INSERT INTO objects(id, parent, name, name_key, class, container, mtime) "
                   "VALUES(0, NULL, '[Root]', '[root]', 'Tree Root', 1, ?)");
    root.bind(1, int64_t(::time(nullptr))).run();
    Stmt attr(db_, "INSERT INTO schema_attributes(name_key, name, syntax, single) VALUES(?, ?, ?, ?)");
    for (const SchemaEntry& e : kSchema) {
        attr.reset();
        attr.bind(1, foldName(e.name)).bind(2, e.name).bind(3, int64_t(e.syntax)).bind(4, int64_t(e.single)).run();
    }
    t.commit();
}

void TreeStore::loadSchema() {
    schema_.clear();
    Stmt s(db_, "SELECT name_key, name, syntax, single FROM schema_attributes");
    while (s.step()) {
        AttrDef def;
        def.name = s.text(1);
        def.syntax = uint32_t(s.i64(2));
        def.singleValued = s.i64(3) != 0;
        schema_[s.text(0)] = def;
    }
    // Read-only attributes the store computes from the object itself.
    schema_["object class"] = AttrDef{"Object Class", SYN_CLASS_NAME, false, true};
    for (const char* naming : {"CN", "OU", "O", "C", "L"})
        schema_[foldName(naming)] = AttrDef{naming, SYN_CI_STRING, true, true};
}

Stmt& TreeStore::stmt(const char* sql) {
    auto it = statements_.find(sql);
    if (it == statements_.end()) it = statements_.emplace(sql, std::make_unique<Stmt>(db_, sql)).first;
    it->second->reset();
    return *it->second;
}

std::string TreeStore::serverName() {
    Stmt& s = stmt("SELECT value FROM meta WHERE key = 'server'");
    std::string name = s.step() ? s.text(0) : std::string();
    s.reset();
    return name;
}

// ---------------------------------------------------------------------------------------------
// Schema

bool TreeStore::attribute(std::string_view name, AttrDef& def) {
    auto it = schema_.find(foldName(name));
    if (it == schema_.end()) return false;
    def = it->second;
    return true;
}

bool TreeStore::defineAttribute(const std::string& name, uint32_t syntax, bool singleValued) {
    AttrDef existing;
    if (attribute(name, existing)) return existing.syntax == syntax && !existing.computed;
    stmt("INSERT INTO schema_attributes(name_key, name, syntax, single) VALUES(?, ?, ?, ?)")
        .bind(1, foldName(name)).bind(2, name).bind(3, int64_t(syntax)).bind(4, int64_t(singleValued)).run();
    schema_[foldName(name)] = AttrDef{name, syntax, singleValued, false};
    return true;
}

// ---------------------------------------------------------------------------------------------
// Objects

static void readObjectRow(Stmt& s, ObjectRow& row) {
    row.id = s.i64(0);
    row.parent = s.isNull(1) ? -1 : s.i64(1);
    row.name = s.text(2);
    row.nameKey = s.text(3);
    row.className = s.text(4);
    row.container = s.i64(5) != 0;
    row.modificationTime = uint32_t(s.i64(6));
}

bool TreeStore::object(ObjectId id, ObjectRow& row) {
    Stmt& s = stmt("SELECT id, parent, name, name_key, class, container, mtime FROM objects WHERE id = ?");
    s.bind(1, id);
    bool found = s.step();
    if (found) readObjectRow(s, row);
    s.reset();
    return found;
}

bool TreeStore::child(ObjectId parent, std::string_view name, ObjectId& id) {
    Stmt& s = stmt("SELECT id FROM objects WHERE parent = ? AND name_key = ?");
    s.bind(1, parent).bind(2, foldName(name));
    bool found = s.step();
    if (found) id = s.i64(0);
    s.reset();
    return found;
}

NWDSCCODE TreeStore::resolve(const std::vector<std::string>& components, ObjectId& id) {
    ObjectId current = ROOT_ID;
    for (const std::string& c : components)
        if (c.empty() || !child(current, c, current)) return ERR_NO_SUCH_ENTRY;
    id = current;
    return 0;
}

NWDSCCODE TreeStore::resolveFullName(std::string_view fullName, ObjectId& id) {
    std::vector<std::string> components;
    if (!splitFullName(fullName, components)) return ERR_INVALID_DS_NAME;
    return resolve(components, id);
}

std::string TreeStore::fullName(ObjectId id) {
    if (id == ROOT_ID) return "[Root]";
    auto cached = containerNames_.find(id);
    if (cached != containerNames_.end()) return cached->second;
    ObjectRow row;
    if (!object(id, row)) return std::string();
    std::string name = escapeComponent(row.name);
    if (row.parent != ROOT_ID && row.parent >= 0) name += "." + fullName(row.parent);
    if (row.container) containerNames_[id] = name;
    return name;
}

NWDSCCODE TreeStore::addObject(ObjectId parent, const std::string& name, const std::string& className, ObjectId& id) {
    if (name.empty()) return ERR_INVALID_DS_NAME;
    if (names::utf8Chars(name) > MAX_RDN_CHARS) return ERR_RDN_TOO_LONG;
    ObjectRow parentRow;
    if (!object(parent, parentRow)) return ERR_NO_SUCH_ENTRY;
    if (!parentRow.container) return ERR_ILLEGAL_DS_NAME;
    std::string full = escapeComponent(name);
    if (parent != ROOT_ID) full += "." + fullName(parent);
    if (names::utf8Chars(full) > MAX_DN_CHARS || full.size() + 1 > MAX_DN_BYTES) return ERR_DN_TOO_LONG;
    ObjectId existing;
    if (child(parent, name, existing)) return ERR_ENTRY_ALREADY_EXISTS;
    ClassInfo info = classInfo(className);
    stmt("INSERT INTO objects(parent, name, name_key, class, container, mtime) VALUES(?, ?, ?, ?, ?, ?)")
        .bind(1, parent).bind(2, name).bind(3, foldName(name)).bind(4, info.name)
        .bind(5, int64_t(info.container)).bind(6, int64_t(::time(nullptr))).run();
    id = db_.lastInsertId();
    return 0;
}

std::vector<ObjectRow> TreeStore::children(ObjectId parent, const std::string& afterKey, bool containersOnly, int limit) {
    std::vector<ObjectRow> rows;
    Stmt& s = containersOnly
                  ? stmt("SELECT id, parent, name, name_key, class, container, mtime FROM objects "
                         "WHERE parent = ? AND name_key > ? AND container = 1 ORDER BY name_key LIMIT ?")
                  : stmt("SELECT id, parent, name, name_key, class, container, mtime FROM objects "
                         "WHERE parent = ? AND name_key > ? ORDER BY name_key LIMIT ?");
    s.bind(1, parent).bind(2, afterKey).bind(3, int64_t(limit));
    while (s.step()) {
        rows.emplace_back();
        readObjectRow(s, rows.back());
    }
    s.reset();
    return rows;
}

uint32_t TreeStore::subordinateCount(ObjectId id) {
    Stmt& s = stmt("SELECT count(*) FROM objects WHERE parent = ?");
    s.bind(1, id);
    uint32_t n = s.step() ? uint32_t(s.i64(0)) : 0;
    s.reset();
    return n;
}

void TreeStore::touch(ObjectId id) {
    stmt("UPDATE objects SET mtime = ? WHERE id = ?").bind(1, int64_t(::time(nullptr))).bind(2, id).run();
}

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
    ObjectRow row;
    if (!object(id, row)) return ERR_NO_SUCH_ENTRY;
    AttrDef def;
    if (!this->attribute(attribute, def)) return ERR_NO_SUCH_ATTRIBUTE;
    if (def.computed) return computedAttribute(row, def, out);
    out.name = def.name;
    out.syntax = def.syntax;
    out.values.clear();
    Stmt& s = stmt("SELECT ref, text, text2, list, bytes, number, number2 FROM attribute_values "
                   "WHERE object = ? AND attribute = ? ORDER BY id");
    s.bind(1, id).bind(2, foldName(def.name));
    // Names of referenced objects are filled after the scan: fullName() uses other statements.
    std::vector<std::pair<ObjectId, size_t>> refs;
    while (s.step()) {
        AttrValue v;
        ObjectId ref = fromRow(def, s, v);
        if (ref >= 0) refs.emplace_back(ref, out.values.size());
        out.values.push_back(std::move(v));
    }
    s.reset();
    for (auto& [ref, index] : refs)
        (def.syntax == SYN_OBJECT_ACL ? out.values[index].text2 : out.values[index].text) = fullName(ref);
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

// ---------------------------------------------------------------------------------------------
// Volumes and trustees

std::vector<TreeStore::Volume> TreeStore::volumes() {
    std::vector<Volume> out;
    Stmt& s = stmt("SELECT name, local_path FROM volumes ORDER BY name_key");
    while (s.step()) out.push_back({s.text(0), s.text(1)});
    s.reset();
    return out;
}

void TreeStore::addVolume(const std::string& name, const std::string& localPath) {
    stmt("INSERT OR REPLACE INTO volumes(name_key, name, local_path) VALUES(?, ?, ?)")
        .bind(1, foldName(name)).bind(2, name).bind(3, localPath).run();
}

bool TreeStore::volume(std::string_view name, Volume& out) {
    Stmt& s = stmt("SELECT name, local_path FROM volumes WHERE name_key = ?");
    s.bind(1, foldName(name));
    bool found = s.step();
    if (found) out = {s.text(0), s.text(1)};
    s.reset();
    return found;
}

std::string TreeStore::pathKey(std::string_view directoryPath) {
    std::string out;
    std::string part;
    auto flush = [&] {
        if (part.empty() || part == ".") {
            part.clear();
            return;
        }
        if (!out.empty()) out += '/';
        out += foldName(part);
        part.clear();
    };
    for (char c : directoryPath) {
        if (c == '/' || c == '\\') flush();
        else part += c;
    }
    flush();
    return out;
}

void TreeStore::setTrustee(const std::string& volume, const std::string& path, ObjectId object, uint32_t rights) {
    if (rights == 0) {
        stmt("DELETE FROM trustees WHERE volume = ? AND path_key = ? AND object = ?")
            .bind(1, foldName(volume)).bind(2, pathKey(path)).bind(3, object).run();
        return;
    }
    stmt("INSERT OR REPLACE INTO trustees(volume, path_key, object, rights) VALUES(?, ?, ?, ?)")
        .bind(1, foldName(volume)).bind(2, pathKey(path)).bind(3, object).bind(4, int64_t(rights)).run();
}

std::vector<std::pair<ObjectId, uint32_t>> TreeStore::trustees(const std::string& volume, const std::string& key) {
    std::vector<std::pair<ObjectId, uint32_t>> out;
    Stmt& s = stmt("SELECT object, rights FROM trustees WHERE volume = ? AND path_key = ?");
    s.bind(1, foldName(volume)).bind(2, key);
    while (s.step()) out.emplace_back(s.i64(0), uint32_t(s.i64(1)));
    s.reset();
    return out;
}

}  // namespace nw::embedded
