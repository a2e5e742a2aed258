#include "nwclient/embedded/tree_store.h"

#include "platform/text.h"

namespace nw::embedded {

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
