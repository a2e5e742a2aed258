// Generated trees for the benchmarks, made once per process in a temporary folder and removed
// at exit. Shared by the embedded store's own benchmarks and the listing benchmarks that
// compare against them, so both run over the same objects.
#pragma once

#include "nwclient/embedded/tree_builder.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

namespace benchtrees {

// A temporary folder for the run's files, removed when the run ends.
inline const std::filesystem::path& folder() {
    struct Folder {
        std::filesystem::path path;
        Folder() {
            std::string pattern = (std::filesystem::temp_directory_path() / "tarvel-bench-XXXXXX").string();
            if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
            path = pattern;
        }
        ~Folder() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static Folder folder;
    return folder.path;
}

// Users below SCHUELER.UNTERRICHT in containers K00001..; the first denyMembers in the deny group.
inline const std::string& tree(int users, int containers, int denyMembers = 0) {
    static std::map<std::tuple<int, int, int>, std::string> made;
    auto key = std::make_tuple(users, containers, denyMembers);
    auto it = made.find(key);
    if (it != made.end()) return it->second;
    std::string file = (folder() / ("u" + std::to_string(users) + "-c" + std::to_string(containers) + "-m" +
                                       std::to_string(denyMembers) + ".tree"))
                           .string();
    std::string error;
    auto store = nw::embedded::TreeStore::create(file, "BENCH", error);
    if (!store) throw std::runtime_error(error);
    nw::embedded::GenerateOptions options;
    options.users = users;
    options.containers = containers;
    options.denyMembers = denyMembers;
    nw::embedded::generateTree(*store, options);
    return made.emplace(key, file).first->second;
}

}  // namespace benchtrees
