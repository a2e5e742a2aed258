// The embedded backend straight through DirectoryBackend, on the demo school and on generated
// trees: names, listing and search pages, values, changes and their statuses, rights, locks,
// damaged files.
#include "nwclient/embedded/embedded_backend.h"
#include "nwclient/embedded/tree_builder.h"
#include "nwclient/embedded/tree_store.h"

#include "temp_trees.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nw;
using testsupport::TempDir;

namespace {

const std::string kAdmin = "admin.UNTERRICHT";
const std::string kTeacher = "lehrer1.LEHRER.UNTERRICHT";
const std::string kDeny = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";

std::string demoTree(const TempDir& dir) {
    std::string file = dir.file("school.tree");
    std::string out;
    if (testsupport::runTreeTool("init --demo " + file, &out) != 0) throw std::runtime_error(out);
    return file;
}

std::unique_ptr<DirectoryBackend> open(const std::string& file, const std::string& op, EmbeddedOptions options = {}) {
    NWCCODE status = 1;
    auto backend = makeEmbeddedBackend(file, op, status, options);
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(backend);
    return backend;
}

ObjectId idOf(DirectoryBackend& b, const std::string& fullName) {
    std::vector<std::string> components;
    EXPECT_TRUE(embedded::splitFullName(fullName, components)) << fullName;
    ObjectId id = -1;
    EXPECT_EQ(b.resolve(components, id), 0) << fullName;
    return id;
}

std::vector<std::string> values(DirectoryBackend& b, const std::string& object, const std::string& attribute) {
    Attribute a;
    std::vector<std::string> out;
    NWDSCCODE st = b.readAttribute(idOf(b, object), attribute, a);
    if (st == ERR_NO_SUCH_ATTRIBUTE) return out;
    EXPECT_EQ(st, 0);
    for (const AttrValue& v : a.values) out.push_back(v.text);
    return out;
}

AttrValue dn(const std::string& name) {
    AttrValue v;
    v.text = name;
    return v;
}

Change change(uint32_t type, const std::string& attribute, std::vector<AttrValue> vals, uint32_t syntax = SYN_DIST_NAME) {
    return Change{type, attribute, syntax, std::move(vals)};
}

std::vector<ObjectSummary> drain(ObjectCursor& cursor, size_t* pages = nullptr) {
    std::vector<ObjectSummary> all, page;
    for (;;) {
        EXPECT_EQ(cursor.next(page), 0);
        if (page.empty()) break;
        if (pages) ++*pages;
        all.insert(all.end(), page.begin(), page.end());
    }
    return all;
}

// The users "tarvel-tree generate" made (U0000001, ...), found by a search from the root.
std::vector<ObjectId> generatedUsers(DirectoryBackend& b) {
    std::vector<ObjectId> users;
    std::unique_ptr<ObjectCursor> cursor;
    EXPECT_EQ(b.search(ROOT_ID, "Object Class", "User", cursor), 0);
    if (!cursor) return users;
    for (const ObjectSummary& s : drain(*cursor))
        if (s.name.rfind("U0", 0) == 0) users.push_back(s.id);
    return users;
}

// A pupil of a class, by position in the listing.
std::string pupil(DirectoryBackend& b, const std::string& klasse, size_t index = 0) {
    std::unique_ptr<ObjectCursor> cursor;
    EXPECT_EQ(b.list(idOf(b, klasse + ".SCHUELER.UNTERRICHT"), false, cursor), 0);
    std::vector<std::string> users;
    for (const ObjectSummary& s : drain(*cursor))
        if (s.baseClass == "User") users.push_back(s.name + "." + klasse + ".SCHUELER.UNTERRICHT");
    return users.at(index);
}

}  // namespace

