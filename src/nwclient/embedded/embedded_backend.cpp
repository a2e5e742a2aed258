#include "nwclient/embedded/embedded_backend.h"

#include "nwclient/embedded/tree_store.h"
#include "nwclient/embedded/rights.h"
#include "nwclient/names.h"

#include <algorithm>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace nw {

using embedded::ObjectRow;
using embedded::SqlError;
using embedded::TreeStore;

namespace {

constexpr NWCCODE VOLUME_DOES_NOT_EXIST = 0x8998;

NWDSCCODE statusOf(const SqlError& e) {
    switch (e.code()) {
    // Another program held the tree past the wait: that request changed nothing (each is one
    // transaction), unlike a server that did not answer.
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ERR_DS_LOCKED;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return ERR_NO_ACCESS;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_SCHEMA: return ERR_DATABASE_FORMAT;
    case SQLITE_NOMEM: return ERR_NOT_ENOUGH_MEMORY;
    default: return ERR_SYSTEM_FAILURE;
    }
}

// Runs f and turns a store failure into a directory status; nothing escapes the backend.
template <class F>
NWDSCCODE guarded(F&& f) {
    try {
        return f();
    } catch (const SqlError& e) {
        return statusOf(e);
    } catch (const std::bad_alloc&) {
        return ERR_NOT_ENOUGH_MEMORY;
    } catch (const std::exception&) {
        return ERR_SYSTEM_FAILURE;
    }
}

ObjectSummary summaryOf(TreeStore& store, const ObjectRow& row, std::string name) {
    ObjectSummary s;
    s.id = row.id;
    s.name = std::move(name);
    s.baseClass = row.className;
    s.flags = row.container ? DS_CONTAINER_ENTRY : 0;
    s.subordinateCount = row.container ? store.subordinateCount(row.id) : 0;
    s.modificationTime = row.modificationTime;
    return s;
}

// An entry whose name cannot be handed out (TreeStore::nameFault, or a full name past the
// client's limits) would be cut, split or refused wherever it is shown or passed on, or name
// nothing when used. The listing or search leaves it out, goes on, and ends with
// TARVEL_LDAP_INCOMPLETE; such entries are named, one a line, for the operator to fix.
// One per container's page: the full name is put together in the same room for every entry.
class UsableNames {
public:
    void setSuffix(std::string suffix) { suffix_ = std::move(suffix); }
    const std::string& suffix() const { return suffix_; }
    // The escaped full name of row in this container.
    const std::string& fullName(const ObjectRow& row) {
        // Escaping changes only a name with a dot or a backslash in it.
        if (plain(row.name)) full_.assign(row.name);
        else full_ = embedded::escapeComponent(row.name);
        full_ += suffix_;
        return full_;
    }

    bool unusable(const ObjectRow& row) {
        if (TreeStore::nameFault(row.name, row.nameKey) != nullptr) return true;
        // No more bytes than a full name may have characters keep within both limits: a listing
        // spells out no full name for the usual entry.
        if (row.name.size() + suffix_.size() <= MAX_DN_CHARS && plain(row.name)) return false;
        return names::checkDnLimits(fullName(row)) != 0;
    }

private:
    static bool plain(const std::string& name) {
        return std::none_of(name.begin(), name.end(), [](char c) { return c == '.' || c == '\\'; });
    }

