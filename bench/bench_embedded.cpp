// Raw enumeration straight from the embedded store: the baseline that the listing benchmarks
// (4096-byte batches through the client and the directory layer) are measured against; and whole
// fresh processes: opening a tree, and listing a container against sqlite3 on the same file.
#include "bench_embedded_trees.h"

#include "nwclient/embedded/embedded_backend.h"

#include <benchmark/benchmark.h>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::unique_ptr<nw::DirectoryBackend> openTree(const std::string& file) {
    nw::NWCCODE status = 0;
    auto backend = nw::makeEmbeddedBackend(file, "admin.UNTERRICHT", status);
    if (!backend) throw std::runtime_error("cannot open " + file);
    return backend;
}

nw::ObjectId resolve(nw::DirectoryBackend& b, std::vector<std::string> components) {
    nw::ObjectId id = -1;
    if (b.resolve(components, id) != 0) throw std::runtime_error("no such container");
    return id;
}

size_t drain(nw::ObjectCursor& cursor) {
    size_t n = 0;
    std::vector<nw::ObjectSummary> page;
    while (cursor.next(page) == 0 && !page.empty()) {
        n += page.size();
        benchmark::DoNotOptimize(page.data());
    }
    return n;
}

// Every subordinate of one container of 20,000 users, page by page through the backend cursor.
void BM_EmbeddedListContainer(benchmark::State& state) {
    const int users = int(state.range(0));
    auto backend = openTree(benchtrees::tree(users, 1));
    nw::ObjectId container = resolve(*backend, {"UNTERRICHT", "SCHUELER", "K00001"});
    for (auto _ : state) {
        std::unique_ptr<nw::ObjectCursor> cursor;
        backend->list(container, false, cursor);
        if (drain(*cursor) != size_t(users)) state.SkipWithError("listing incomplete");
    }
    state.SetItemsProcessed(state.iterations() * users);
    state.SetComplexityN(users);
}
BENCHMARK(BM_EmbeddedListContainer)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();

// The store's own keyset pages, without the backend's summaries: the floor for any listing.
void BM_EmbeddedStoreChildren(benchmark::State& state) {
    const int users = int(state.range(0));
    nw::NWCCODE status;
    auto store = nw::embedded::TreeStore::open(benchtrees::tree(users, 1), status);
    nw::ObjectId container;
    store->resolve({"UNTERRICHT", "SCHUELER", "K00001"}, container);
    for (auto _ : state) {
        size_t n = 0;
        std::string last;
        for (;;) {
            auto rows = store->children(container, last, false, 500);
            if (rows.empty()) break;
            last = rows.back().nameKey;
            n += rows.size();
        }
        if (n != size_t(users)) state.SkipWithError("enumeration incomplete");
    }
    state.SetItemsProcessed(state.iterations() * users);
}
BENCHMARK(BM_EmbeddedStoreChildren)->Arg(20000)->Unit(benchmark::kMillisecond);

// Every User below SCHUELER.UNTERRICHT: 50,000 users in 50 containers, with full names.
void BM_EmbeddedSearchUsers(benchmark::State& state) {
    const int users = int(state.range(0));
    auto backend = openTree(benchtrees::tree(users, 50));
    nw::ObjectId base = resolve(*backend, {"UNTERRICHT", "SCHUELER"});
    for (auto _ : state) {
        std::unique_ptr<nw::ObjectCursor> cursor;
        backend->search(base, "Object Class", "User", cursor);
        if (drain(*cursor) != size_t(users)) state.SkipWithError("search incomplete");
    }
    state.SetItemsProcessed(state.iterations() * users);
    state.SetComplexityN(users);
}
BENCHMARK(BM_EmbeddedSearchUsers)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Complexity();

// The users below SCHUELER.UNTERRICHT whose Group Membership holds the deny group (half of N):
// a match on a stored value, asked of every entry.
void BM_EmbeddedSearchByValue(benchmark::State& state) {
    const int users = int(state.range(0));
    auto backend = openTree(benchtrees::tree(users, 20, users / 2));
    nw::ObjectId base = resolve(*backend, {"UNTERRICHT", "SCHUELER"});
    for (auto _ : state) {
        std::unique_ptr<nw::ObjectCursor> cursor;
        backend->search(base, "Group Membership", "G_User_Internet_Deny.PROJEKTE.UNTERRICHT", cursor);
        if (drain(*cursor) != size_t(users / 2)) state.SkipWithError("search incomplete");
    }
    state.SetItemsProcessed(state.iterations() * users);
}
BENCHMARK(BM_EmbeddedSearchByValue)->Arg(20000)->Unit(benchmark::kMillisecond);

// One request adding N members to a group that has N already, and one taking them out again:
// duplicate checks are index probes, so the cost grows linearly.
void BM_EmbeddedModifyMembers(benchmark::State& state) {
    const int n = int(state.range(0));
    auto backend = openTree(benchtrees::tree(2 * n, 10, n));
    nw::ObjectId group = resolve(*backend, {"UNTERRICHT", "PROJEKTE", "G_User_Internet_Deny"});
    nw::ObjectId base = resolve(*backend, {"UNTERRICHT", "SCHUELER"});
    std::unique_ptr<nw::ObjectCursor> cursor;
    backend->search(base, "Object Class", "User", cursor);
    std::vector<nw::AttrValue> values;
    std::vector<nw::ObjectSummary> page;
    while (cursor->next(page) == 0 && !page.empty())
        for (auto& s : page)
            if (s.name.compare(0, 1, "U") == 0 && std::stoi(s.name.substr(1, 7)) > n) {
                nw::AttrValue v;
                v.text = s.name;
                values.push_back(v);
            }
    nw::Change add{nw::DS_ADDITIONAL_VALUE, "Member", nw::SYN_DIST_NAME, values};
    nw::Change remove{nw::DS_REMOVE_VALUE, "Member", nw::SYN_DIST_NAME, values};
    for (auto _ : state) {
        if (backend->modify(group, {add}) != 0 || backend->modify(group, {remove}) != 0)
            state.SkipWithError("modify failed");
    }
    state.SetItemsProcessed(state.iterations() * 2 * n);
    state.SetComplexityN(n);
}
BENCHMARK(BM_EmbeddedModifyMembers)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond)->Complexity();

