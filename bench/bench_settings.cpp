// Reading and writing the settings file: a 20 MB file, long lists, the whole save text.
#include "settings/ini_file.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

#include <benchmark/benchmark.h>

namespace {

std::string largeSettingsFile(size_t bytes) {
    std::string big = "[TYP]\r\nTyp=Tarvel\r\n[FILLER]\r\n";
    for (size_t i = 0; big.size() < bytes; ++i)
        big += "Schl\xFC" "ssel" + std::to_string(i) + " = Wert Wert Wert ; Kommentar\r\n";
    big += "[SHOW]\r\nShowContainer=Kl, Gym\r\n";
    return big;
}

void BM_ReadLargeSettingsFile(benchmark::State& state) {
    const std::string bytes = largeSettingsFile(size_t(state.range(0)) << 20);
    for (auto _ : state) {
        const settings::IniFile ini = settings::IniFile::fromBytes(bytes);
        benchmark::DoNotOptimize(settings::ReadSettingText(ini, "SHOW", "ShowContainer", ""));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_ReadLargeSettingsFile)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

void BM_SplitLongList(benchmark::State& state) {
    std::string list;
    for (int64_t i = 0; i < state.range(0); ++i) list += " Klasse" + std::to_string(i) + " ,";
    text::NameList items;
    for (auto _ : state) {
        settings::SplitList(list, ',', items);
        benchmark::DoNotOptimize(items.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SplitLongList)->Range(1000, 100000)->Complexity(benchmark::oN);

void BM_BuildSaveText(benchmark::State& state) {
    settings::Values v = settings::startValues();
    for (int i = 0; i < 1000; ++i) v.NoShowLeafList.push_back("Verwalter" + std::to_string(i));
    for (auto _ : state) benchmark::DoNotOptimize(settings::BuildSettingsText(v, "06.12.2026 15:30:00 (ServerTime)"));
}
BENCHMARK(BM_BuildSaveText);

}  // namespace

BENCHMARK_MAIN();
