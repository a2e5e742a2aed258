// The client's own work in a stop of many users on LDAP: the process's CPU time (slapd runs in a
// process of its own, so its work is not counted) for 5,000 and 50,000 users of one container,
// each a private slapd (scripts/slapd-fixture.sh) with the test school:
//   bench_ldap_queue --benchmark_filter=/5000/    and    bench_ldap_queue --benchmark_filter=/50000
// one size per process: the directory layer keeps the server of its first connection.
// Each user's Equivalent To Me waits in the group's queue until the group's Member request that
// names the user: a stop of n users queues n values and takes them in n/500 parts. The time per
// user should not grow with n.
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "slapd_fixture.h"

#include <benchmark/benchmark.h>

#include <iostream>

namespace {

void BM_LdapStopClientCpu(benchmark::State& state) {
    const int users = int(state.range(0));
    ldaptest::Slapd server(ldaptest::SchoolOptions{users});
    nw::setConfigurationFile(server.useAs("admin", "Timeout=120\n"));
    bool ok = false;
    nwapi::InitNWConnection(ok);
    if (!ok) {
        state.SkipWithError("no connection");
        return;
    }
    nwapi::SetzeContext("[root]");
    nwapi::NameList gathered;
    if (!nwapi::SearchObjects(".GROSS.UNTERRICHT", gathered, "User") || gathered.size() != size_t(users)) {
        state.SkipWithError("the users were not found");
        nwapi::DoneNWConnection();
        return;
    }
    for (auto _ : state) {
        nwapi::NameList stop = gathered;
        if (!nwapi::AddMultipleUsersToGroup(stop, ldaptest::DENY_GROUP) || stop.size() != gathered.size())
            state.SkipWithError("stop failed");
    }
    nwapi::DoneNWConnection();
    state.counters["users"] = users;
    state.counters["cpu_per_user"] =
        benchmark::Counter(double(users), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_LdapStopClientCpu)->Arg(5000)->Arg(50000)->Iterations(1)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
