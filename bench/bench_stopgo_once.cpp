// One stop or one go in a fresh process, as the window runs it for a selected class: connect and
// bind, gather the users below the container (one subtree search), change the group on all
// sides, close. bench/ldap_compare.sh times whole processes of it against ldapmodify:
//   bench_stopgo_once --nwclient=CONF --container=.STOP.UNTERRICHT --group=.G_Bench.UNTERRICHT stop|go
// Exit status 0 when the change succeeded and touched every user found.
//   bench_stopgo_once --nwclient=CONF --container=NAME --expect=N list
//     the container opened in the window (one listing, past the operator's size limit too): exit
//     status 0 when it held exactly N entries;
//   bench_stopgo_once --nwclient=CONF --container=NAME gather
//     only the stop's gathering of the users below the container.
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"

#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    std::string container, group, action, expect;
    for (int i = 1; i < argc; ++i) {
        auto value = [&](const char* prefix, std::string& out) {
            if (std::strncmp(argv[i], prefix, std::strlen(prefix)) != 0) return false;
            out = argv[i] + std::strlen(prefix);
            return true;
        };
        std::string conf;
        if (value("--nwclient=", conf)) nw::setConfigurationFile(conf);
        else if (!value("--container=", container) && !value("--group=", group) && !value("--expect=", expect))
            action = argv[i];
    }
    const bool change = action == "stop" || action == "go";
    if (container.empty() || (change && group.empty()) || (!change && action != "list" && action != "gather")) {
        std::cerr << "usage: bench_stopgo_once --nwclient=CONF --container=NAME [--group=NAME] [--expect=N] stop|go|list|gather\n";
        return 2;
    }
    bool ok = false;
    nwapi::InitNWConnection(ok);
    if (!ok) {
        std::cerr << "bench_stopgo_once: no connection\n";
        return 1;
    }
    nwapi::SetzeContext("[root]");
    if (action == "list") {
        nwapi::NameList entries;
        nwapi::ListeUnterobjekte(container, entries, 0);
        nwapi::DoneNWConnection();
        if (std::to_string(entries.size()) == expect) return 0;
        std::cerr << "bench_stopgo_once: " << entries.size() << " entries in " << container << ", not " << expect << "\n";
        return 1;
    }
    nwapi::NameList users;
    if (!nwapi::SearchObjects(container, users, "User") || users.empty()) {
        std::cerr << "bench_stopgo_once: no users below " << container << "\n";
        nwapi::DoneNWConnection();
        return 1;
    }
    const size_t found = users.size();
    if (action == "gather") {
        nwapi::DoneNWConnection();
        return 0;
    }
    ok = action == "stop" ? nwapi::AddMultipleUsersToGroup(users, group) : nwapi::DeleteMultipleUsersFromGroup(users, group);
    nwapi::DoneNWConnection();
    if (!ok || users.size() != found) {
        std::cerr << "bench_stopgo_once: " << action << " failed (" << users.size() << " of " << found << " users to change)\n";
        return 1;
    }
    return 0;
}
