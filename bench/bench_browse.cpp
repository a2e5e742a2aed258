// Sort and filters of the browser over large listings: a school OU can hold tens of thousands
// of users. Run with sizes 2,000 / 20,000 / 200,000 to see the growth (n log n for the sort,
// linear for the filters).
#include "browse/browse.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

browse::NameList makeEntries(size_t n) {
    static const char* classes[] = {"User", "User", "User", "Workstation", "Organizational Unit",
                                    "Organization", "Group", "Printer"};
    static const char* stems[] = {"Schüler", "schueler", "Lehrer", "Gast", "KLASSE", "Test", "Ärger", "pc-"};
    std::mt19937 rng(4711);
    browse::NameList entries;
    entries.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        std::string name = stems[rng() % 8] + std::to_string(rng() % 100000);
        entries.push_back("[" + std::string(classes[rng() % 8]) + "] " + name);
    }
    return entries;
}

const browse::NameList kBrowserKlassen = {"Organizational Unit", "Organization", "User", "Workstation"};

void BM_SortiereEintraege(benchmark::State& state) {
    text::setLocaleForTesting("de_DE");
    const browse::NameList source = makeEntries(size_t(state.range(0)));
    for (auto _ : state) {
        browse::NameList entries = source;
        browse::SortiereEintraege(entries);
        benchmark::DoNotOptimize(entries.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SortiereEintraege)->Arg(2000)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_FilterKlassen(benchmark::State& state) {
    const browse::NameList source = makeEntries(size_t(state.range(0)));
    for (auto _ : state) {
        browse::NameList entries = source;
        browse::FilterKlassen(&kBrowserKlassen, entries);
        benchmark::DoNotOptimize(entries.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FilterKlassen)->Arg(2000)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_NameFilters(benchmark::State& state) {
    text::setLocaleForTesting("de_DE");
    const browse::NameList source = makeEntries(size_t(state.range(0)));
    for (auto _ : state) {
        browse::NameList entries = source;
        browse::NameList showContainers = {"KLASSE*", "Gast*"};
        browse::NameList hideContainers = {"alt"};
        browse::NameList showLeaves = {"Schü*", "sch*", "Lehrer*", "pc-*", "Ärger*"};
        browse::NameList hideLeaves = {"Test", "Verwalter"};
        browse::FilterZeige(entries, showContainers, true);
        browse::FilterZeigeNicht(entries, hideContainers, true);
        browse::FilterZeige(entries, showLeaves, false);
        browse::FilterZeigeNicht(entries, hideLeaves, false);
        benchmark::DoNotOptimize(entries.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_NameFilters)->Arg(2000)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_SymbolIndex(benchmark::State& state) {
    const browse::NameList source = makeEntries(size_t(state.range(0)));
    browse::InitKlassenSymbole();
    for (auto _ : state) {
        long sum = 0;
        for (const auto& e : source) sum += browse::SymbolIndex(e);
        benchmark::DoNotOptimize(sum);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SymbolIndex)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
