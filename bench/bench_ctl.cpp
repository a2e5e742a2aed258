// tarvel-ctl against the same work done by the layers inside one process: a stop of a 1,000-user
// container and a check of a 5,000-member deny group. The program's own start (loading the
// settings, connecting, the audit line) should cost little: each *_Program row at most 1.2 times
// its *_Layers row. Build with -DCMAKE_BUILD_TYPE=Release for figures.
#include "bench_embedded_trees.h"

#include "deny/check.h"
#include "deny/job.h"
#include "deny/selection.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const std::string Group = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";
const std::string Klasse = "K00001.SCHUELER.UNTERRICHT";

struct Setup {
    std::string conf, ini;
};

// A copy of a generated tree with its nwclient.conf (audit trail in the bench folder) and
// settings file; the layer of this process is connected to it.
Setup prepare(const std::string& name, int users, int members) {
    static std::map<std::string, Setup> made;
    if (auto it = made.find(name); it != made.end()) return it->second;
    const auto dir = benchtrees::folder() / name;
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(benchtrees::tree(users, 1, members), dir / "school.tree");
    Setup s{(dir / "nwclient.conf").string(), (dir / "tarvel.ini").string()};
    std::ofstream(s.conf) << "Tree=sqlite:school.tree\nOperator=admin.UNTERRICHT\nAuditLog=audit.log\n";
    std::ofstream(s.ini) << "[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nGroupInternetUserDeny=" << Group << "\r\n";
    return made.emplace(name, s).first->second;
}

void connectLayer(const Setup& s) {
    nwapi::DoneNWConnection();
    nw::resetClient();
    nwapi::resetLayerForTesting();
    nw::setConfigurationFile(s.conf);
    bool ok = false;
    nwapi::InitNWConnection(ok);
}

int runCtl(const Setup& s, const std::string& command, const std::string& name = "") {
    std::vector<std::string> args = {TARVEL_CTL, "--nwclient=" + s.conf, "--ini=" + s.ini, command};
    if (!name.empty()) args.push_back(name);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, TARVEL_CTL, &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void stopInProcess() {
    text::NameList users, skipped;
    deny::gatherUsers(deny::entriesOfNames({Klasse}), users, skipped);
    deny::runJob(deny::Direction::Stop, users, Group);
}

void goInProcess() {
    text::NameList users, skipped;
    deny::gatherUsers(deny::entriesOfNames({Klasse}), users, skipped);
    deny::runJob(deny::Direction::Go, users, Group);
}

// Each iteration stops the 1,000 users; the go that makes the next stop real again is not timed.
void BM_Stop1000_Layers(benchmark::State& state) {
    const Setup s = prepare("stop-layers", 1000, 0);
    connectLayer(s);
    for (auto _ : state) {
        stopInProcess();
        state.PauseTiming();
        goInProcess();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Stop1000_Layers)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Stop1000_Program(benchmark::State& state) {
    const Setup s = prepare("stop-program", 1000, 0);
    connectLayer(s);
    for (auto _ : state) {
        if (runCtl(s, "stop", Klasse) != 0) state.SkipWithError("tarvel-ctl stop failed");
        state.PauseTiming();
        goInProcess();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Stop1000_Program)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Check5000_Layers(benchmark::State& state) {
    const Setup s = prepare("check", 5000, 5000);
    connectLayer(s);
    for (auto _ : state) benchmark::DoNotOptimize(deny::checkGroup(Group).members);
}
BENCHMARK(BM_Check5000_Layers)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Check5000_Program(benchmark::State& state) {
    const Setup s = prepare("check", 5000, 5000);
    for (auto _ : state)
        if (runCtl(s, "check") != 0) state.SkipWithError("tarvel-ctl check found something or failed");
}
BENCHMARK(BM_Check5000_Program)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
