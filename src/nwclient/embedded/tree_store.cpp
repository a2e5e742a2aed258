#include "nwclient/embedded/tree_store.h"

#include "nwclient/embedded/tree_check_memory.h"
#include "nwclient/names.h"
#include "nwclient/nwclient.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <unordered_map>
#include <sys/stat.h>
#include <unistd.h>

namespace nw::embedded {

namespace fs = std::filesystem;

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
    sound_ = false;
    // Taken before anything is read: a write after it makes the file differ from what is remembered.
    TreeFileState before;
    const bool stated = readTreeFileState(file_, before);
    const bool known = stated && checkRemembered(before);
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
        // A damaged file must not pass for a smaller tree: a stop would miss pupils and say it
        // is done, and a walk could go round for ever.
        // The quick check leaves out whether the indexes hold what the tables hold; for the
        // objects (whose index every listing and search walks) that is checked as well.
        // A file in the state of its last clean check is not checked again.
        checkedOnOpen_ = !known;
        if (checkedOnOpen_) {
            for (const char* check : {"PRAGMA quick_check", "PRAGMA integrity_check(objects)"}) {
                Stmt q(db_, check);
                while (q.step())
                    if (q.text(0) != "ok") return SQLITE_CORRUPT;
            }
            if (!structureProblems(db_, 1).empty()) return SQLITE_CORRUPT;
            if (stated && rememberCheck(before, false)) remembered_ = before;
        } else {
            remembered_ = before;
        }
        readOnly_ = sqlite3_db_readonly(db_.handle(), "main") != 0;
        if (!readOnly_) {
            Stmt s(db_, "PRAGMA journal_mode");
            if (s.step() && s.text(0) != "wal") {
                Stmt w(db_, "PRAGMA journal_mode=WAL");
                w.run();
            }
        }
        loadSchema();
        dataVersion_ = dataVersion();
    } catch (const SqlError& e) {
        return e.code();
    }
    sound_ = true;
    return SQLITE_OK;
}

int64_t TreeStore::dataVersion() {
    Stmt s(db_, "PRAGMA data_version");
    return s.step() ? s.i64(0) : -1;
}

// A tree that was sound on opening and changed since by this connection alone (no other one
// committed: its data version is unchanged) is sound now: its state after closing is
// remembered, so the next opening need not check it.
TreeStore::~TreeStore() {
    if (!sound_ || readOnly_) return;
    try {
        const bool onlyOurs = dataVersion() == dataVersion_;
        statements_.clear();
        db_.close();
        TreeFileState after;
        if (onlyOurs && readTreeFileState(file_, after) && !(after == remembered_)) rememberCheck(after, true);
    } catch (const SqlError&) {
    }
}

bool TreeStore::passesFullCheck(Db& db) { return integrityProblems(db, 1).empty() && structureProblems(db, 1).empty(); }

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
        status = rc == SQLITE_BUSY || rc == SQLITE_LOCKED ? TARVEL_TREE_LOCKED
                 : rc == SQLITE_CORRUPT                   ? TARVEL_TREE_DAMAGED
                                                          : TARVEL_TREE_UNREADABLE;
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

std::vector<std::string> TreeStore::structureProblems(Db& db, size_t limit) {
    struct Link {
        ObjectId parent;
        bool container;
    };
    std::unordered_map<ObjectId, Link> links;
    {
        Stmt s(db, "SELECT id, parent, container FROM objects NOT INDEXED");
        while (s.step()) links[s.i64(0)] = Link{s.isNull(1) ? -1 : s.i64(1), s.i64(2) != 0};
    }
    std::vector<std::string> problems;
    auto nameOf = [&](ObjectId id) {
        Stmt s(db, "SELECT name FROM objects WHERE id = ?");
        s.bind(1, id);
        return "object " + std::to_string(id) + (s.step() ? " (" + s.text(0) + ")" : std::string());
    };
    auto found = [&](const std::string& problem) {
        if (problems.size() < limit) problems.push_back(problem);
    };
    auto root = links.find(ROOT_ID);
    if (root == links.end()) found("the root (object 0) is missing");
    else if (root->second.parent >= 0) found("the root has a parent: " + nameOf(root->second.parent));
    // Every object must lead up to the root through containers. Each is walked once: 1 while on
    // the current walk, 2 leads to the root, 3 does not (its fault is already told).
    std::unordered_map<ObjectId, char> state{{ROOT_ID, 2}};
    std::vector<ObjectId> path;
    for (const auto& [id, link] : links) {
        if (problems.size() >= limit) break;
        path.clear();
        char outcome = 3;
        for (ObjectId current = id;;) {
            auto st = state.find(current);
            if (st != state.end()) {
                if (st->second == 1) found("the parent links of " + nameOf(current) + " go round in a circle");
                else outcome = st->second;
                break;
            }
            state[current] = 1;
            path.push_back(current);
            const ObjectId parent = links[current].parent;
            auto p = links.find(parent);
            if (parent < 0) {
                found(nameOf(current) + " has no parent");
                break;
            }
            if (p == links.end()) {
                found(nameOf(current) + " names parent " + std::to_string(parent) + ", which does not exist");
                break;
            }
            if (!p->second.container) {
                found(nameOf(current) + " lies below " + nameOf(parent) + ", which is no container");
                break;
            }
            current = parent;
        }
        for (ObjectId o : path) state[o] = outcome;
    }
    return problems;
}

