// tarvel-tree check FILE: what is wrong with a tree file that will not open, or that a stop
// should not be trusted with. SQLite's full integrity check, a walk of every parent link, and
// every name the program's listings and searches would leave out (empty, NUL/CR/LF, too long,
// not matching its lookup key).
#include "commands.h"

#include <iostream>

namespace tarveltree {
namespace {

int cmdCheck(const Args& args) {
    if (args.size() != 1) return usage("check");
    std::vector<std::string> problems;
    bool readable = nw::embedded::TreeStore::check(args[0], problems);
    for (const std::string& p : problems) std::cout << p << "\n";
    if (!readable) return fail(args[0] + ": ist als Baumdatei nicht lesbar");
    if (!problems.empty()) return fail(args[0] + ": beschädigt; siehe README, \"A damaged tree file\"");
    std::cerr << "tarvel-tree: " << args[0] << ": keine Schäden gefunden\n";
    return 0;
}

CommandRegistration checkCommand("check", "check DATEI\n    SQLites Integritätsprüfung, jede Verknüpfung zum übergeordneten Objekt und jeder Name",
                                 cmdCheck);

}  // namespace
}  // namespace tarveltree