    std::string suffix_, full_;
};

void noteUnusable(std::string& problems, const ObjectRow& row, const std::string& suffix) {
    if (!problems.empty()) problems += "\r\n";
    problems += TreeStore::shownName(row.name, suffix);
}

constexpr NWDSCCODE INCOMPLETE = static_cast<NWDSCCODE>(TARVEL_LDAP_INCOMPLETE);
constexpr NWDSCCODE TREE_DAMAGED = static_cast<NWDSCCODE>(TARVEL_TREE_DAMAGED);
// A change of more users than this first runs SQLite's full check of the file.
constexpr size_t FULL_CHECK_ABOVE_USERS = 50;

// Where the next page starts. Keys must grow from page to page; a damaged index that hands a
// page back out of order would otherwise be paged through for ever.
void advance(std::optional<std::string>& lastKey, const std::vector<ObjectRow>& rows) {
    if (lastKey && rows.back().nameKey <= *lastKey) TreeStore::damaged("the index of names is out of order");
    lastKey = rows.back().nameKey;
}

// Subordinates of one container, a page at a time, by name key (keyset pagination: each page
// is one index range scan, whatever has been added or removed meanwhile).
class ListCursor : public ObjectCursor {
public:
    ListCursor(std::shared_ptr<TreeStore> store, ObjectId container, bool containersOnly, int pageSize,
               std::shared_ptr<std::string> problem)
        : store_(std::move(store)), container_(container), containersOnly_(containersOnly), pageSize_(pageSize),
          problem_(std::move(problem)) {}

    NWDSCCODE next(std::vector<ObjectSummary>& page) override {
        page.clear();
        if (done_) return 0;
        return guarded([&]() -> NWDSCCODE {
            // A page's statements (the container, its entries, a count for each container among
            // them) share one taking of the file's locks.
            embedded::ReadTransaction reading(store_->db());
            ObjectRow self;
            if (!store_->object(container_, self)) {
                done_ = true;
                return ERR_NO_SUCH_ENTRY;
            }
            for (;;) {
                store_->children(container_, lastKey_ ? &*lastKey_ : nullptr, containersOnly_, pageSize_, rows_);
                if (rows_.empty()) {
                    done_ = true;
                    if (bad_.empty()) return 0;
                    *problem_ = bad_;
                    return INCOMPLETE;
                }
                advance(lastKey_, rows_);
                page.reserve(rows_.size());
                names_.setSuffix(container_ == ROOT_ID ? std::string() : "." + store_->fullName(container_));
                for (const ObjectRow& r : rows_) {
                    if (!names_.unusable(r)) page.push_back(summaryOf(*store_, r, r.name));
                    else noteUnusable(bad_, r, names_.suffix());
                }
                // A page of unusable names alone is no end of the listing.
                if (!page.empty()) return 0;
            }
        });
    }

private:
    std::shared_ptr<TreeStore> store_;
    ObjectId container_;
    bool containersOnly_;
    int pageSize_;
    std::shared_ptr<std::string> problem_;
    std::optional<std::string> lastKey_;  // none before the first page
    std::vector<ObjectRow> rows_;         // the last page read, kept for its room
    UsableNames names_;
    std::string bad_;
    bool done_ = false;
};

// Walks the subtree breadth first, one container's page at a time; memory holds the containers
// met (to stop on a damaged tree that leads round in a circle), those still to visit and one page.
// A failure ends the search: later calls answer it again.
class SearchCursor : public ObjectCursor {
public:
    using Match = std::function<bool(const ObjectRow&)>;

    SearchCursor(std::shared_ptr<TreeStore> store, ObjectId base, Match match, int pageSize,
                 std::shared_ptr<std::string> problem)
        : store_(std::move(store)), match_(std::move(match)), pageSize_(pageSize), problem_(std::move(problem)) {
        pending_.push_back(base);
        visited_.insert(base);
    }

