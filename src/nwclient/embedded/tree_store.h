// The embedded directory: one SQLite file holding objects, attribute values of every syntax,
// the attribute schema, volumes and trustee assignments.
//
// Objects form a tree below the root row (id 0). Names are compared without regard to case
// through name_key (Unicode case folding, NFC), which carries the unique index per container,
// so every name lookup is one index probe. Attribute values keep their insertion order; values
// that name objects (DN, ACL subject, back link, typed name, hold) are stored as object ids,
// so a renamed object is named correctly everywhere and a deleted one leaves no value behind.
//
// Read operations run in autocommit; callers that change several rows wrap them in a
// Transaction (BEGIN IMMEDIATE), so a change is applied whole or not at all. SQLite failures
// throw SqlError; statuses of the directory (no such value, duplicate, ...) are returned.
#pragma once

#include "nwclient/backend.h"
#include "nwclient/embedded/sqlite_db.h"
#include "nwclient/embedded/tree_check_memory.h"
#include "nwclient/nwclient.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace nw::embedded {

// Case-insensitive key of a name: Unicode case folding of the NFC form.
std::string foldName(std::string_view name);

// Full names: leaf first, dot-separated, "\." and "\\" escaped inside a component. A leading
// dot and a trailing ".[root]" are accepted and dropped. False for an empty component or a
// dangling escape.
bool splitFullName(std::string_view fullName, std::vector<std::string>& componentsFromRoot);
std::string escapeComponent(std::string_view component);

struct ClassInfo {
    std::string name;
    bool container = false;
    std::string namingAttribute;     // "CN", "OU", "O", "C", "L"
    std::vector<std::string> chain;  // the class itself, its superclasses, ..., "Top"
};
// Class hierarchy of the directory; an unknown class is a leaf below "Top".
ClassInfo classInfo(std::string_view className);

struct AttrDef {
    std::string name;                // as the schema spells it
    uint32_t syntax = 0;
    bool singleValued = false;
    bool computed = false;           // "Object Class" and the naming attributes: read only
};

struct ObjectRow {
    ObjectId id = ROOT_ID;
    ObjectId parent = -1;
    std::string name;
    std::string nameKey;
    std::string className;
    bool container = false;
    uint32_t modificationTime = 0;
};

class TreeStore {
public:
    static constexpr const char* FORMAT = "tarvel-tree";
    static constexpr int VERSION = 1;
    static constexpr int DEFAULT_BUSY_TIMEOUT_MS = 3000;

    // Opens an existing tree file. On failure returns null with status TARVEL_TREE_MISSING,
    // TARVEL_TREE_UNREADABLE (not a tree file, wrong format, no permission),
    // TARVEL_TREE_DAMAGED (SQLite's quick check or the parent links fail) or
    // TARVEL_TREE_LOCKED (still locked after the busy timeout).
    static std::shared_ptr<TreeStore> open(const std::string& file, NWCCODE& status,
                                           int busyTimeoutMs = DEFAULT_BUSY_TIMEOUT_MS);
    // Creates a new, empty tree (root only, standard schema). Refuses an existing file.
    static std::shared_ptr<TreeStore> create(const std::string& file, const std::string& serverName,
                                             std::string& error);

    // What is wrong with a tree file, one line each, from SQLite's integrity check, a walk of
    // every parent link and every object's name (nameFault and the full name's limits); empty
    // for a sound tree. False (with the reason in problems) when the file cannot be read as a
    // database at all.
    static bool check(const std::string& file, std::vector<std::string>& problems);
    // SQLite's full integrity check (every page, every index against its table), at most limit
    // findings; empty for a sound file. Reads the whole file: for a check before a large change,
    // never on opening.
    static std::vector<std::string> integrityProblems(Db& db, size_t limit);
    // SQLite's full integrity check and a walk of every parent link: what a large change asks,
    // whether or not the file was checked on opening.
    static bool passesFullCheck(Db& db);
    // Whether opening checked the file (false: it was remembered sound in this very state).
    bool checkedOnOpen() const { return checkedOnOpen_; }
    ~TreeStore();

    // Why an object's stored name cannot be handed out (empty; NUL, CR or LF, which would cut or
    // split it wherever it is shown or passed on; longer than a component may be; not matching
    // its lookup key, so that the name would name nothing), or null for a usable name.
    static const char* nameFault(std::string_view name, std::string_view nameKey);
    // A full name for the operator's eyes: control characters as \XX; an empty component shows
    // as "(leer)".
    static std::string shownName(std::string_view component, std::string_view suffix);

    Db& db() { return db_; }
    // Opened without write permission: every change answers ERR_NO_ACCESS.
    bool readOnly() const { return readOnly_; }
    const std::string& file() const { return file_; }
    std::string serverName();

    // ---- schema ----
    // False for an attribute the schema does not know.
    bool attribute(std::string_view name, AttrDef& def);
    // Adds an attribute; an existing one keeps its definition (false when its syntax differs).
    bool defineAttribute(const std::string& name, uint32_t syntax, bool singleValued);

