// The directory layer over large generated trees: listing and search through 4096-byte batches,
// each beside the embedded store's raw enumeration of the same objects, and stop and go of
// thousands of users against a group of thousands.
#include "bench_embedded_trees.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"
#include "nwclient/embedded/tree_store.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kDeny = ".G_User_Internet_Deny.PROJEKTE.UNTERRICHT";

void disconnect() {
    nwapi::DoneNWConnection();
    nw::resetClient();
    nwapi::resetLayerForTesting();
}

void connect(const std::string& treeFile) {
    disconnect();
    std::string conf = (benchtrees::folder() / "nwclient.conf").string();
    std::ofstream(conf, std::ios::trunc) << "Tree=sqlite:" << treeFile << "\nOperator=admin.UNTERRICHT\n";
    nw::setConfigurationFile(conf);
    bool ok = false;
    nwapi::InitNWConnection(ok);
    if (!ok || !nw::currentBackend()) throw std::runtime_error("no connection to " + treeFile);
}

// A private copy that a stop or go may change.
std::string freshCopy(const std::string& pristine) {
    disconnect();
    std::string copy = (benchtrees::folder() / "work.tree").string();
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(copy + suffix);
    fs::copy_file(pristine, copy);
    return copy;
}

nw::ObjectId resolve(std::vector<std::string> fromRoot) {
    nw::ObjectId id = 0;
    if (nw::currentBackend()->resolve(fromRoot, id) != 0) throw std::runtime_error("cannot resolve");
    return id;
}

size_t drain(std::unique_ptr<nw::ObjectCursor>& cursor) {
    size_t n = 0;
    std::vector<nw::ObjectSummary> page;
    for (;;) {
        page.clear();
        if (cursor->next(page) != 0 || page.empty()) break;
        n += page.size();
        benchmark::DoNotOptimize(page.data());
    }
    return n;
}

// ---- listing a container of 20,000 ----

void BM_ListeUnterobjekte(benchmark::State& state) {
    connect(benchtrees::tree(int(state.range(0)), 1, 0));
    nwapi::NameList list;
    for (auto _ : state) {
        list.clear();
        nwapi::ListeUnterobjekte("K00001.SCHUELER.UNTERRICHT", list, 0);
        benchmark::DoNotOptimize(list.data());
    }
    if (list.size() != size_t(state.range(0))) state.SkipWithError("listing incomplete");
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
    disconnect();
}
BENCHMARK(BM_ListeUnterobjekte)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_RawList(benchmark::State& state) {
    connect(benchtrees::tree(int(state.range(0)), 1, 0));
    nw::ObjectId container = resolve({"UNTERRICHT", "SCHUELER", "K00001"});
    size_t n = 0;
    for (auto _ : state) {
        std::unique_ptr<nw::ObjectCursor> cursor;
        nw::currentBackend()->list(container, false, cursor);
        n = drain(cursor);
    }
    if (n != size_t(state.range(0))) state.SkipWithError("raw listing incomplete");
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
    disconnect();
}
BENCHMARK(BM_RawList)->Arg(20000)->Unit(benchmark::kMillisecond);

// ---- searching 50,000 users ----

void BM_SearchObjects(benchmark::State& state) {
    connect(benchtrees::tree(int(state.range(0)), 50, 0));
    nwapi::SetzeContext("[root]");
    nwapi::NameList list;
    for (auto _ : state) {
        list.clear();
        if (!nwapi::SearchObjects("SCHUELER.UNTERRICHT", list, "User")) state.SkipWithError("search failed");
        benchmark::DoNotOptimize(list.data());
    }
    if (list.size() != size_t(state.range(0))) state.SkipWithError("search incomplete");
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
    disconnect();
}
BENCHMARK(BM_SearchObjects)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_RawSearch(benchmark::State& state) {
    connect(benchtrees::tree(int(state.range(0)), 50, 0));
    nw::ObjectId base = resolve({"UNTERRICHT", "SCHUELER"});
    size_t n = 0;
    for (auto _ : state) {
        std::unique_ptr<nw::ObjectCursor> cursor;
        nw::currentBackend()->search(base, "Object Class", "User", cursor);
        n = drain(cursor);
    }
    if (n != size_t(state.range(0))) state.SkipWithError("raw search incomplete");
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
    disconnect();
}
BENCHMARK(BM_RawSearch)->Arg(50000)->Unit(benchmark::kMillisecond);

// ---- stop and go: N users against a group of N members ----
// The tree holds 2N users in two containers; the first N (all of K00001) are already denied.

void BM_Stop(benchmark::State& state) {
    const int n = int(state.range(0));
    std::string pristine = benchtrees::tree(2 * n, 2, n);
    for (auto _ : state) {
        state.PauseTiming();
        connect(freshCopy(pristine));
        nwapi::SetzeContext("[root]");
        nwapi::NameList users;
        nwapi::SearchObjects("K00002.SCHUELER.UNTERRICHT", users, "User");
        state.ResumeTiming();
        if (!nwapi::AddMultipleUsersToGroup(users, kDeny) || users.size() != size_t(n))
            state.SkipWithError("stop failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    disconnect();
}
BENCHMARK(BM_Stop)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_Go(benchmark::State& state) {
    const int n = int(state.range(0));
    std::string pristine = benchtrees::tree(2 * n, 2, n);
    for (auto _ : state) {
        state.PauseTiming();
        connect(freshCopy(pristine));
        nwapi::SetzeContext("[root]");
        nwapi::NameList users;
        int32_t error = 0;
        nwapi::GetGroupMembers(kDeny, users, error);
        state.ResumeTiming();
        if (!nwapi::DeleteMultipleUsersFromGroup(users, kDeny) || users.size() != size_t(n))
            state.SkipWithError("go failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    disconnect();
}
BENCHMARK(BM_Go)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(2);

// The pre-checks alone, without the directory: 5,000 given names against 5,000 members, and
// 10 times both, to show they grow linearly.
void BM_StopPrecheckAllMembers(benchmark::State& state) {
    const int n = int(state.range(0));
    std::string pristine = benchtrees::tree(n, 1, n);
    connect(pristine);
    nwapi::SetzeContext("[root]");
    nwapi::NameList members;
    int32_t error = 0;
    nwapi::GetGroupMembers(kDeny, members, error);
    for (auto _ : state) {
        nwapi::NameList users = members;  // all already members: nothing is written
        if (!nwapi::AddMultipleUsersToGroup(users, kDeny) || !users.empty()) state.SkipWithError("wrote");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    disconnect();
}
BENCHMARK(BM_StopPrecheckAllMembers)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