// Opening a 20,000-user tree with school names in a fresh process (forked; it opens the tree,
// closes it and exits), as tarvel-ctl and the window do: a tree nobody changed since its last
// clean check is not checked again (remembered:1). The first opening, outside the timing, checks
// it. remembered:0 forgets every check first: the quick check and the walk of the parent links.
// child_cpu_ms is the processor time of one opening, which a busy machine does not lengthen.
void BM_EmbeddedOpenFreshProcess(benchmark::State& state) {
    const std::string& file = benchtrees::tree(int(state.range(0)), 40, 0, true);
    const bool remembered = state.range(1) != 0;
    const std::string memory = (benchtrees::folder() / (remembered ? "state" : "forgotten")).string();
    setenv("XDG_STATE_HOME", memory.c_str(), 1);
    openTree(file).reset();
    auto childrenCpu = [] {
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    const double cpuBefore = childrenCpu();
    for (auto _ : state) {
        if (!remembered) std::filesystem::remove_all(memory);
        pid_t child = fork();
        if (child == 0) {
            nw::NWCCODE status = 0;
            bool opened = nw::makeEmbeddedBackend(file, "admin.UNTERRICHT", status) != nullptr;  // and closed
            _exit(opened ? 0 : 1);
        }
        int rc = -1;
        if (child < 0 || waitpid(child, &rc, 0) != child || rc != 0) state.SkipWithError("opening failed");
    }
    state.counters["child_cpu_ms"] = (childrenCpu() - cpuBefore) * 1e3 / double(std::max<int64_t>(state.iterations(), 1));
}
BENCHMARK(BM_EmbeddedOpenFreshProcess)
    ->ArgsProduct({{20000}, {1, 0}})
    ->ArgNames({"users", "remembered"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Runs a program to its end with standard output to /dev/null and the check memory in the run's
// own folder; the wall time in seconds, or -1 when it could not run or failed.
double runProgram(const std::vector<std::string>& args) {
    static const std::string state = "XDG_STATE_HOME=" + (benchtrees::folder() / "state").string();
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp{const_cast<char*>(state.c_str())};
    for (char** e = environ; *e; ++e)
        if (std::string_view(*e).substr(0, 15) != "XDG_STATE_HOME=") envp.push_back(*e);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = -1;
    int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    int rc = -1;
    if (spawned != 0 || waitpid(child, &rc, 0) != child || !WIFEXITED(rc) || WEXITSTATUS(rc) != 0) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A container of N users with school names opened in the window, as a fresh process does it
// (bench_stopgo_once list: start, read nwclient.conf, open the tree, list through the client and
// the directory layer), against a fresh sqlite3 reading the same rows from the same file. Runs
// alternate; the time is the program's, the counters give both medians and their ratio.
void BM_EmbeddedListFreshProcess(benchmark::State& state) {
    const int users = int(state.range(0));
    const std::string& file = benchtrees::tree(users, 1, 0, true);
    const std::string conf = (benchtrees::folder() / "list.conf").string();
    std::ofstream(conf) << "Tree=sqlite:" << file << "\nOperator=admin.UNTERRICHT\n";
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return state.SkipWithError("no own path");
    const std::string lister = (std::filesystem::path(self).parent_path() / "bench_stopgo_once").string();
    const std::vector<std::string> program{lister, "--nwclient=" + conf, "--container=.K00001.SCHUELER.UNTERRICHT",
                                           "--expect=" + std::to_string(users), "list"};
    const std::vector<std::string> anchor{
        "sqlite3", file,
        "SELECT name, class, container, mtime FROM objects WHERE parent = (SELECT id FROM objects WHERE name_key = "
        "'k00001' AND parent = (SELECT id FROM objects WHERE name_key = 'schueler' AND parent = (SELECT id FROM "
        "objects WHERE name_key = 'unterricht' AND parent = 0))) ORDER BY name_key"};
    // Once outside the timing: the first opening checks the tree and remembers it.
    if (runProgram(program) < 0 || runProgram(anchor) < 0) return state.SkipWithError("lister or sqlite3 failed");
    std::vector<double> programTimes, anchorTimes;
    for (auto _ : state) {
        const double p = runProgram(program), a = runProgram(anchor);
        if (p < 0 || a < 0) return state.SkipWithError("lister or sqlite3 failed");
        programTimes.push_back(p);
        anchorTimes.push_back(a);
        state.SetIterationTime(p);
    }
    state.counters["program_ms"] = median(programTimes) * 1e3;
    state.counters["sqlite3_ms"] = median(anchorTimes) * 1e3;
    state.counters["ratio"] = median(programTimes) / median(anchorTimes);
}
BENCHMARK(BM_EmbeddedListFreshProcess)->Arg(20000)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