TEST(EmbeddedOpen, BadFilesAndOperatorsAreStatusesNotCrashes) {
    TempDir dir;
    NWCCODE status = 0;
    EXPECT_FALSE(makeEmbeddedBackend(dir.file("none.tree"), "", status));
    EXPECT_EQ(status, TARVEL_TREE_MISSING);

    testsupport::writeFile(dir.file("garbage.tree"), std::string(5000, '\x7f') + "no database here");
    EXPECT_FALSE(makeEmbeddedBackend(dir.file("garbage.tree"), "", status));
    EXPECT_EQ(status, TARVEL_TREE_UNREADABLE);

    testsupport::writeFile(dir.file("empty.tree"), "");
    EXPECT_FALSE(makeEmbeddedBackend(dir.file("empty.tree"), "", status));
    EXPECT_EQ(status, TARVEL_TREE_UNREADABLE);

    EXPECT_FALSE(makeEmbeddedBackend(dir.path(), "", status));
    EXPECT_EQ(status, TARVEL_TREE_UNREADABLE);

    // A database, but somebody else's.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file("other.db").c_str(), &other), SQLITE_OK);
    sqlite3_exec(other, "CREATE TABLE meta(key TEXT, value TEXT); INSERT INTO meta VALUES('format','x');", nullptr,
                 nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_FALSE(makeEmbeddedBackend(dir.file("other.db"), "", status));
    EXPECT_EQ(status, TARVEL_TREE_UNREADABLE);

    std::string tree = demoTree(dir);
    EXPECT_FALSE(makeEmbeddedBackend(tree, "nobody.UNTERRICHT", status));
    EXPECT_EQ(status, TARVEL_OPERATOR_UNKNOWN);
    EXPECT_FALSE(makeEmbeddedBackend(tree, "admin..UNTERRICHT", status));
    EXPECT_EQ(status, TARVEL_OPERATOR_UNKNOWN);
    EXPECT_TRUE(makeEmbeddedBackend(tree, "", status));
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(makeEmbeddedBackend(tree, ".ADMIN.unterricht", status)) << "operator names ignore case";
}

TEST(EmbeddedOpen, LockedTreeAnswersWithAStatusInsteadOfHanging) {
    TempDir dir;
    std::string tree = demoTree(dir);
    EmbeddedOptions quick;
    quick.busyTimeoutMs = 100;
    auto backend = open(tree, kAdmin, quick);
    ObjectId gast = idOf(*backend, "Gast03.PROJEKTE.UNTERRICHT");

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(tree.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    // Another writer holds the tree: a change says so (no server to blame) and changes nothing,
    // reading still works (WAL).
    EXPECT_EQ(backend->modify(gast, {change(DS_ADD_VALUE, "Group Membership", {dn(kDeny)})}), ERR_DS_LOCKED);
    EXPECT_EQ(backend->addSecurityEquivalence(gast, idOf(*backend, kDeny)), ERR_DS_LOCKED);
    std::vector<NWDSCCODE> answers;
    EXPECT_EQ(backend->changeUserSides(idOf(*backend, kDeny), true, {gast},
                                       [&](size_t, NWDSCCODE st) { answers.push_back(st); }, nullptr),
              ERR_DS_LOCKED);
    EXPECT_EQ(answers, std::vector<NWDSCCODE>{ERR_DS_LOCKED});
    EXPECT_EQ(values(*backend, "Gast03.PROJEKTE.UNTERRICHT", "Security Equals"), std::vector<std::string>());
    EXPECT_EQ(values(*backend, "Gast03.PROJEKTE.UNTERRICHT", "Description"), std::vector<std::string>{"Gastzugang"});
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    EXPECT_EQ(backend->modify(gast, {change(DS_ADD_VALUE, "Group Membership", {dn(kDeny)})}), 0);

    // A holder of an exclusive lock keeps even readers out: opening reports the lock.
    backend.reset();
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    NWCCODE status = 0;
    EXPECT_FALSE(makeEmbeddedBackend(tree, kAdmin, status, quick));
    EXPECT_EQ(status, TARVEL_TREE_LOCKED);
    sqlite3_close(other);
}

TEST(EmbeddedOpen, LockTimeoutComesFromTheClientConfiguration) {
    const struct {
        const char* value;  // nullptr: no LockTimeout= line
        NWCCODE status;
        int busyTimeoutMs;  // what the options say afterwards
    } cases[] = {{nullptr, 0, 30000}, {"5", 0, 5000}, {"0", 0, 0},  {"3600", 0, 3600000},
                 {"x", TARVEL_CONFIGURATION_INVALID, 30000}, {"-1", TARVEL_CONFIGURATION_INVALID, 30000},
                 {"3601", TARVEL_CONFIGURATION_INVALID, 30000}, {"", TARVEL_CONFIGURATION_INVALID, 30000}};
    for (const auto& c : cases) {
        ClientConfig config;
        if (c.value) config.values["locktimeout"] = c.value;
        EmbeddedOptions options;
        EXPECT_EQ(embeddedOptionsOf(config, options), c.status) << (c.value ? c.value : "absent");
        EXPECT_EQ(options.busyTimeoutMs, c.busyTimeoutMs) << (c.value ? c.value : "absent");
    }
    TempDir dir;
    ClientConfig config;
    config.tree = "sqlite:" + demoTree(dir);
    config.values["locktimeout"] = "x";
    NWCCODE status = 0;
    EXPECT_FALSE(openBackend(config, status));
    EXPECT_EQ(status, TARVEL_CONFIGURATION_INVALID);
}

// The child exits with the number of the step that went wrong.
TEST(EmbeddedOpen, TreeWithoutWritePermissionIsBrowsedButNeverChanged) {
    TempDir dir;
    std::string tree = demoTree(dir);
    ASSERT_EQ(chmod(tree.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Root ignores file modes; an ordinary user does not.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
        NWCCODE status = 1;
        auto b = makeEmbeddedBackend(tree, kAdmin, status);
        if (!b || status != 0) _exit(11);
        ObjectId gast = -1;
        if (b->resolve({"UNTERRICHT", "PROJEKTE", "Gast03"}, gast) != 0) _exit(12);
        std::unique_ptr<ObjectCursor> cursor;
        std::vector<ObjectSummary> page;
        if (b->list(ROOT_ID, false, cursor) != 0 || cursor->next(page) != 0 || page.size() != 3) _exit(13);
        if (b->modify(gast, {change(DS_ADD_VALUE, "Group Membership", {dn(kDeny)})}) != ERR_NO_ACCESS) _exit(14);
        ObjectId group = -1;
        b->resolve({"UNTERRICHT", "PROJEKTE", "G_User_Internet_Deny"}, group);
        if (b->addSecurityEquivalence(gast, group) != ERR_NO_ACCESS) _exit(15);
        _exit(0);
    }
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    chmod(dir.path().c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0);
}

TEST(EmbeddedNames, KeysFoldCaseFullyAndComposeInAnyLength) {
    const std::string umlauts = "\xC3\x84\xC3\x96\xC3\x9C";                 // ÄÖÜ
    const std::string folded = "\xC3\xA4\xC3\xB6\xC3\xBC";                  // äöü
    const std::string decomposed = "A\xCC\x88O\xCC\x88U\xCC\x88";           // A, O, U and combining diaereses
    std::string many, manyFolded;
    for (int i = 0; i < 300; ++i) many += umlauts, manyFolded += folded;
    const std::pair<std::string, std::string> cases[] = {
        {"M" + umlauts + "ller", "m" + folded + "ller"}, {"Stra\xC3\x9F" "e", "strasse"},  // ß folds to ss
        {decomposed, folded}, {"X\xFFy", "x\xEF\xBF\xBDy"}, {"Sch\xC3\xA4" "fer", "sch\xC3\xA4" "fer"},
        {many, manyFolded}, {many + decomposed, manyFolded + folded}};
    for (const auto& [name, key] : cases) EXPECT_EQ(embedded::foldName(name), key) << name.substr(0, 20);
}

// A listing checks every entry's key against its name; for Latin-1 letters without folding the
// name, which must agree with the folding for each of them and see any other key as damage.
TEST(EmbeddedNames, EveryLatin1LetterMatchesOnlyItsOwnKey) {
    for (unsigned cp = 0x80; cp <= 0xFF; ++cp) {
        const std::string letter{char(0xC0 | (cp >> 6)), char(0x80 | (cp & 0x3F))};
        const std::string name = "Ab" + letter + "Z" + letter;
        const std::string key = embedded::foldName(name);
        EXPECT_EQ(embedded::TreeStore::nameFault(name, key), nullptr) << std::hex << cp;
        std::string flipped = key;
        flipped[2] = char(flipped[2] ^ 0x01);
        for (const std::string& wrong : {flipped, key + "z", key.substr(0, key.size() - 1), "ab" + letter + "z"})
            EXPECT_NE(embedded::TreeStore::nameFault(name, wrong), nullptr) << std::hex << cp;
    }
}

TEST(EmbeddedNames, ResolveIgnoresCaseAndDescribeSpellsAsStored) {
    TempDir dir;
    auto b = open(demoTree(dir), "");
    ObjectId id = -1;
    EXPECT_EQ(b->resolve({"unterricht", "projekte", "GAST01"}, id), 0);
    std::string full;
    ObjectSummary s;
    ASSERT_EQ(b->describe(id, full, s), 0);
    EXPECT_EQ(full, "Gast01.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(s.baseClass, "User");
    EXPECT_EQ(s.flags & DS_CONTAINER_ENTRY, 0u);

    // Umlauts fold too: ÄÖÜ match äöü.
    std::string first = pupil(*b, "KLASSE5A");
    std::vector<std::string> components;
    embedded::splitFullName(embedded::foldName(first), components);
    for (auto& c : components)
        for (auto& ch : c) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(b->resolve(components, id), 0) << first;

    EXPECT_EQ(b->resolve({"UNTERRICHT", "NOBODY"}, id), ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(b->resolve({}, id), 0);
    EXPECT_EQ(id, ROOT_ID);
    ASSERT_EQ(b->describe(idOf(*b, "SCHUELER.UNTERRICHT"), full, s), 0);
    EXPECT_EQ(s.flags & DS_CONTAINER_ENTRY, DS_CONTAINER_ENTRY);
    EXPECT_EQ(s.baseClass, "Organizational Unit");
    EXPECT_GE(s.subordinateCount, 8u);
    EXPECT_EQ(b->describe(999999, full, s), ERR_NO_SUCH_ENTRY);
}

TEST(EmbeddedListing, TopLevelAndContainersOnlyAndEmptyContainers) {
    TempDir dir;
    // A page per object, so that "containers only" has to hold beyond the first page.
    EmbeddedOptions onePerPage;
    onePerPage.pageSize = 1;
    auto b = open(demoTree(dir), "", onePerPage);
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b->list(ROOT_ID, false, cursor), 0);
    std::set<std::string> top;
    for (auto& s : drain(*cursor)) top.insert(s.baseClass + ":" + s.name);
    EXPECT_EQ(top, (std::set<std::string>{"Country:DE", "Locality:Musterstadt", "Organization:UNTERRICHT"}));

    ASSERT_EQ(b->list(idOf(*b, "UNTERRICHT"), true, cursor), 0);
    std::vector<std::string> containers;
    for (auto& s : drain(*cursor)) {
        EXPECT_TRUE(s.flags & DS_CONTAINER_ENTRY) << s.name;
        containers.push_back(s.name);
    }
    EXPECT_EQ(containers, (std::vector<std::string>{"ARCHIV", "LEHRER", "PROJEKTE", "SCHUELER"}));

    ASSERT_EQ(b->list(idOf(*b, "ARCHIV.UNTERRICHT"), false, cursor), 0);
    EXPECT_TRUE(drain(*cursor).empty());
    ASSERT_EQ(b->list(idOf(*b, "Gast01.PROJEKTE.UNTERRICHT"), false, cursor), 0);
    EXPECT_TRUE(drain(*cursor).empty()) << "a leaf has no subordinates";
    EXPECT_EQ(b->list(424242, false, cursor), ERR_NO_SUCH_ENTRY);
}

// One generated class of `users` users, opened with pages of 100.
struct PagedClass {
    PagedClass(const TempDir& dir, int users) : tree(dir.file("class.tree")) {
        EXPECT_EQ(testsupport::runTreeTool("generate " + tree + " --users " + std::to_string(users) + " --containers 1"),
                  0);
        EmbeddedOptions small;
        small.pageSize = 100;
        backend = open(tree, kAdmin, small);
        container = idOf(*backend, "K00001.SCHUELER.UNTERRICHT");
    }
    std::string tree;
    std::unique_ptr<DirectoryBackend> backend;
    ObjectId container = 0;
};

TEST(EmbeddedListing, ManyObjectsComeInPagesWithoutLossOrRepeats) {
    TempDir dir;
    PagedClass paged(dir, 1234);
    const std::string& tree = paged.tree;
    auto& b = paged.backend;
    ObjectId container = paged.container;

    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b->list(container, false, cursor), 0);
    std::vector<ObjectSummary> first;
    ASSERT_EQ(cursor->next(first), 0);
    ASSERT_EQ(first.size(), 100u);
    // Objects added while the listing runs: one sorting before the cursor, one after it.
    {
        NWCCODE st;
        auto store = embedded::TreeStore::open(tree, st);
        ASSERT_TRUE(store);
        ObjectId added;
        embedded::Transaction t(store->db());
        ASSERT_EQ(store->addObject(container, "A-early", "User", added), 0);
        ASSERT_EQ(store->addObject(container, "Z-late", "User", added), 0);
        t.commit();
    }
    size_t pages = 1;
    std::vector<ObjectSummary> rest = drain(*cursor, &pages);
    std::vector<std::string> names;
    for (auto& s : first) names.push_back(s.name);
    for (auto& s : rest) names.push_back(s.name);
    EXPECT_EQ(pages, 13u);
    EXPECT_EQ(names.size(), 1235u) << "every object once, the late addition included";
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    EXPECT_EQ(names.back(), "Z-late");

    // The whole subtree by class, from the organization down.
    ASSERT_EQ(b->search(idOf(*b, "UNTERRICHT"), "Object Class", "User", cursor), 0);
    std::vector<ObjectSummary> users = drain(*cursor);
    EXPECT_EQ(users.size(), 1234u + 2 + 1) << "generated users, the two additions and admin";
    EXPECT_TRUE(std::any_of(users.begin(), users.end(),
                            [](auto& s) { return s.name == "U0000777.K00001.SCHUELER.UNTERRICHT"; }));
}

TEST(EmbeddedListing, AContainerThatGoesAwayEndsTheListingWithAStatus) {
    TempDir dir;
    PagedClass paged(dir, 250);
    const std::string& tree = paged.tree;
    auto& b = paged.backend;
    ObjectId container = paged.container;
    std::unique_ptr<ObjectCursor> cursor;
    ASSERT_EQ(b->list(container, false, cursor), 0);
    std::vector<ObjectSummary> page;
    ASSERT_EQ(cursor->next(page), 0);
    ASSERT_EQ(page.size(), 100u);
    {
        NWCCODE st;
        auto store = embedded::TreeStore::open(tree, st);
        ASSERT_TRUE(store);
        store->db().exec(("DELETE FROM objects WHERE id = " + std::to_string(container)).c_str());
    }
    EXPECT_EQ(cursor->next(page), ERR_NO_SUCH_ENTRY);
    EXPECT_TRUE(page.empty());
    EXPECT_EQ(cursor->next(page), 0) << "a finished cursor stays finished";
    EXPECT_TRUE(page.empty());
    EXPECT_EQ(b->list(container, false, cursor), ERR_NO_SUCH_ENTRY);
}

TEST(EmbeddedSearch, ClassSearchCoversSuperclassesAndExcludesTheBase) {
    TempDir dir;
    auto b = open(demoTree(dir), "");
    auto search = [&](const std::string& base, const std::string& attribute, const std::string& value) {
        std::unique_ptr<ObjectCursor> cursor;
        EXPECT_EQ(b->search(idOf(*b, base), attribute, value, cursor), 0);
        std::vector<std::string> names;
        for (auto& s : drain(*cursor)) names.push_back(s.name);
        std::sort(names.begin(), names.end());
        return names;
    };
    std::vector<std::string> users = search("SCHUELER.UNTERRICHT", "Object Class", "User");
    EXPECT_EQ(users.size(), size_t(24 + 27 + 22 + 30 + 20 + 25));
    EXPECT_EQ(search("SCHUELER.UNTERRICHT", "Object Class", "person"), users);
    EXPECT_EQ(search("PROJEKTE.UNTERRICHT", "Object Class", "Group"),
              (std::vector<std::string>{"G_User_Internet_Deny.PROJEKTE.UNTERRICHT",
                                        "G_WS_Internet_Deny.PROJEKTE.UNTERRICHT"}));
    std::vector<std::string> ous = search("UNTERRICHT", "Object Class", "Organizational Unit");
    EXPECT_EQ(ous.size(), 4u + 6u);
    EXPECT_TRUE(search("KLASSE5A.SCHUELER.UNTERRICHT", "Object Class", "Organizational Unit").empty());
    EXPECT_EQ(search("[Root]", "CN", "gast02"), std::vector<std::string>{"Gast02.PROJEKTE.UNTERRICHT"});
    EXPECT_EQ(search("UNTERRICHT", "Group Membership", kDeny),
              search("UNTERRICHT", "Security Equals", kDeny));
    EXPECT_EQ(search("UNTERRICHT", "Group Membership", kDeny).size(), 5u);
    EXPECT_TRUE(search("UNTERRICHT", "No Such Attribute", "x").empty());
}

TEST(EmbeddedValues, StoredOrderComputedClassesAndMissingValues) {
    TempDir dir;
    auto b = open(demoTree(dir), kAdmin);
    EXPECT_EQ(values(*b, "admin.UNTERRICHT", "Object Class"),
              (std::vector<std::string>{"User", "Organizational Person", "Person", "Top"}));
    EXPECT_EQ(values(*b, "admin.UNTERRICHT", "CN"), std::vector<std::string>{"admin"});
    EXPECT_EQ(values(*b, "LEHRER.UNTERRICHT", "OU"), std::vector<std::string>{"LEHRER"});

    Attribute a;
    ObjectId admin = idOf(*b, kAdmin);
    EXPECT_EQ(b->readAttribute(admin, "Member", a), ERR_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(b->readAttribute(admin, "Nonsense", a), ERR_NO_SUCH_ATTRIBUTE);
    ASSERT_EQ(b->readAttribute(admin, "network address", a), 0);
    EXPECT_EQ(a.name, "Network Address");
    EXPECT_EQ(a.syntax, uint32_t(SYN_NET_ADDRESS));
    ASSERT_EQ(a.values.size(), 2u);
    EXPECT_EQ(a.values[0].number, 0);
    EXPECT_EQ(a.values[0].bytes, std::string("\x00\x00\x00\x01\x00\x1B\x21\x0A\x0B\x0C\x04\x51", 12));
    EXPECT_EQ(a.values[1].number, 1);
    EXPECT_EQ(a.values[1].bytes, std::string("\x00\x50\x0A\x01\x02\x03", 6));
    // The demo's one telephone number, on the organization.
    ASSERT_EQ(b->readAttribute(idOf(*b, "UNTERRICHT"), "Telephone Number", a), 0);
    EXPECT_EQ(a.syntax, uint32_t(SYN_TEL_NUMBER));
    ASSERT_EQ(a.values.size(), 1u);
    EXPECT_EQ(a.values[0].text, "+49 30 1234567");

    // Values come back in the order they were added, not sorted.
    ObjectId group = idOf(*b, "G_WS_Internet_Deny.PROJEKTE.UNTERRICHT");
    for (const char* ws : {"WS-R101-03", "WS-R101-01", "WS-R101-02"})
        ASSERT_EQ(b->modify(group, {change(DS_ADD_VALUE, "Member", {dn(std::string(ws) + ".SCHUELER.UNTERRICHT")})}), 0);
    EXPECT_EQ(values(*b, "G_WS_Internet_Deny.PROJEKTE.UNTERRICHT", "Member"),
              (std::vector<std::string>{"WS-R101-06.SCHUELER.UNTERRICHT", "WS-R101-03.SCHUELER.UNTERRICHT",
                                        "WS-R101-01.SCHUELER.UNTERRICHT", "WS-R101-02.SCHUELER.UNTERRICHT"}));

    ASSERT_EQ(b->readAttribute(idOf(*b, "[Root]"), "ACL", a), 0);
    EXPECT_EQ(a.values[0].text, "[Entry Rights]");
    EXPECT_EQ(a.values[0].text2, kAdmin);
    EXPECT_EQ(a.values[2].text2, "[Public]");

    std::string script;
    ASSERT_EQ(b->readStream(idOf(*b, "UNTERRICHT"), "Login Script", script), 0);
    EXPECT_EQ(script.rfind("REM Anmeldeskript", 0), 0u);
    EXPECT_EQ(b->readStream(admin, "Surname", script), ERR_INVALID_ATTR_SYNTAX);
    EXPECT_EQ(b->readStream(idOf(*b, "Gast01.PROJEKTE.UNTERRICHT"), "Login Script", script), ERR_NO_SUCH_ATTRIBUTE);

    uint32_t syntax = 0;
    EXPECT_EQ(b->attributeSyntax("member", syntax), 0);
    EXPECT_EQ(syntax, uint32_t(SYN_DIST_NAME));
    EXPECT_EQ(b->attributeSyntax("Login Script", syntax), 0);
    EXPECT_EQ(syntax, uint32_t(SYN_STREAM));
    EXPECT_EQ(b->attributeSyntax("Nonsense", syntax), ERR_NO_SUCH_ATTRIBUTE);
}

TEST(EmbeddedModify, ChangeTypesAnswerWithTheDirectorysStatuses) {
    TempDir dir;
    auto b = open(demoTree(dir), kAdmin);
    const std::string gast = "Gast03.PROJEKTE.UNTERRICHT";
    ObjectId id = idOf(*b, gast);
    const std::string g1 = kDeny, g2 = "G_Lehrer.LEHRER.UNTERRICHT";

    EXPECT_EQ(b->modify(id, {change(DS_ADD_ATTRIBUTE, "Group Membership", {dn(g1)})}), 0);
    EXPECT_EQ(b->modify(id, {change(DS_ADD_ATTRIBUTE, "Group Membership", {dn(g2)})}), ERR_ATTRIBUTE_ALREADY_EXISTS);
    EXPECT_EQ(b->modify(id, {change(DS_ADDITIONAL_VALUE, "Group Membership", {dn(g1)})}), ERR_DUPLICATE_VALUE);
    EXPECT_EQ(b->modify(id, {change(DS_ADDITIONAL_VALUE, "Group Membership", {dn(".g_user_internet_deny.projekte.unterricht")})}),
              ERR_DUPLICATE_VALUE) << "DN values compare as objects, whatever the spelling";
    EXPECT_EQ(b->modify(id, {change(DS_ADDITIONAL_VALUE, "Group Membership", {dn(g2)})}), 0);
    EXPECT_EQ(values(*b, gast, "Group Membership"), (std::vector<std::string>{g1, g2}));
    EXPECT_EQ(b->modify(id, {change(DS_REMOVE_VALUE, "Group Membership", {dn("Gast04.PROJEKTE.UNTERRICHT")})}),
              ERR_NO_SUCH_VALUE);
    EXPECT_EQ(b->modify(id, {change(DS_REMOVE_VALUE, "Group Membership", {dn("Nobody.PROJEKTE.UNTERRICHT")})}),
              ERR_NO_SUCH_VALUE);
    EXPECT_EQ(b->modify(id, {change(DS_ADDITIONAL_VALUE, "Group Membership", {dn("Nobody.PROJEKTE.UNTERRICHT")})}),
              ERR_NO_SUCH_ENTRY);
    // Typed names and holds name objects as well: one that names nobody is refused alike.
    AttrValue typedName = dn("Nobody.PROJEKTE.UNTERRICHT"), hold = dn("Nobody.PROJEKTE.UNTERRICHT");
    typedName.number = 1;
    EXPECT_EQ(b->modify(id, {change(DS_ADD_VALUE, "Notify", {typedName}, SYN_TYPED_NAME)}), ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(b->modify(id, {change(DS_ADD_VALUE, "Server Holds", {hold}, SYN_HOLD)}), ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(b->modify(id, {change(DS_REMOVE_VALUE, "Group Membership", {dn(g1)})}), 0);
    EXPECT_EQ(values(*b, gast, "Group Membership"), std::vector<std::string>{g2});
    EXPECT_EQ(b->modify(id, {change(DS_REMOVE_ATTRIBUTE, "Group Membership", {})}), 0);
    EXPECT_EQ(b->modify(id, {change(DS_REMOVE_ATTRIBUTE, "Group Membership", {})}), ERR_NO_SUCH_ATTRIBUTE);

    AttrValue text;
    text.text = "Bauer";
    EXPECT_EQ(b->modify(id, {change(DS_ADD_VALUE, "Surname", {text}, SYN_DIST_NAME)}), ERR_SYNTAX_VIOLATION);
    EXPECT_EQ(b->modify(id, {change(DS_ADD_VALUE, "Given Name", {text}, SYN_CI_STRING)}), 0);
    EXPECT_EQ(b->modify(id, {change(DS_ADD_VALUE, "Given Name", {dn("Bäcker")}, SYN_CI_STRING)}),
              ERR_CANT_HAVE_MULTIPLE_VALUES);
    AttrValue upper;
    upper.text = "BAUER";
    EXPECT_EQ(b->modify(id, {change(DS_REMOVE_VALUE, "Given Name", {upper}, SYN_CI_STRING)}), 0)
        << "case-ignore strings match without regard to case";
    EXPECT_EQ(b->modify(id, {change(DS_ADD_VALUE, "Object Class", {text}, SYN_CLASS_NAME)}), ERR_ILLEGAL_ATTRIBUTE);
    EXPECT_EQ(b->modify(id, {change(DS_ADD_VALUE, "Nonsense", {text}, SYN_CI_STRING)}), ERR_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(b->modify(id, {change(7, "Surname", {text}, SYN_CI_STRING)}), ERR_INVALID_REQUEST);
    EXPECT_EQ(b->modify(987654, {change(DS_ADD_VALUE, "Surname", {text}, SYN_CI_STRING)}), ERR_NO_SUCH_ENTRY);
}

TEST(EmbeddedModify, ARequestIsAppliedWholeOrNotAtAll) {
    TempDir dir;
    auto b = open(demoTree(dir), kAdmin);
    ObjectId group = idOf(*b, kDeny);
    std::vector<std::string> before = values(*b, kDeny, "Member");
    uint32_t mtimeBefore;
    {
        std::string full;
        ObjectSummary s;
        b->describe(group, full, s);
        mtimeBefore = s.modificationTime;
    }
    // Two good values, then one already there: nothing of the request may stay.
    std::vector<AttrValue> vals = {dn("Gast03.PROJEKTE.UNTERRICHT"), dn("Gast04.PROJEKTE.UNTERRICHT"),
                                   dn("Gast01.PROJEKTE.UNTERRICHT")};
    EXPECT_EQ(b->modify(group, {change(DS_ADDITIONAL_VALUE, "Member", vals)}), ERR_DUPLICATE_VALUE);
    EXPECT_EQ(values(*b, kDeny, "Member"), before);
    // Several changes: the second fails, the first is undone too.
    AttrValue d;
    d.text = "neu";
    EXPECT_EQ(b->modify(group, {change(DS_ADD_VALUE, "Description", {d}, SYN_CI_STRING),
                                change(DS_REMOVE_VALUE, "Member", {dn("Gast05.PROJEKTE.UNTERRICHT")})}),
              ERR_NO_SUCH_VALUE);
    EXPECT_EQ(values(*b, kDeny, "Description"), std::vector<std::string>{"Benutzer ohne Internetzugang"});
    // And the whole request goes through when it is sound.
    vals.pop_back();
    EXPECT_EQ(b->modify(group, {change(DS_ADD_VALUE, "Description", {d}, SYN_CI_STRING),
                                change(DS_ADDITIONAL_VALUE, "Member", vals)}),
              0);
    EXPECT_EQ(values(*b, kDeny, "Member").size(), before.size() + 2);
    std::string full;
    ObjectSummary s;
    b->describe(group, full, s);
    EXPECT_GE(s.modificationTime, mtimeBefore);
}

TEST(EmbeddedEquivalence, BothSidesInOneStepWithTheirStatuses) {
    TempDir dir;
    auto b = open(demoTree(dir), kAdmin);
    ObjectId user = idOf(*b, "Gast04.PROJEKTE.UNTERRICHT");
    ObjectId group = idOf(*b, kDeny);
    EXPECT_EQ(b->removeSecurityEquivalence(user, group), ERR_NO_SUCH_VALUE);
    EXPECT_EQ(b->addSecurityEquivalence(user, group), 0);
    EXPECT_EQ(values(*b, "Gast04.PROJEKTE.UNTERRICHT", "Security Equals"), std::vector<std::string>{kDeny});
    auto eq = values(*b, kDeny, "Equivalent To Me");
    EXPECT_NE(std::find(eq.begin(), eq.end(), "Gast04.PROJEKTE.UNTERRICHT"), eq.end());
    EXPECT_EQ(b->addSecurityEquivalence(user, group), ERR_DUPLICATE_VALUE);
    EXPECT_EQ(b->removeSecurityEquivalence(user, group), 0);
    EXPECT_TRUE(values(*b, "Gast04.PROJEKTE.UNTERRICHT", "Security Equals").empty());
    eq = values(*b, kDeny, "Equivalent To Me");
    EXPECT_EQ(std::find(eq.begin(), eq.end(), "Gast04.PROJEKTE.UNTERRICHT"), eq.end());
    EXPECT_EQ(b->addSecurityEquivalence(user, 31337), ERR_NO_SUCH_ENTRY);
}

TEST(EmbeddedRights, TeacherReachesOnlyTheirClassesAndTheDenyGroup) {
    TempDir dir;
    std::string tree = demoTree(dir);
    auto teacher = open(tree, kTeacher);
    ObjectId group = idOf(*teacher, kDeny);
    std::string own = pupil(*teacher, "KLASSE5B", 3);
    std::string other = pupil(*teacher, "KLASSE6A", 3);

    // Own class: group membership, equivalence and the group's members.
    EXPECT_EQ(teacher->modify(idOf(*teacher, own), {change(DS_ADDITIONAL_VALUE, "Group Membership", {dn(kDeny)})}), 0);
    EXPECT_EQ(teacher->addSecurityEquivalence(idOf(*teacher, own), group), 0);
    EXPECT_EQ(teacher->modify(group, {change(DS_ADDITIONAL_VALUE, "Member", {dn(own)})}), 0);
    // Another class: no access, and nothing changed.
    EXPECT_EQ(teacher->modify(idOf(*teacher, other), {change(DS_ADDITIONAL_VALUE, "Group Membership", {dn(kDeny)})}),
              ERR_NO_ACCESS);
    EXPECT_EQ(teacher->addSecurityEquivalence(idOf(*teacher, other), group), ERR_NO_ACCESS);
    EXPECT_TRUE(values(*teacher, other, "Security Equals").empty());
    // Other attributes of the own class, and other groups, stay closed.
    AttrValue d;
    d.text = "x";
    EXPECT_EQ(teacher->modify(idOf(*teacher, own), {change(DS_ADD_VALUE, "Description", {d}, SYN_CI_STRING)}),
              ERR_NO_ACCESS);
    EXPECT_EQ(teacher->modify(idOf(*teacher, "G_Lehrer.LEHRER.UNTERRICHT"),
                              {change(DS_ADDITIONAL_VALUE, "Member", {dn(own)})}),
              ERR_NO_ACCESS);
    // Equivalence to a group whose members the teacher cannot change would be a way to rights
    // the teacher does not have.
    EXPECT_EQ(teacher->addSecurityEquivalence(idOf(*teacher, own), idOf(*teacher, "G_Lehrer.LEHRER.UNTERRICHT")),
              ERR_NO_ACCESS);

    auto nobody = open(tree, "");
    EXPECT_EQ(nobody->modify(group, {change(DS_ADDITIONAL_VALUE, "Member", {dn(other)})}), ERR_NO_ACCESS);
    EXPECT_EQ(nobody->addSecurityEquivalence(idOf(*nobody, other), group), ERR_NO_ACCESS);

    auto admin = open(tree, kAdmin);
    EXPECT_EQ(admin->modify(idOf(*admin, other), {change(DS_ADDITIONAL_VALUE, "Group Membership", {dn(kDeny)})}), 0);
}

TEST(EmbeddedRights, NearestAssignmentWinsAndEquivalencesCount) {
    TempDir dir;
    std::string tree = demoTree(dir);
    auto admin = open(tree, kAdmin);
    std::string own = pupil(*admin, "KLASSE5A", 1);
    std::string target = pupil(*admin, "KLASSE6A", 0);
    auto acl = [](const std::string& attribute, const std::string& subject, uint32_t privileges) {
        AttrValue v;
        v.text = attribute;
        v.text2 = subject;
        v.number = privileges;
        return v;
    };
    // On one pupil of KLASSE5A the teacher's inherited write is replaced by read only.
    ASSERT_EQ(admin->modify(idOf(*admin, own),
                            {change(DS_ADD_VALUE, "ACL", {acl("Group Membership", kTeacher, DS_ATTR_READ)}, SYN_OBJECT_ACL)}),
              0);
    // KLASSE6A grants all attributes to the teachers' group and to the LEHRER container.
    ASSERT_EQ(admin->modify(idOf(*admin, "KLASSE6A.SCHUELER.UNTERRICHT"),
                            {change(DS_ADD_VALUE, "ACL",
                                    {acl("[All Attributes Rights]", "G_Lehrer.LEHRER.UNTERRICHT", DS_ATTR_WRITE)},
                                    SYN_OBJECT_ACL)}),
              0);

    auto teacher = open(tree, kTeacher);
    EXPECT_EQ(teacher->modify(idOf(*teacher, own), {change(DS_ADDITIONAL_VALUE, "Group Membership", {dn(kDeny)})}),
              ERR_NO_ACCESS);
    EXPECT_EQ(teacher->modify(idOf(*teacher, pupil(*teacher, "KLASSE5A", 2)),
                              {change(DS_ADDITIONAL_VALUE, "Group Membership", {dn(kDeny)})}),
              0);
    // lehrer1 is security-equivalent to G_Lehrer (demo), so the group's rights are lehrer1's.
    EXPECT_EQ(teacher->modify(idOf(*teacher, target), {change(DS_ADDITIONAL_VALUE, "Group Membership", {dn(kDeny)})}),
              0);
    // Remove lehrer2's equivalence: the group's rights are gone for lehrer2.
    ASSERT_EQ(admin->removeSecurityEquivalence(idOf(*admin, "lehrer2.LEHRER.UNTERRICHT"),
                                               idOf(*admin, "G_Lehrer.LEHRER.UNTERRICHT")),
              0);
    auto lehrer2 = open(tree, "lehrer2.LEHRER.UNTERRICHT");
    EXPECT_EQ(lehrer2->modify(idOf(*lehrer2, target), {change(DS_REMOVE_VALUE, "Group Membership", {dn(kDeny)})}),
              ERR_NO_ACCESS);
    // A right granted to the container the operator sits in reaches the operator.
    ASSERT_EQ(admin->modify(idOf(*admin, "KLASSE7B.SCHUELER.UNTERRICHT"),
                            {change(DS_ADD_VALUE, "ACL", {acl("Group Membership", "LEHRER.UNTERRICHT", DS_ATTR_WRITE)},
                                    SYN_OBJECT_ACL)}),
              0);
    EXPECT_EQ(lehrer2->modify(idOf(*lehrer2, pupil(*lehrer2, "KLASSE7B")),
                              {change(DS_ADDITIONAL_VALUE, "Group Membership", {dn(kDeny)})}),
              0);
}

TEST(EmbeddedRights, SelfRightAllowsOnlyTheOperatorsOwnName) {
    TempDir dir;
    std::string tree = demoTree(dir);
    auto admin = open(tree, kAdmin);
    AttrValue v;
    v.text = "Member";
    v.text2 = "[Root]";
    v.number = DS_ATTR_SELF;
    ObjectId teachers = idOf(*admin, "G_Lehrer.LEHRER.UNTERRICHT");
    ASSERT_EQ(admin->modify(idOf(*admin, "PROJEKTE.UNTERRICHT"), {change(DS_ADD_VALUE, "ACL", {v}, SYN_OBJECT_ACL)}), 0);
    auto gast = open(tree, "Gast05.PROJEKTE.UNTERRICHT");
    ObjectId group = idOf(*gast, "G_WS_Internet_Deny.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(gast->modify(group, {change(DS_ADD_VALUE, "Member", {dn("Gast05.PROJEKTE.UNTERRICHT")})}), 0);
    EXPECT_EQ(gast->modify(group, {change(DS_ADD_VALUE, "Member", {dn("Gast04.PROJEKTE.UNTERRICHT")})}), ERR_NO_ACCESS);
    EXPECT_EQ(gast->modify(teachers, {change(DS_ADD_VALUE, "Member", {dn("Gast05.PROJEKTE.UNTERRICHT")})}),
              ERR_NO_ACCESS);
}

TEST(EmbeddedStore, DeletedObjectsLeaveNoDanglingValues) {
    TempDir dir;
    std::string tree = demoTree(dir);
    NWCCODE st;
    auto store = embedded::TreeStore::open(tree, st);
    ASSERT_TRUE(store);
    ObjectId gast;
    ASSERT_EQ(store->resolveFullName("Gast01.PROJEKTE.UNTERRICHT", gast), 0);
    store->db().exec(("DELETE FROM objects WHERE id = " + std::to_string(gast)).c_str());
    auto b = open(tree, kAdmin);
    for (const std::string& m : values(*b, kDeny, "Member")) EXPECT_NE(m, "Gast01.PROJEKTE.UNTERRICHT");
    EXPECT_EQ(values(*b, kDeny, "Member").size(), 4u);
}

TEST(EmbeddedFiles, VolumesTrusteesAndTheClock) {
    TempDir dir;
    std::string tree = demoTree(dir);
    auto admin = open(tree, kAdmin);
    std::vector<VolumeInfo> volumes = admin->volumes();
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0].server, "SCHULSERVER");
    EXPECT_EQ(volumes[0].volume, "DATA");
    EXPECT_EQ(std::filesystem::path(volumes[0].localPath),
              (std::filesystem::path(dir.path()) / "DATA").lexically_normal());
    EXPECT_EQ(admin->serverName(), "SCHULSERVER");

    uint16_t rights = 0;
    EXPECT_EQ(admin->effectiveRights("DATA", "TARVEL\\Tarvel.ini", rights), 0u);
    EXPECT_EQ(rights, 0x1FB);

    auto teacher = open(tree, kTeacher);
    EXPECT_EQ(teacher->effectiveRights("data", "", rights), 0u);
    EXPECT_EQ(rights, 0x041) << "R and F through G_Lehrer at the volume's root";
    EXPECT_EQ(teacher->effectiveRights("DATA", "tarvel", rights), 0u);
    EXPECT_EQ(rights, 0x0DB) << "RWECMF of lehrer1's own assignment";
    EXPECT_EQ(teacher->effectiveRights("DATA", "\\TARVEL\\sub/Tarvel.INI", rights), 0u);
    EXPECT_EQ(rights, 0x0DB) << "inherited downwards";
    EXPECT_NE(teacher->effectiveRights("NOVOL", "TARVEL", rights), 0u);

    auto lehrer2 = open(tree, "lehrer2.LEHRER.UNTERRICHT");
    EXPECT_EQ(lehrer2->effectiveRights("DATA", "TARVEL\\Tarvel.INI", rights), 0u);
    EXPECT_EQ(rights, 0x041);
    auto nobody = open(tree, "");
    EXPECT_EQ(nobody->effectiveRights("DATA", "TARVEL", rights), 0u);
    EXPECT_EQ(rights, 0);

    uint8_t clock[7] = {};
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    ASSERT_EQ(admin->serverDateTime(clock), 0u);
    EXPECT_TRUE(testsupport::clockIsLocalNow(clock)) << int(clock[3]) << ":" << int(clock[4]) << " is not the local time";
    EXPECT_EQ(clock[0], tm.tm_year);
    EXPECT_GE(clock[1], 1);
    EXPECT_LE(clock[1], 12);
    EXPECT_LE(clock[6], 6);
}

namespace {

// Users a search below base hands out, and the status that ended it.
NWDSCCODE searchPupils(DirectoryBackend& b, ObjectId base, size_t& found) {
    found = 0;
    std::unique_ptr<ObjectCursor> cursor;
    if (NWDSCCODE st = b.search(base, "Object Class", "User", cursor)) return st;
    std::vector<ObjectSummary> page;
    for (int pages = 0; pages < 10000; ++pages) {
        if (NWDSCCODE st = cursor->next(page)) return st;
        if (page.empty()) return 0;
        found += page.size();
    }
    return -1;  // never ends
}

void execute(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

}  // namespace

TEST(EmbeddedDamage, CutOrFlippedBytesFailWithAReportOrFindEveryPupil) {
    TempDir dir;
    const std::string good = dir.file("good.tree");
    std::string out;
    ASSERT_EQ(testsupport::runTreeTool("generate " + good + " --users 300 --containers 10", &out), 0) << out;
    const std::string bytes = testsupport::readFile(good);
    {
        size_t found = 0;
        auto b = open(good, kAdmin);
        ASSERT_EQ(searchPupils(*b, idOf(*b, "SCHUELER.UNTERRICHT"), found), 0);
        ASSERT_EQ(found, 300u);
    }
    // Flips go where a search looks: the pages of the objects and of their index.
    std::vector<size_t> pages;
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(good.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* s = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT pageno FROM dbstat WHERE name IN ('objects', 'objects_by_parent')", -1,
                                     &s, nullptr),
                  SQLITE_OK);
        while (sqlite3_step(s) == SQLITE_ROW) pages.push_back(size_t(sqlite3_column_int64(s, 0)));
        sqlite3_finalize(s);
        sqlite3_close(db);
    }
    ASSERT_GE(pages.size(), 4u);
    constexpr size_t PAGE = 4096;
    ASSERT_EQ(bytes.size() % PAGE, 0u);
    std::mt19937 random(1);
    int refused = 0, complete = 0;
    for (int trial = 0; trial < 64; ++trial) {
        std::string damaged = bytes;
        if (trial < 4) {
            damaged.erase(trial == 0 ? damaged.size() - 1 : damaged.size() * size_t(trial) / 4, 1);
        } else {
            for (int flips = 1 + trial % 3; flips > 0; --flips) {
                const size_t at = (pages[random() % pages.size()] - 1) * PAGE + random() % PAGE;
                damaged[at] = char(damaged[at] ^ (1 << (random() % 8)));
            }
        }
        const std::string file = dir.file("t" + std::to_string(trial) + ".tree");
        testsupport::writeFile(file, damaged);
        NWCCODE status = 0;
        auto b = makeEmbeddedBackend(file, kAdmin, status);
        if (!b) {
            EXPECT_NE(status, 0u);
            ++refused;
            continue;
        }
        size_t found = 0;
        ObjectId base = -1;
        NWDSCCODE st = b->resolve({"UNTERRICHT", "SCHUELER"}, base);
        if (st == 0) st = searchPupils(*b, base, found);
        ASSERT_NE(st, -1) << "trial " << trial << ": the search never ends";
        if (st != 0) {
            ++refused;
            continue;
        }
        if (found == 300) {
            ++complete;
            continue;
        }
        // A short list with success is left only to damage that looks like a sound tree.
        std::vector<std::string> problems;
        EXPECT_TRUE(embedded::TreeStore::check(file, problems)) << trial;
        EXPECT_EQ(problems, std::vector<std::string>()) << "trial " << trial << ": " << found << " of 300 pupils";
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(complete, 0);
}

TEST(EmbeddedDamage, CirclesAndBrokenParentLinksAreReportedNeverWalkedForEver) {
    TempDir dir;
    const std::string tree = demoTree(dir);
    auto b = open(tree, kAdmin);
    const std::string unterricht = std::to_string(idOf(*b, "UNTERRICHT"));
    const std::string projekte = std::to_string(idOf(*b, "PROJEKTE.UNTERRICHT"));
    const ObjectId schueler = idOf(*b, "SCHUELER.UNTERRICHT");
    const ObjectId klasse = idOf(*b, "KLASSE5A.SCHUELER.UNTERRICHT");
    const ObjectId pupil = idOf(*b, "Gast01.PROJEKTE.UNTERRICHT");
    size_t found = 0;
    ASSERT_EQ(searchPupils(*b, schueler, found), 0);
    ASSERT_GT(found, 100u);

    // Damage made while the tree is open: the walks find it themselves.
    execute(tree, "UPDATE objects SET parent = " + std::to_string(klasse) + " WHERE id = 0");
    EXPECT_EQ(searchPupils(*b, schueler, found), ERR_DATABASE_FORMAT) << "the root below a class";
    execute(tree, "UPDATE objects SET parent = NULL WHERE id = 0;"
                  "UPDATE objects SET parent = " + std::to_string(klasse) + " WHERE id = " + unterricht);
    EXPECT_EQ(searchPupils(*b, schueler, found), ERR_DATABASE_FORMAT) << "UNTERRICHT below one of its classes";
    AttrValue x;
    x.text = "x";
    Change change{DS_ADD_VALUE, "Description", SYN_CI_STRING, {x}};
    EXPECT_EQ(b->modify(klasse, {change}), ERR_DATABASE_FORMAT) << "the rights walk up from the class";

    execute(tree, "UPDATE objects SET parent = 0 WHERE id = " + unterricht + ";" +
                  "UPDATE objects SET parent = 99999 WHERE id = " + projekte);
    EXPECT_EQ(b->modify(pupil, {change}), ERR_DATABASE_FORMAT) << "a parent that does not exist";
    EXPECT_EQ(b->modify(klasse, {change}), 0) << "the rest of the tree is sound";
    execute(tree, "UPDATE objects SET parent = " + std::to_string(klasse) + " WHERE id = " + unterricht);
    b.reset();

    // Opening refuses such a tree, and the check says what is wrong.
    NWCCODE status = 0;
    EXPECT_FALSE(makeEmbeddedBackend(tree, "", status));
    EXPECT_EQ(status, TARVEL_TREE_DAMAGED);
    std::string out;
    EXPECT_EQ(testsupport::runTreeTool("show " + tree + " UNTERRICHT", &out), 1);
    EXPECT_NE(out.find("die Baumdatei ist beschädigt"), std::string::npos) << out;
    EXPECT_EQ(testsupport::runTreeTool("check " + tree, &out), 1);
    EXPECT_NE(out.find("go round in a circle"), std::string::npos) << out;
    EXPECT_NE(out.find(" (PROJEKTE) names parent 99999, which does not exist"), std::string::npos) << out;
    TempDir sound;
    EXPECT_EQ(testsupport::runTreeTool("check " + demoTree(sound), &out), 0) << out;
}

TEST(EmbeddedBadNames, NamesWithNulCrOrLfAreNeverHandedOutAndTheListingSaysWhich) {
    TempDir dir;
    const std::string tree = demoTree(dir);
    // Such names come only from trees written by older tools: the store refuses new ones.
    {
        NWCCODE status = 0;
        auto store = embedded::TreeStore::open(tree, status);
        ASSERT_TRUE(store);
        ObjectId parent = -1, id = -1;
        ASSERT_EQ(store->resolveFullName("KLASSE5A.SCHUELER.UNTERRICHT", parent), 0);
        for (const std::string& bad : {std::string("Evil\0X", 6), std::string("a\rb"), std::string("a\nb")})
            EXPECT_EQ(store->addObject(parent, bad, "User", id), ERR_INVALID_DS_NAME);
    }
    auto b = open(tree, kAdmin);
    const ObjectId klasse = idOf(*b, "KLASSE5A.SCHUELER.UNTERRICHT");
    const ObjectId schueler = idOf(*b, "SCHUELER.UNTERRICHT");
    auto listAll = [&](ObjectId container, size_t& count) {
        std::unique_ptr<ObjectCursor> cursor;
        EXPECT_EQ(b->list(container, false, cursor), 0);
        count = 0;
        std::vector<ObjectSummary> page;
        for (;;) {
            if (NWDSCCODE st = cursor->next(page)) return st;
            if (page.empty()) return NWDSCCODE(0);
            for (const ObjectSummary& s : page) EXPECT_EQ(s.name.find_first_of(std::string("\0\r\n", 3)), std::string::npos);
            count += page.size();
        }
    };
    size_t pupils = 0, all = 0, before = 0;
    ASSERT_EQ(listAll(klasse, before), 0);
    ASSERT_EQ(searchPupils(*b, schueler, all), 0);
    ASSERT_EQ(searchPupils(*b, klasse, pupils), 0);

    // A pupil named with a NUL, and a container named with a CR that holds a pupil of its own.
    execute(tree, "INSERT INTO objects(parent, name, name_key, class, container, mtime) VALUES(" +
                      std::to_string(klasse) + ", 'Evil' || char(0) || 'X', 'evil' || char(0) || 'x', 'User', 0, 0), (" +
                      std::to_string(schueler) + ", 'AG' || char(13), 'ag' || char(13), 'Organizational Unit', 1, 0);" +
                      "INSERT INTO objects(parent, name, name_key, class, container, mtime) SELECT id, 'Fine', 'fine', "
                      "'User', 0, 0 FROM objects WHERE name_key = 'ag' || char(13)");
    size_t count = 0;
    EXPECT_EQ(listAll(klasse, count), NWDSCCODE(TARVEL_LDAP_INCOMPLETE));
    EXPECT_EQ(count, before) << "everybody else is listed";
    EXPECT_EQ(b->problemDetail(), "Evil\\00X.KLASSE5A.SCHUELER.UNTERRICHT");

    EXPECT_EQ(searchPupils(*b, klasse, count), NWDSCCODE(TARVEL_LDAP_INCOMPLETE));
    EXPECT_EQ(count, pupils);
    EXPECT_EQ(searchPupils(*b, schueler, count), NWDSCCODE(TARVEL_LDAP_INCOMPLETE));
    EXPECT_EQ(count, all) << "neither the pupil with the NUL nor the one below the CR";
    EXPECT_EQ(b->problemDetail().substr(0, 5), "AG\\0D") << b->problemDetail();
    EXPECT_EQ(listAll(schueler, count), NWDSCCODE(TARVEL_LDAP_INCOMPLETE));
    EXPECT_EQ(b->problemDetail(), "AG\\0D.SCHUELER.UNTERRICHT");
}

TEST(EmbeddedDamage, IndexOutOfStepPassesTheCheckOnOpeningButNoLargeChange) {
    TempDir dir;
    const std::string tree = dir.file("big.tree");
    std::string out;
    ASSERT_EQ(testsupport::runTreeTool("generate " + tree + " --users 60 --containers 1", &out), 0) << out;
    // What a flipped bit in an index page amounts to: the index no longer holds what its table does.
    execute(tree, "PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = 'CREATE UNIQUE INDEX values_by_object "
                  "ON attribute_values(object, attribute, text)' WHERE name = 'values_by_object'");
    auto b = open(tree, kAdmin);
    const std::vector<ObjectId> users = generatedUsers(*b);
    ASSERT_EQ(users.size(), 60u);
    size_t answered = 0;
    EXPECT_EQ(b->changeUserSides(idOf(*b, kDeny), true, users, [&](size_t, NWDSCCODE) { ++answered; }, nullptr),
              NWDSCCODE(TARVEL_TREE_DAMAGED));
    EXPECT_EQ(answered, 0u) << "nothing is changed";
    std::vector<std::string> problems;
    EXPECT_TRUE(embedded::TreeStore::check(tree, problems));
    EXPECT_FALSE(problems.empty());
}

// Names the walks cannot hand out, stored by older tools or damage: each is left out and named,
// everybody else is found, and the check names it too.
TEST(EmbeddedBadNames, EveryUnusableNameIsLeftOutNamedAndFoundByTheCheck) {
    const std::string longName(200, 'x'), partName(120, 'y');
    // 100 characters, 110 escaped: a full name of 250 characters, 260 as the client spells it.
    std::string dotted(100, 'd');
    for (size_t i = 5; i < dotted.size(); i += 10) dotted[i] = '.';
    std::string escapedDotted;
    for (char c : dotted) escapedDotted += c == '.' ? "\\." : std::string(1, c);
    const struct {
        std::string name, key;  // as SQL
        bool belowLongContainer;
        std::string shown;  // the start of how listing, search and check name it
    } cases[] = {
        {"''", "''", false, "(leer).KLASSE5A"},
        {"'Line' || char(10) || 'Feed'", "'line' || char(10) || 'feed'", false, "Line\\0AFeed.KLASSE5A"},
        {"'Schuelfr99'", "'schueler99'", false, "Schuelfr99.KLASSE5A"},  // a flipped bit in the name
        {"'Schueler99'", "'Schueler99'", false, "Schueler99.KLASSE5A"},  // ... or in the key
        {"'Müller'", "'mülleq'", false, "Müller.KLASSE5A"},
        {"'" + dotted + "'", "'" + dotted + "'", true, escapedDotted + "." + partName + ".KLASSE5A"},
        {"'" + longName + "'", "'" + longName + "'", false, longName + ".KLASSE5A"},
        {"'" + partName + "'", "'" + partName + "'", true, partName + "." + partName + ".KLASSE5A"},  // 270 characters
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string tree = demoTree(dir);
        auto b = open(tree, kAdmin);
        const ObjectId klasse = idOf(*b, "KLASSE5A.SCHUELER.UNTERRICHT");
        size_t before = 0, count = 0;
        ASSERT_EQ(searchPupils(*b, klasse, before), 0);
        const std::string insert = "INSERT INTO objects(parent, name, name_key, class, container, mtime) VALUES(";
        std::string parent = std::to_string(klasse);
        if (c.belowLongContainer) {
            execute(tree, insert + parent + ", '" + partName + "', '" + partName + "', 'Organizational Unit', 1, 0)");
            parent = "(SELECT id FROM objects WHERE name = '" + partName + "' AND container = 1)";
        }
        execute(tree, insert + parent + ", " + c.name + ", " + c.key + ", 'User', 0, 0)");
        EXPECT_EQ(searchPupils(*b, klasse, count), NWDSCCODE(TARVEL_LDAP_INCOMPLETE)) << c.shown;
        EXPECT_EQ(count, before) << c.shown;
        EXPECT_EQ(b->problemDetail().rfind(c.shown, 0), 0u) << b->problemDetail();
        // Listed, the container that holds it leaves it out the same way.
        const ObjectId holder = c.belowLongContainer ? idOf(*b, partName + ".KLASSE5A.SCHUELER.UNTERRICHT") : klasse;
        std::unique_ptr<ObjectCursor> cursor;
        ASSERT_EQ(b->list(holder, false, cursor), 0);
        std::vector<ObjectSummary> page;
        NWDSCCODE listed = 0;
        for (int pages = 0; pages < 100 && listed == 0; ++pages) {
            listed = cursor->next(page);
            for (const ObjectSummary& s : page) EXPECT_EQ(s.name.find(c.shown.substr(0, 10)), std::string::npos) << c.shown;
            if (listed == 0 && page.empty()) break;
        }
        EXPECT_EQ(listed, NWDSCCODE(TARVEL_LDAP_INCOMPLETE)) << c.shown;
        EXPECT_EQ(b->problemDetail().rfind(c.shown, 0), 0u) << b->problemDetail();
        std::vector<std::string> problems;
        EXPECT_TRUE(embedded::TreeStore::check(tree, problems));
        ASSERT_EQ(problems.size(), 1u) << c.shown;
        EXPECT_NE(problems[0].find("(" + c.shown), std::string::npos) << problems[0];
    }
}

TEST(EmbeddedDamage, ATreeChangedAfterItsLastCleanCheckIsCheckedAgainOnOpening) {
    auto opened = [](const std::string& tree, NWCCODE& status) { return embedded::TreeStore::open(tree, status); };
    // Damage written by other programs while no one had the tree open.
    const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> changes = {
        {"a byte written by another process", [](const std::string& tree) {
             sqlite3* db = nullptr;
             ASSERT_EQ(sqlite3_open_v2(tree.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
             sqlite3_stmt* s = nullptr;
             sqlite3_prepare_v2(db, "SELECT rootpage * (SELECT page_size FROM pragma_page_size) - "
                                    "(SELECT page_size FROM pragma_page_size) FROM sqlite_schema WHERE name = 'objects'",
                                -1, &s, nullptr);
             ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
             const std::string offset = std::to_string(sqlite3_column_int64(s, 0));  // the page's type byte
             sqlite3_finalize(s);
             sqlite3_close(db);
             ASSERT_EQ(std::system(("printf '\\377' | dd of=" + tree + " bs=1 seek=" + offset +
                                    " conv=notrunc status=none").c_str()), 0);
         }},
        {"a parent link changed through SQLite", [](const std::string& tree) {
             execute(tree, "UPDATE objects SET parent = 99999 WHERE name = 'U0000001'");
         }},
    };
    for (const auto& [what, change] : changes) {
        TempDir dir;
        const std::string tree = dir.file("t.tree");
        std::string out;
        ASSERT_EQ(testsupport::runTreeTool("generate " + tree + " --users 60 --containers 1", &out), 0) << out;
        NWCCODE status = 1;
        EXPECT_TRUE(opened(tree, status)->checkedOnOpen()) << what;
        EXPECT_FALSE(opened(tree, status)->checkedOnOpen()) << what << ": remembered";
        change(tree);
        EXPECT_FALSE(opened(tree, status)) << what;
        EXPECT_EQ(status, TARVEL_TREE_DAMAGED) << what;
    }
    // Damage through the program's own connection is remembered as sound; a large change still refuses.
    TempDir dir;
    const std::string tree = dir.file("t.tree");
    std::string out;
    ASSERT_EQ(testsupport::runTreeTool("generate " + tree + " --users 60 --containers 1", &out), 0) << out;
    NWCCODE status = 1;
    opened(tree, status)->db().exec("PRAGMA foreign_keys=OFF;"
                                    "UPDATE objects SET parent = 99999 WHERE name = 'U0000001'");
    auto b = open(tree, kAdmin);
    const std::vector<ObjectId> users = generatedUsers(*b);
    ASSERT_EQ(users.size(), 59u) << "all but the one cut off";
    EXPECT_EQ(b->changeUserSides(idOf(*b, kDeny), true, users, nullptr, nullptr), NWDSCCODE(TARVEL_TREE_DAMAGED));
}
