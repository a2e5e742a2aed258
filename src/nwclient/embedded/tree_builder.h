// Trees for demonstration, tests and benchmarks, written straight into a new store.
#pragma once

#include "nwclient/embedded/tree_store.h"

#include <string>
#include <vector>

namespace nw::embedded {

// The demo school: organization UNTERRICHT with PROJEKTE (the two deny groups, guests),
// SCHUELER (classes of pupils, workstations, a printer), LEHRER (teachers), an empty ARCHIV;
// a Country and a Locality at the top; admin.UNTERRICHT with all rights and
// lehrer1.LEHRER.UNTERRICHT with rights on the classes KLASSE5A and KLASSE5B and the deny group's
// members only; the volume DATA on the folder "DATA" beside the tree file. Throws
// std::runtime_error on failure.
void buildDemoSchool(TreeStore& store);

struct GenerateOptions {
    int users = 1000;
    int containers = 10;
    int denyMembers = 0;   // the first users already in G_User_Internet_Deny, all three places
    // The users' names in the order they are added (as many as users); empty: U0000001, ...
    std::vector<std::string> userNames;
};

// A large school for benchmarks: UNTERRICHT with admin and PROJEKTE as in the demo, and below
// SCHUELER the containers K00001.. holding the users (U0000001.. or userNames) in equal shares.
void generateTree(TreeStore& store, const GenerateOptions& options);

}  // namespace nw::embedded
