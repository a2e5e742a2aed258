// The deny list's container-first sort over large deny groups (a whole school denied): one
// collation key per name, so the growth is n log n.
#include "browse/member_order.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

text::NameList makeMembers(size_t n) {
    std::mt19937 rng(815);
    text::NameList names;
    names.reserve(n);
    for (size_t i = 0; i < n; ++i)
        names.push_back("Schüler" + std::to_string(rng() % 1000000) + ".KLASSE" + std::to_string(rng() % 40) +
                        ".SCHUELER.UNTERRICHT");
    return names;
}

void BM_SortiereNachContainer(benchmark::State& state) {
    text::setLocaleForTesting("de_DE");
    const text::NameList source = makeMembers(size_t(state.range(0)));
    for (auto _ : state) {
        text::NameList names = source;
        browse::SortiereNachContainer(names);
        benchmark::DoNotOptimize(names.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SortiereNachContainer)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
