// The program's own listing and stop against an LDAP server, for bench/ldap_compare.sh, which
// starts the server, loads the tree and sets these up:
//   bench_ldap --nwclient=CONF --list=.GROSS.UNTERRICHT --users=FILE --group=.G_Bench.UNTERRICHT
//              [benchmark flags]
// --users names a file with one full user name per line (the users of a stop).
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::string container, usersFile, group;

void connect() {
    if (nwapi::layer().initialised) return;
    bool ok = false;
    nwapi::InitNWConnection(ok);
    if (!ok) {
        std::cerr << "bench_ldap: no connection\n";
        std::exit(1);
    }
}

// ListeUnterobjekte: every page of the container, as the browser panel lists it.
void BM_LdapListing(benchmark::State& state) {
    connect();
    size_t count = 0;
    for (auto _ : state) {
        nwapi::NameList entries;
        nwapi::ListeUnterobjekte(container, entries, 0);
        count = entries.size();
        benchmark::DoNotOptimize(entries.data());
    }
    state.counters["entries"] = double(count);
}

// AddMultipleUsersToGroup of the users (timed), then DeleteMultipleUsersFromGroup (not timed),
// so every round starts from the same directory.
void BM_LdapStop(benchmark::State& state) {
    connect();
    nwapi::NameList users;
    std::ifstream in(usersFile);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) users.push_back(line);
    nwapi::SetzeContext("[root]");
    for (auto _ : state) {
        nwapi::NameList stop = users;
        if (!nwapi::AddMultipleUsersToGroup(stop, group)) state.SkipWithError("stop failed");
        state.PauseTiming();
        nwapi::NameList go = users;
        if (!nwapi::DeleteMultipleUsersFromGroup(go, group)) state.SkipWithError("go failed");
        state.ResumeTiming();
    }
    state.counters["users"] = double(users.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        auto value = [&](const char* prefix, std::string& out) {
            if (std::strncmp(argv[i], prefix, std::strlen(prefix)) != 0) return false;
            out = argv[i] + std::strlen(prefix);
            return true;
        };
        std::string conf;
        if (value("--nwclient=", conf)) nw::setConfigurationFile(conf);
        else if (!value("--list=", container) && !value("--users=", usersFile) && !value("--group=", group))
            rest.push_back(argv[i]);
    }
    if (!container.empty()) benchmark::RegisterBenchmark("BM_LdapListing", BM_LdapListing)->Unit(benchmark::kMillisecond);
    if (!usersFile.empty() && !group.empty())
        benchmark::RegisterBenchmark("BM_LdapStop", BM_LdapStop)->Unit(benchmark::kMillisecond)->Iterations(3);
    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    nwapi::DoneNWConnection();
    return 0;
}