    NWDSCCODE next(std::vector<ObjectSummary>& page) override {
        page.clear();
        if (failure_) return failure_;
        failure_ = guarded([&]() -> NWDSCCODE {
            // The page's statements share one taking of the file's locks: a match on a stored
            // value asks a query of every entry.
            embedded::ReadTransaction reading(store_->db());
            while (page.size() < size_t(pageSize_)) {
                if (current_ < 0) {
                    if (pending_.empty()) {
                        if (bad_.empty() || !page.empty()) return 0;
                        *problem_ = bad_;
                        return INCOMPLETE;
                    }
                    current_ = pending_.front();
                    pending_.pop_front();
                    names_.setSuffix(current_ == ROOT_ID ? std::string() : "." + store_->fullName(current_));
                    lastKey_.reset();
                }
                store_->children(current_, lastKey_ ? &*lastKey_ : nullptr, false, pageSize_, rows_);
                if (rows_.empty()) {
                    current_ = -1;
                    continue;
                }
                advance(lastKey_, rows_);
                const std::string& suffix = names_.suffix();
                for (const ObjectRow& r : rows_) {
                    // Nothing below an unusable name can be named either.
                    if (names_.unusable(r)) {
                        if (r.container || match_(r)) noteUnusable(bad_, r, suffix);
                        continue;
                    }
                    // A damaged tree may lead back to a container already walked: never go round.
                    if (r.container && !visited_.insert(r.id).second)
                        TreeStore::damaged("object " + std::to_string(r.id) + " is its own ancestor");
                    if (r.container) pending_.push_back(r.id);
                    if (match_(r)) page.push_back(summaryOf(*store_, r, names_.fullName(r)));
                }
            }
            return 0;
        });
        if (failure_) page.clear();
        return failure_;
    }

private:
    std::shared_ptr<TreeStore> store_;
    Match match_;
    int pageSize_;
    std::deque<ObjectId> pending_;
    std::unordered_set<ObjectId> visited_;
    std::shared_ptr<std::string> problem_;
    std::string bad_;
    NWDSCCODE failure_ = 0;
    ObjectId current_ = -1;
    UsableNames names_;                   // of the container being walked
    std::optional<std::string> lastKey_;  // none before the first page
    std::vector<ObjectRow> rows_;         // the last page read, kept for its room
};

class EmptyCursor : public ObjectCursor {
public:
    NWDSCCODE next(std::vector<ObjectSummary>& page) override {
        page.clear();
        return 0;
    }
};

class EmbeddedBackend : public DirectoryBackend {
public:
    EmbeddedBackend(std::shared_ptr<TreeStore> store, ObjectId op, const EmbeddedOptions& options)
        : store_(std::move(store)), rights_(*store_, op), options_(options) {}

    std::string serverName() override {
        std::string name;
        guarded([&] {
            name = store_->serverName();
            return 0;
        });
        return name.substr(0, 48);
    }

    NWDSCCODE resolve(const std::vector<std::string>& components, ObjectId& id) override {
        return guarded([&] { return store_->resolve(components, id); });
    }

    NWDSCCODE describe(ObjectId id, std::string& fullName, ObjectSummary& summary) override {
        return guarded([&]() -> NWDSCCODE {
            ObjectRow row;
            if (!store_->object(id, row)) return ERR_NO_SUCH_ENTRY;
            // The root has no name of its own; the client spells it "[root]".
            fullName = id == ROOT_ID ? std::string() : store_->fullName(id);
            summary = summaryOf(*store_, row, row.name);
            return 0;
        });
    }

    NWDSCCODE list(ObjectId container, bool containersOnly, std::unique_ptr<ObjectCursor>& cursor) override {
        return guarded([&]() -> NWDSCCODE {
            ObjectRow row;
            if (!store_->object(container, row)) return ERR_NO_SUCH_ENTRY;
            if (!row.container) cursor = std::make_unique<EmptyCursor>();
            else cursor = std::make_unique<ListCursor>(store_, container, containersOnly, options_.pageSize, problem_);
            return 0;
        });
    }

    NWDSCCODE search(ObjectId base, const std::string& attribute, const std::string& value,
                     std::unique_ptr<ObjectCursor>& cursor) override {
        return guarded([&]() -> NWDSCCODE {
            ObjectRow row;
            if (!store_->object(base, row)) return ERR_NO_SUCH_ENTRY;
            SearchCursor::Match match;
            if (!matcher(attribute, value, match)) {
                cursor = std::make_unique<EmptyCursor>();
                return 0;
            }
            cursor = std::make_unique<SearchCursor>(store_, base, std::move(match), options_.pageSize, problem_);
            return 0;
        });
    }

