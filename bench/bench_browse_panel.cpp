// The browser panel's whole listing (change, list, class filter, sort, ".." row, name filters,
// rows and full names) over a container of 2,000 and 20,000 users, beside the bare listing
// of the same container: what the panel adds on top must stay n log n.
#include "bench_embedded_trees.h"
#include "browse/browse.h"
#include "nwapi/nwapi.h"
#include "nwclient/client_setup.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

const browse::NameList kBrowserKlassen = {"Organizational Unit", "Organization", "User", "Workstation"};
const std::string kContainer = "K00001.SCHUELER.UNTERRICHT";

void connect(int users) {
    nwapi::DoneNWConnection();
    nw::resetClient();
    nwapi::resetLayerForTesting();
    const std::string tree = benchtrees::tree(users, 1);
    const std::string conf = (std::filesystem::path(tree).parent_path() / "browse-nwclient.conf").string();
    std::ofstream(conf, std::ios::trunc) << "Tree=sqlite:" << tree << "\nOperator=admin.UNTERRICHT\n";
    nw::setConfigurationFile(conf);
    bool ok = false;
    nwapi::InitNWConnection(ok);
    if (!ok) throw std::runtime_error("no connection to " + tree);
    nwapi::SetzeContext("[root]");
    text::setLocaleForTesting("de_DE");
    browse::InitKlassenSymbole();
}

void BM_ZeigeContext(benchmark::State& state) {
    connect(int(state.range(0)));
    browse::NameFilters filters;
    filters.showLeaves = {"U*"};
    filters.hideLeaves = {"Test", "Verwalter"};
    browse::ListingOptions options;
    options.displayClasses = &kBrowserKlassen;
    options.filters = &filters;
    for (auto _ : state) {
        browse::BrowserPanel panel;
        if (panel.ZeigeContext(kContainer, options) != browse::ListingResult::Shown)
            state.SkipWithError("listing not shown");
        benchmark::DoNotOptimize(panel.rows().data());
        if (panel.rows().size() != size_t(state.range(0)) + 1) state.SkipWithError("rows missing");
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ZeigeContext)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_BareListing(benchmark::State& state) {
    connect(int(state.range(0)));
    for (auto _ : state) {
        browse::NameList list;
        nwapi::ListeUnterobjekte(kContainer, list, 0);
        benchmark::DoNotOptimize(list.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_BareListing)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