    // ---- objects ----
    bool object(ObjectId id, ObjectRow& row);
    bool child(ObjectId parent, std::string_view name, ObjectId& id);
    // ERR_NO_SUCH_ENTRY when a component is missing.
    NWDSCCODE resolve(const std::vector<std::string>& componentsFromRoot, ObjectId& id);
    NWDSCCODE resolveFullName(std::string_view fullName, ObjectId& id);
    // Full typeless name; "[Root]" for the root, empty for an unknown id. Container names are
    // cached. Like every walk of the tree, throws a damaged-tree SqlError (SQLITE_CORRUPT) on a
    // parent link that leads nowhere or round in a circle.
    std::string fullName(ObjectId id);
    // The parent, its parent, ... up to the root (included); empty for the root or an unknown id.
    std::vector<ObjectId> ancestors(ObjectId id);
    // Adds an object; ERR_ENTRY_ALREADY_EXISTS / ERR_NO_SUCH_ENTRY (parent) on failure.
    NWDSCCODE addObject(ObjectId parent, const std::string& name, const std::string& className, ObjectId& id);
    // Up to limit subordinates whose name key sorts after afterKey, in name-key order.
    std::vector<ObjectRow> children(ObjectId parent, const std::string& afterKey, bool containersOnly, int limit);
    // The same; afterKey null: from the first subordinate on (an empty name included).
    std::vector<ObjectRow> children(ObjectId parent, const std::string* afterKey, bool containersOnly, int limit);
    // The same into rows, whose strings keep their room from page to page (a listing of many
    // pages allocates little per entry).
    void children(ObjectId parent, const std::string* afterKey, bool containersOnly, int limit,
                  std::vector<ObjectRow>& rows);
    uint32_t subordinateCount(ObjectId id);
    void touch(ObjectId id);

    // ---- attribute values ----
    // Values in stored order with object references turned into full names; computed attributes
    // included. ERR_NO_SUCH_ATTRIBUTE when there is none (or the attribute is unknown).
    NWDSCCODE readAttribute(ObjectId id, std::string_view attribute, Attribute& out);
    // Names of the stored attributes of an object, in schema spelling, sorted.
    std::vector<std::string> attributeNames(ObjectId id);
    // Applies changes without any rights check; the caller holds the transaction.
    NWDSCCODE applyChanges(ObjectId id, const std::vector<Change>& changes);
    // Referenced object ids of an attribute's DN values (Security Equals, Member, ...).
    std::vector<ObjectId> references(ObjectId id, std::string_view attribute);
    // Raw ACL values of one object: protected attribute, subject id (or -1 and subjectName for
    // the special subjects), privileges.
    struct AclEntry {
        std::string protectedAttribute;
        ObjectId subject = -1;
        std::string subjectName;
        uint32_t privileges = 0;
    };
    std::vector<AclEntry> acl(ObjectId id);
    // Equality key of a value under the attribute's syntax (case-folded where the syntax ignores
    // case; referenced objects by id). ERR_NO_SUCH_ENTRY when a named object does not exist.
    NWDSCCODE valueKey(const AttrDef& def, const AttrValue& value, std::string& key);
    bool hasValueKey(ObjectId id, const AttrDef& def, const std::string& key);

    // ---- volumes and trustees ----
    struct Volume {
        std::string name;
        std::string localPath;
    };
    std::vector<Volume> volumes();
    void addVolume(const std::string& name, const std::string& localPath);
    bool volume(std::string_view name, Volume& out);
    // Path inside a volume, folded, "/"-separated, no leading or trailing separator.
    static std::string pathKey(std::string_view directoryPath);
    void setTrustee(const std::string& volume, const std::string& path, ObjectId object, uint32_t rights);
    // Trustee assignments of the objects at one path key.
    std::vector<std::pair<ObjectId, uint32_t>> trustees(const std::string& volume, const std::string& pathKey);

    // Cached prepared statement; reset and cleared on every call.
    Stmt& stmt(const char* sql);

    // Deepest a tree can be: every component takes at least two of a name's characters.
    static constexpr size_t MAX_DEPTH = MAX_DN_CHARS / 2 + 1;
    [[noreturn]] static void damaged(const std::string& what);

private:
    TreeStore() = default;
    // Parent links that lead nowhere or in a circle, and a root with a parent; at most limit.
    static std::vector<std::string> structureProblems(Db& db, size_t limit);
    // Objects whose names the walks leave out (nameFault, or a full name past the client's
    // limits); at most limit.
    static std::vector<std::string> nameProblems(Db& db, size_t limit);
    int openChecked(const std::string& target, int flags, int busyTimeoutMs);
    // fullName of an object whose row is read already (id, name, parent, container).
    std::string fullName(const ObjectRow& row);
    int64_t dataVersion();
    void loadSchema();
    void createSchema(const std::string& serverName);
    // Turns a value into its stored row fields; resolves object names. Non-zero status when a
    // named object does not exist or the value is malformed.
    struct Row;
    NWDSCCODE toRow(const AttrDef& def, const AttrValue& value, Row& row);
    ObjectId fromRow(const AttrDef& def, Stmt& s, AttrValue& value);
    NWDSCCODE computedAttribute(const ObjectRow& row, const AttrDef& def, Attribute& out);

    Db db_;
    std::string file_;
    bool readOnly_ = false;
    bool sound_ = false;          // checked, or remembered sound, on opening
    bool checkedOnOpen_ = false;
    int64_t dataVersion_ = -1;    // after opening; another connection's commit changes it
    TreeFileState remembered_;     // the state last remembered sound, if any
    std::unordered_map<std::string, AttrDef> schema_;        // by folded name
    std::unordered_map<const char*, std::unique_ptr<Stmt>> statements_;
    std::unordered_map<ObjectId, std::string> containerNames_;
};

}  // namespace nw::embedded