    std::string problemDetail() override { return *problem_; }

    NWDSCCODE readAttribute(ObjectId id, const std::string& attribute, Attribute& out) override {
        return guarded([&] { return store_->readAttribute(id, attribute, out); });
    }

    NWDSCCODE attributeSyntax(const std::string& attribute, uint32_t& syntax) override {
        embedded::AttrDef def;
        if (!store_->attribute(attribute, def)) return ERR_NO_SUCH_ATTRIBUTE;
        syntax = def.syntax;
        return 0;
    }

    NWDSCCODE modify(ObjectId id, const std::vector<Change>& changes) override {
        return guarded([&]() -> NWDSCCODE {
            if (store_->readOnly()) return ERR_NO_ACCESS;
            embedded::Transaction t(store_->db());
            ObjectRow row;
            if (!store_->object(id, row)) return ERR_NO_SUCH_ENTRY;
            for (const Change& c : changes) {
                embedded::AttrDef def;
                if (!store_->attribute(c.attribute, def)) return ERR_NO_SUCH_ATTRIBUTE;
                if (!rights_.mayChange(id, def, c)) return ERR_NO_ACCESS;
            }
            if (NWDSCCODE st = store_->applyChanges(id, changes)) return st;
            t.commit();
            return 0;
        });
    }

    NWDSCCODE addSecurityEquivalence(ObjectId user, ObjectId group) override {
        return changeEquivalence(user, group, true);
    }

    NWDSCCODE removeSecurityEquivalence(ObjectId user, ObjectId group) override {
        return changeEquivalence(user, group, false);
    }

    // Each user in one transaction of its own (Security Equals, the group's Equivalent To Me and
    // Group Membership), so a user left by a busy tree or a failure is unchanged, never half
    // done. A large change first runs SQLite's full check and walks every parent link: damage
    // the cheap check on opening cannot see (an index out of step with its table), or that came
    // after the check the opening remembered, would let the change write beside it.
    NWDSCCODE changeUserSides(ObjectId group, bool add, const std::vector<ObjectId>& users, const BatchAnswer& answer,
                              const BatchCancel& cancel) override {
        if (users.size() > FULL_CHECK_ABOVE_USERS) {
            NWDSCCODE st = guarded([&]() -> NWDSCCODE {
                return TreeStore::passesFullCheck(store_->db()) ? 0 : TREE_DAMAGED;
            });
            if (st == ERR_DATABASE_FORMAT) st = TREE_DAMAGED;
            if (st) return st;
        }
        for (size_t i = 0; i < users.size(); ++i) {
            if (cancel && cancel()) break;
            NWDSCCODE st = guarded([&] { return changeUserSide(users[i], group, add); });
            if (answer) answer(i, st);
            if (st) return st;
        }
        return 0;
    }

    NWDSCCODE readStream(ObjectId id, const std::string& attribute, std::string& contents) override {
        return guarded([&]() -> NWDSCCODE {
            Attribute a;
            if (NWDSCCODE st = store_->readAttribute(id, attribute, a)) return st;
            if (a.syntax != SYN_STREAM) return ERR_INVALID_ATTR_SYNTAX;
            contents = a.values.front().bytes;
            return 0;
        });
    }

    NWCCODE serverDateTime(uint8_t dateTime[7]) override {
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        if (!localtime_r(&now, &tm)) return NWE_SERVER_UNKNOWN;
        dateTime[0] = uint8_t(tm.tm_year);
        dateTime[1] = uint8_t(tm.tm_mon + 1);
        dateTime[2] = uint8_t(tm.tm_mday);
        dateTime[3] = uint8_t(tm.tm_hour);
        dateTime[4] = uint8_t(tm.tm_min);
        dateTime[5] = uint8_t(tm.tm_sec);
        dateTime[6] = uint8_t(tm.tm_wday);
        return 0;
    }

