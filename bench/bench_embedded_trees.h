// Generated trees for the benchmarks, made once per process in a temporary folder and removed
// at exit. Shared by the embedded store's own benchmarks and the listing benchmarks that
// compare against them, so both run over the same objects.
#pragma once

#include "nwclient/embedded/tree_builder.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

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

// Pupils' names as a school's directory holds them (as school_names.py writes them): "Surname
// Given", common surnames drawn more often, umlauts and other letters past ASCII, in no order; a
// name that comes again is numbered ("Müller Anna 2"). Deterministic.
inline std::vector<std::string> schoolNames(int count) {
    static const char* const surnames =
        "Müller Schmidt Schneider Fischer Weber Meyer Wagner Becker Schulz Hoffmann Schäfer Koch Bauer Richter "
        "Klein Wolf Schröder Neumann Schwarz Zimmermann Braun Krüger Hofmann Hartmann Lange Schmitt Werner Schmitz "
        "Krause Meier Lehmann Schmid Schulze Maier Köhler Herrmann König Walter Mayer Huber Kaiser Fuchs Peters "
        "Lang Scholz Möller Weiß Jung Hahn Schubert Vogel Friedrich Keller Günther Frank Berger Winkler Roth Beck "
        "Lorenz Baumann Franke Albrecht Schuster Simon Ludwig Böhm Winter Kraus Martin Schumacher Krämer Vogt "
        "Stein Jäger Otto Sommer Groß Seidel Heinrich Brandt Haas Schreiber Graf Schulte Dietrich Ziegler Kuhn "
        "Kühn Pohl Engel Horn Busch Bergmann Thomas Voigt Sauer Arnold Wolff Pfeiffer Yılmaz Kaya Demir Şahin "
        "Çelik Nowak Kowalski Nguyen Popović Öztürk Ahmadi";
    static const char* const given =
        "Anna Ben Emma Finn Lea Paul Mia Jonas Lina Noah Hannah Elias Sophie Leon Marie Luis Emilia Felix Lena "
        "Maximilian Clara Henry Ella Luca Ida Theo Lilly Anton Leni Jakob Mila Oskar Frieda Emil Greta Moritz "
        "Luisa Julian Nele Matteo Zoe Jonathan Charlotte David Amelie Tim Johanna Niklas Lara Samuel Laura "
        "Alexander Sarah Leo Marlene Tom Malia Jan Ayşe Mehmet Zeynep Can Jörg Björn Jürgen Lukas Käthe Søren "
        "Chiara Milan Ömer";
    auto words = [](const char* text) {
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string w; in >> w;) out.push_back(w);
        return out;
    };
    const std::vector<std::string> sur = words(surnames), giv = words(given);
    std::vector<double> weights;
    for (size_t rank = 0; rank < sur.size(); ++rank) weights.push_back(1.0 / double(rank + 10));
    std::mt19937 rng(23);
    std::discrete_distribution<size_t> pickSurname(weights.begin(), weights.end());
    std::uniform_int_distribution<size_t> pickGiven(0, giv.size() - 1);
    std::unordered_map<std::string, int> seen;
    std::vector<std::string> names;
    while (names.size() < size_t(count)) {
        std::string name = sur[pickSurname(rng)] + " " + giv[pickGiven(rng)];
        int times = ++seen[name];
        names.push_back(times == 1 ? name : name + " " + std::to_string(times));
    }
    return names;
}

// Users below SCHUELER.UNTERRICHT in containers K00001..; the first denyMembers in the deny group.
// Named U0000001.., or with school names (schoolNames above).
inline const std::string& tree(int users, int containers, int denyMembers = 0, bool withSchoolNames = false) {
    static std::map<std::tuple<int, int, int, bool>, std::string> made;
    auto key = std::make_tuple(users, containers, denyMembers, withSchoolNames);
    auto it = made.find(key);
    if (it != made.end()) return it->second;
    std::string stem = std::string("u").append(std::to_string(users)) + "-c" + std::to_string(containers) + "-m" +
                       std::to_string(denyMembers);
    if (withSchoolNames) stem += "-school";
    std::string file = (folder() / (stem + ".tree")).string();
    std::string error;
    auto store = nw::embedded::TreeStore::create(file, "BENCH", error);
    if (!store) throw std::runtime_error(error);
    nw::embedded::GenerateOptions options;
    options.users = users;
    options.containers = containers;
    options.denyMembers = denyMembers;
    if (withSchoolNames) options.userNames = schoolNames(users);
    nw::embedded::generateTree(*store, options);
    return made.emplace(key, file).first->second;
}

}  // namespace benchtrees