bool TreeStore::check(const std::string& file, std::vector<std::string>& problems) {
    problems.clear();
    std::error_code ec;
    if (!fs::exists(file, ec)) {
        problems.push_back("no such file");
        return false;
    }
    Db db;
    int rc = db.open(fileUri(file, "?mode=ro"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    if ((rc & 0xFF) == SQLITE_CANTOPEN || (rc & 0xFF) == SQLITE_READONLY) {
        db.close();
        rc = db.open(fileUri(file, "?mode=ro&immutable=1"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    }
    if (rc != SQLITE_OK) {
        problems.push_back(sqlite3_errstr(rc));
        return false;
    }
    try {
        for (std::string& p : integrityProblems(db, 100)) problems.push_back("SQLite: " + p);
    } catch (const SqlError& e) {
        problems.push_back(std::string("SQLite: ") + e.what());
        if (e.code() == SQLITE_NOTADB) return false;
    }
    try {
        for (std::string& p : structureProblems(db, 100)) problems.push_back(std::move(p));
    } catch (const SqlError& e) {
        problems.push_back(std::string("cannot walk the parent links: ") + e.what());
    }
    try {
        for (std::string& p : nameProblems(db, 100)) problems.push_back(std::move(p));
    } catch (const SqlError& e) {
        problems.push_back(std::string("cannot read the names: ") + e.what());
    }
    return true;
}

std::vector<std::string> TreeStore::integrityProblems(Db& db, size_t limit) {
    std::vector<std::string> problems;
    Stmt s(db, "PRAGMA integrity_check(" + std::to_string(std::max<size_t>(limit, 1)) + ")");
    while (s.step())
        if (s.text(0) != "ok") problems.push_back(s.text(0));
    return problems;
}

std::vector<std::string> TreeStore::nameProblems(Db& db, size_t limit) {
    struct Entry {
        ObjectId parent;
        std::string name, key;
    };
    std::unordered_map<ObjectId, Entry> rows;
    {
        Stmt s(db, "SELECT id, parent, name, name_key FROM objects NOT INDEXED");
        while (s.step()) rows[s.i64(0)] = Entry{s.isNull(1) ? -1 : s.i64(1), s.text(2), s.text(3)};
    }
    std::vector<std::string> problems;
    for (const auto& [id, row] : rows) {
        if (problems.size() >= limit) break;
        if (id == ROOT_ID) continue;
        // The suffix as the walks build it; a broken parent link is told by structureProblems.
        std::string suffix;
        bool linked = true;
        size_t depth = 0;
        for (ObjectId p = row.parent; p != ROOT_ID; p = rows.at(p).parent) {
            if (!rows.count(p) || ++depth > MAX_DEPTH) {
                linked = false;
                break;
            }
            suffix += "." + escapeComponent(rows.at(p).name);
        }
        const char* fault = nameFault(row.name, row.key);
        if (!fault && linked && names::checkDnLimits(escapeComponent(row.name) + suffix) != 0)
            fault = "its full name is longer than 256 characters or 513 bytes";
        if (fault)
            problems.push_back("object " + std::to_string(id) + " (" + shownName(row.name, linked ? suffix : "") +
                               "): " + fault);
    }
    return problems;
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

}  // namespace nw::embedded