    std::vector<VolumeInfo> volumes() override {
        std::vector<VolumeInfo> out;
        guarded([&] {
            std::string server = store_->serverName();
            // A relative folder lies beside the tree file, so a tree and its volumes move together.
            std::filesystem::path treeFolder = std::filesystem::absolute(store_->file()).parent_path();
            for (const TreeStore::Volume& v : store_->volumes()) {
                std::filesystem::path local(v.localPath);
                if (local.is_relative()) local = (treeFolder / local).lexically_normal();
                out.push_back({server, v.name, local.string()});
            }
            return 0;
        });
        return out;
    }

    NWCCODE effectiveRights(const std::string& volume, const std::string& directoryPath, uint16_t& rights) override {
        NWCCODE result = 0;
        NWDSCCODE st = guarded([&]() -> NWDSCCODE {
            TreeStore::Volume v;
            if (!store_->volume(volume, v)) {
                result = VOLUME_DOES_NOT_EXIST;
                return 0;
            }
            rights = rights_.fileRights(v.name, directoryPath);
            return 0;
        });
        if (st) return INVALID_PATH;
        return result;
    }

private:
    // Object Class matches the class and its superclasses; a naming attribute the object's own
    // name; any other attribute a stored value equal under the attribute's syntax.
    bool matcher(const std::string& attribute, const std::string& value, SearchCursor::Match& match) {
        embedded::AttrDef def;
        if (!store_->attribute(attribute, def)) return false;
        if (def.name == "Object Class") {
            std::string wanted = embedded::foldName(value);
            auto cache = std::make_shared<std::unordered_map<std::string, bool>>();
            match = [wanted, cache](const ObjectRow& r) {
                auto it = cache->find(r.className);
                if (it == cache->end()) {
                    bool hit = false;
                    for (const std::string& c : embedded::classInfo(r.className).chain)
                        hit = hit || embedded::foldName(c) == wanted;
                    it = cache->emplace(r.className, hit).first;
                }
                return it->second;
            };
            return true;
        }
        if (def.computed) {
            std::string wanted = embedded::foldName(value);
            std::string naming = embedded::foldName(def.name);
            match = [wanted, naming](const ObjectRow& r) {
                return r.nameKey == wanted && embedded::foldName(embedded::classInfo(r.className).namingAttribute) == naming;
            };
            return true;
        }
        AttrValue v;
        if (def.syntax == SYN_CI_LIST) v.list.push_back(value);
        else if (def.syntax == SYN_OBJECT_ACL) v.text2 = value;
        else v.text = value;
        std::string key;
        if (store_->valueKey(def, v, key) != 0) return false;
        std::shared_ptr<TreeStore> store = store_;
        match = [store, def, key](const ObjectRow& r) { return store->hasValueKey(r.id, def, key); };
        return true;
    }

    NWDSCCODE changeEquivalence(ObjectId user, ObjectId group, bool add) {
        return guarded([&]() -> NWDSCCODE {
            if (store_->readOnly()) return ERR_NO_ACCESS;
            embedded::Transaction t(store_->db());
            ObjectRow u, g;
            if (!store_->object(user, u) || !store_->object(group, g)) return ERR_NO_SUCH_ENTRY;
            if (!rights_.mayChangeEquivalence(user, group)) return ERR_NO_ACCESS;
            const bool userHas = holds(user, "Security Equals", group);
            const bool groupHas = holds(group, "Equivalent To Me", user);
            // A side already in step is left alone; the other one is completed (an interrupted run).
            if (add == userHas && add == groupHas) return add ? ERR_DUPLICATE_VALUE : ERR_NO_SUCH_VALUE;
            if (NWDSCCODE st = setEquivalence(user, group, add)) return st;
            t.commit();
            return 0;
        });
    }

    // Whether object's attribute (syntax DN) names target.
    bool holds(ObjectId object, const char* attribute, ObjectId target) {
        embedded::AttrDef def;
        store_->attribute(attribute, def);
        AttrValue value;
        value.text = store_->fullName(target);
        std::string key;
        return store_->valueKey(def, value, key) == 0 && store_->hasValueKey(object, def, key);
    }

