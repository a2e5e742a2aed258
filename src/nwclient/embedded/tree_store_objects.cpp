#include "nwclient/embedded/tree_store.h"

#include "nwclient/names.h"
#include "platform/text.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <ctime>

namespace nw::embedded {

// ---------------------------------------------------------------------------------------------
// Names

namespace {

// foldName for a name of up to a few hundred characters, in buffers on the stack (a listing folds
// every name that is not ASCII). False for a longer text or any failure: the general way decides.
bool foldOnStack(std::string_view name, std::string& out) {
    constexpr int32_t ROOM = 512;
    UChar text[ROOM], folded[ROOM], normal[ROOM];
    char bytes[4 * ROOM];
    UErrorCode err = U_ZERO_ERROR;
    int32_t length = 0;
    if (name.size() > size_t(ROOM)) return false;
    // Malformed bytes become U+FFFD, as UnicodeString::fromUTF8 has them.
    u_strFromUTF8WithSub(text, ROOM, &length, name.data(), int32_t(name.size()), 0xFFFD, nullptr, &err);
    length = u_strFoldCase(folded, ROOM, text, length, U_FOLD_CASE_DEFAULT, &err);
    const UNormalizer2* nfc = unorm2_getNFCInstance(&err);
    if (U_FAILURE(err)) return false;
    const UChar* result = folded;
    if (unorm2_quickCheck(nfc, folded, length, &err) != UNORM_YES) {
        length = unorm2_normalize(nfc, folded, length, normal, ROOM, &err);
        result = normal;
    }
    int32_t size = 0;
    u_strToUTF8WithSub(bytes, int32_t(sizeof bytes), &size, result, length, 0xFFFD, nullptr, &err);
    if (U_FAILURE(err)) return false;
    out.assign(bytes, size_t(size));
    return true;
}

}  // namespace

std::string foldName(std::string_view name) {
    bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return text::toLowerAscii(name);
    std::string out;
    if (foldOnStack(name, out)) return out;
    UErrorCode err = U_ZERO_ERROR;
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), int32_t(name.size())));
    u.foldCase(U_FOLD_CASE_DEFAULT);
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(err);
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

// Whether key is name's lookup key (foldName), compared in place for a name of ASCII and Latin-1
// letters (German names: umlauts, ß, accents), which every listing asks of every entry. Such text
// is already NFC; its full case folding is ASCII's, U+00C0-U+00DE (not U+00D7) up by 0x20, ß to
// "ss" and µ to U+03BC. Any other character leaves the answer to foldName.
static bool isKeyOf(std::string_view name, std::string_view key) {
    size_t k = 0;
    auto expect = [&](std::string_view bytes) {
        if (key.compare(k, bytes.size(), bytes) != 0) return false;
        k += bytes.size();
        return true;
    };
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            const char lower = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            if (k >= key.size() || key[k++] != lower) return false;
            continue;
        }
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0u;
        if ((c != 0xC2 && c != 0xC3) || (next & 0xC0) != 0x80) return foldName(name) == key;
        unsigned cp = (unsigned(c & 0x1F) << 6) | (next & 0x3F);
        ++i;
        if (cp == 0xDF) {
            if (!expect("ss")) return false;
            continue;
        }
        if (cp == 0xB5) {
            if (!expect("\xCE\xBC")) return false;
            continue;
        }
        if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) cp += 0x20;
        const char folded[2] = {char(0xC0 | (cp >> 6)), char(0x80 | (cp & 0x3F))};
        if (!expect(std::string_view(folded, 2))) return false;
    }
    return k == key.size();
}

const char* TreeStore::nameFault(std::string_view name, std::string_view nameKey) {
    if (name.empty()) return "empty name";
    // Asked of every entry a listing hands out: one plain pass each (find_first_of would search
    // the set once per character), and no count of characters where the bytes cannot exceed it.
    if (std::any_of(name.begin(), name.end(), [](char c) { return c == '\0' || c == '\r' || c == '\n'; }))
        return "the name holds NUL, CR or LF";
    if (name.size() > MAX_RDN_CHARS && names::utf8Chars(name) > MAX_RDN_CHARS)
        return "the name is longer than 128 characters";
    // A flipped bit in either leaves a name that resolves to nothing (or to another object).
    if (!isKeyOf(name, nameKey)) return "the name does not match its lookup key (damaged)";
    return nullptr;
}

