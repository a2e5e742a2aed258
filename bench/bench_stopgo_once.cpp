// One stop or one go in a fresh process, as the window runs it for a selected class: connect and
// bind, gather the users below the container (one subtree search), change the group on all
// sides, close. bench/ldap_compare.sh times whole processes of it against ldapmodify:
//   bench_stopgo_once --nwclient=CONF --container=.STOP.UNTERRICHT --group=.G_Bench.UNTERRICHT stop|go
// Exit status 0 when the change succeeded and touched every user found.
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"

#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    std::string container, group, action;
    for (int i = 1; i < argc; ++i) {
        auto value = [&](const char* prefix, std::string& out) {
            if (std::strncmp(argv[i], prefix, std::strlen(prefix)) != 0) return false;
            out = argv[i] + std::strlen(prefix);
            return true;
        };
        std::string conf;
        if (value("--nwclient=", conf)) nw::setConfigurationFile(conf);
        else if (!value("--container=", container) && !value("--group=", group)) action = argv[i];
    }
    if (container.empty() || group.empty() || (action != "stop" && action != "go")) {
        std::cerr << "usage: bench_stopgo_once --nwclient=CONF --container=NAME --group=NAME stop|go\n";
        return 2;
    }
    bool ok = false;
    nwapi::InitNWConnection(ok);
    if (!ok) {
        std::cerr << "bench_stopgo_once: no connection\n";
        return 1;
    }
    nwapi::SetzeContext("[root]");
    nwapi::NameList users;
    if (!nwapi::SearchObjects(container, users, "User") || users.empty()) {
        std::cerr << "bench_stopgo_once: no users below " << container << "\n";
        nwapi::DoneNWConnection();
        return 1;
    }
    const size_t found = users.size();
    ok = action == "stop" ? nwapi::AddMultipleUsersToGroup(users, group) : nwapi::DeleteMultipleUsersFromGroup(users, group);
    nwapi::DoneNWConnection();
    if (!ok || users.size() != found) {
        std::cerr << "bench_stopgo_once: " << action << " failed (" << users.size() << " of " << found << " users to change)\n";
        return 1;
    }
    return 0;
}