    // Brings object's attribute to hold (or not hold) target; a value already in step is left
    // alone. The caller holds the transaction and has checked the rights.
    NWDSCCODE setValue(ObjectId object, const char* attribute, ObjectId target, bool wanted) {
        if (holds(object, attribute, target) == wanted) return 0;
        AttrValue value;
        value.text = store_->fullName(target);
        return store_->applyChanges(
            object, {Change{wanted ? DS_ADDITIONAL_VALUE : DS_REMOVE_VALUE, attribute, SYN_DIST_NAME, {value}}});
    }

    // Security Equals on the user and the group's Equivalent To Me, the group's side following
    // the user's.
    NWDSCCODE setEquivalence(ObjectId user, ObjectId group, bool add) {
        if (NWDSCCODE st = setValue(user, "Security Equals", group, add)) return st;
        return setValue(group, "Equivalent To Me", user, add);
    }

    NWDSCCODE changeUserSide(ObjectId user, ObjectId group, bool add) {
        if (store_->readOnly()) return ERR_NO_ACCESS;
        embedded::Transaction t(store_->db());
        ObjectRow u, g;
        if (!store_->object(user, u) || !store_->object(group, g)) return ERR_NO_SUCH_ENTRY;
        embedded::AttrDef membership;
        store_->attribute("Group Membership", membership);
        AttrValue groupValue;
        groupValue.text = store_->fullName(group);
        const Change change{add ? DS_ADDITIONAL_VALUE : DS_REMOVE_VALUE, membership.name, SYN_DIST_NAME, {groupValue}};
        if (!rights_.mayChangeEquivalence(user, group) || !rights_.mayChange(user, membership, change))
            return ERR_NO_ACCESS;
        if (NWDSCCODE st = setEquivalence(user, group, add)) return st;
        if (NWDSCCODE st = setValue(user, "Group Membership", group, add)) return st;
        t.commit();
        return 0;
    }

    std::shared_ptr<TreeStore> store_;
    embedded::Rights rights_;
    EmbeddedOptions options_;
    std::shared_ptr<std::string> problem_ = std::make_shared<std::string>();
};

}  // namespace

std::unique_ptr<DirectoryBackend> makeEmbeddedBackend(const std::string& treeFile, const std::string& operatorName,
                                                      NWCCODE& status, const EmbeddedOptions& options) {
    std::shared_ptr<TreeStore> store = TreeStore::open(treeFile, status, options.busyTimeoutMs);
    if (!store) return nullptr;
    ObjectId op = -1;
    if (!operatorName.empty()) {
        NWDSCCODE st = guarded([&] { return store->resolveFullName(operatorName, op); });
        if (st == ERR_DS_LOCKED) {
            status = TARVEL_TREE_LOCKED;
            return nullptr;
        }
        if (st != 0 || op == ROOT_ID) {
            status = TARVEL_OPERATOR_UNKNOWN;
            return nullptr;
        }
    }
    status = 0;
    return std::make_unique<EmbeddedBackend>(std::move(store), op, options);
}

std::unique_ptr<DirectoryBackend> makeEmbeddedBackend(const std::string& treeFile, const std::string& operatorName,
                                                      NWCCODE& status) {
    return makeEmbeddedBackend(treeFile, operatorName, status, EmbeddedOptions());
}

NWCCODE embeddedOptionsOf(const ClientConfig& config, EmbeddedOptions& options) {
    options = EmbeddedOptions();
    auto it = config.values.find("locktimeout");
    if (it == config.values.end()) return SUCCESSFUL;
    const std::string& text = it->second;
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
        return TARVEL_CONFIGURATION_INVALID;
    const int seconds = std::stoi(text);
    if (seconds > 3600) return TARVEL_CONFIGURATION_INVALID;
    options.busyTimeoutMs = seconds * 1000;
    return SUCCESSFUL;
}

}  // namespace nw
