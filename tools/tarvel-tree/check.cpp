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
    if (!readable) return fail(args[0] + ": cannot be read as a tree file");
    if (!problems.empty()) return fail(args[0] + ": damaged; see the README on damaged trees");
    std::cerr << "tarvel-tree: " << args[0] << ": no damage found\n";
    return 0;
}

CommandRegistration checkCommand("check", "check FILE\n    SQLite's integrity check, every parent link and every object's name",
                                 cmdCheck);

}  // namespace
}  // namespace tarveltree