std::string TreeStore::shownName(std::string_view component, std::string_view suffix) {
    return (component.empty() ? "(leer)" : text::showControls(escapeComponent(component))) + std::string(suffix);
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

void TreeStore::damaged(const std::string& what) { throw SqlError(SQLITE_CORRUPT, "the tree file is damaged: " + what); }

std::vector<ObjectId> TreeStore::ancestors(ObjectId id) {
    std::vector<ObjectId> chain;
    ObjectRow row;
    for (ObjectId child = id, current = id; current != ROOT_ID; child = current, current = row.parent) {
        if (!object(current, row)) {
            if (current == id) return chain;
            damaged("object " + std::to_string(child) + " names parent " + std::to_string(current) +
                    ", which does not exist");
        }
        if (row.parent < 0) damaged("object " + std::to_string(current) + " has no parent");
        if (chain.size() >= MAX_DEPTH) damaged("the parent links of object " + std::to_string(id) + " go round in a circle");
        chain.push_back(row.parent);
    }
    return chain;
}

std::string TreeStore::fullName(ObjectId id) {
    if (id == ROOT_ID) return "[Root]";
    auto cached = containerNames_.find(id);
    if (cached != containerNames_.end()) return cached->second;
    ObjectRow row;
    if (!object(id, row)) return std::string();
    return fullName(row);
}

std::string TreeStore::fullName(const ObjectRow& row) {
    const ObjectId id = row.id;
    auto cached = containerNames_.find(id);
    if (cached != containerNames_.end()) return cached->second;
    std::string name = escapeComponent(row.name);
    // Leaf first, up to the first container whose name is known.
    std::vector<ObjectId> unnamed;
    std::vector<size_t> startsAt;  // where each unnamed parent's own full name starts in name
    ObjectId parent = row.parent;
    while (parent != ROOT_ID) {
        cached = containerNames_.find(parent);
        if (cached != containerNames_.end()) break;
        ObjectRow p;
        if (parent < 0) damaged("object " + std::to_string(unnamed.empty() ? id : unnamed.back()) + " has no parent");
        if (!object(parent, p))
            damaged("object " + std::to_string(unnamed.empty() ? id : unnamed.back()) + " names parent " +
                    std::to_string(parent) + ", which does not exist");
        if (unnamed.size() >= MAX_DEPTH) damaged("the parent links of object " + std::to_string(id) + " go round in a circle");
        unnamed.push_back(parent);
        startsAt.push_back(name.size() + 1);
        name += "." + escapeComponent(p.name);
        parent = p.parent;
    }
    if (parent != ROOT_ID) name += "." + cached->second;
    if (row.container) containerNames_[id] = name;
    // The containers walked through are named too: the next object in them costs no walk.
    for (size_t i = 0; i < unnamed.size(); ++i) containerNames_[unnamed[i]] = name.substr(startsAt[i]);
    return name;
}

NWDSCCODE TreeStore::addObject(ObjectId parent, const std::string& name, const std::string& className, ObjectId& id) {
    // NUL, CR and LF would cut or split the name wherever it is shown or passed on.
    if (name.empty() || name.find_first_of(std::string("\0\r\n", 3)) != std::string::npos) return ERR_INVALID_DS_NAME;
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
    return children(parent, &afterKey, containersOnly, limit);
}

std::vector<ObjectRow> TreeStore::children(ObjectId parent, const std::string* afterKey, bool containersOnly, int limit) {
    std::vector<ObjectRow> rows;
    children(parent, afterKey, containersOnly, limit, rows);
    return rows;
}

void TreeStore::children(ObjectId parent, const std::string* afterKey, bool containersOnly, int limit,
                         std::vector<ObjectRow>& rows) {
    // The first page has no lower bound: "" is a key too (an empty name), and a page only after
    // "" would never show it. Each page stays one range scan of the index.
    static const char* const queries[2][2] = {
        {"SELECT id, name, name_key, class, container, mtime FROM objects "
         "WHERE parent = ? ORDER BY name_key LIMIT ?",
         "SELECT id, name, name_key, class, container, mtime FROM objects "
         "WHERE parent = ? AND container = 1 ORDER BY name_key LIMIT ?"},
        {"SELECT id, name, name_key, class, container, mtime FROM objects "
         "WHERE parent = ? AND name_key > ? ORDER BY name_key LIMIT ?",
         "SELECT id, name, name_key, class, container, mtime FROM objects "
         "WHERE parent = ? AND name_key > ? AND container = 1 ORDER BY name_key LIMIT ?"}};
    Stmt& s = stmt(queries[afterKey != nullptr][containersOnly]);
    s.bind(1, parent);
    if (afterKey) s.bind(2, *afterKey);
    s.bind(afterKey ? 3 : 2, int64_t(limit));
    size_t n = 0;
    while (s.step()) {
        if (n == rows.size()) rows.emplace_back();
        ObjectRow& row = rows[n++];
        row.id = s.i64(0);
        row.parent = parent;
        row.name.assign(s.textView(1));
        row.nameKey.assign(s.textView(2));
        row.className.assign(s.textView(3));
        row.container = s.i64(4) != 0;
        row.modificationTime = uint32_t(s.i64(5));
    }
    s.reset();
    rows.resize(n);
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

}  // namespace nw::embedded
