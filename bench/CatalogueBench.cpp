/*
 * The message catalogue: building the "en-US" table (every text converted to the
 * locale's character set and indexed) and looking a code up; in the same run, the same
 * keys and texts in a std::unordered_map, built and searched the same way.
 */
#include <benchmark/benchmark.h>

#include <clocale>
#include <string>
#include <unordered_map>

#include "QVLib/GuiMessages.h"

namespace
{

const QVGuiLang &en_us()
{
    return qv_gui_langs[0];
}

size_t row_count()
{
    size_t n = 0;
    while (en_us().codes[n] != nullptr)
        n++;
    return n;
}

void BM_CatalogueBuildEnUS(benchmark::State &state)
{
    for (auto _ : state) {
        qv_gui_set_lang(0);
        benchmark::DoNotOptimize(qv_get_gui_message(0, "KTRGU0079")); /* builds */
        state.PauseTiming();
        qv_free_gui_messages();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(row_count()));
}
BENCHMARK(BM_CatalogueBuildEnUS)->Unit(benchmark::kMicrosecond);

void BM_UnorderedMapBuildEnUS(benchmark::State &state)
{
    size_t n = row_count();
    for (auto _ : state) {
        std::unordered_map<uint32_t, std::string> map;
        for (size_t i = 0; i < n; i++)
            map.emplace(qv_gui_code_to_key(en_us().codes[i]), en_us().texts[i]);
        benchmark::DoNotOptimize(map);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}
BENCHMARK(BM_UnorderedMapBuildEnUS)->Unit(benchmark::kMicrosecond);

void BM_CatalogueLookup(benchmark::State &state)
{
    qv_gui_set_lang(0);
    qv_get_gui_message(0, "KTRGU0079");
    size_t n = row_count(), i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qv_get_gui_message(0, en_us().codes[i]));
        i = i + 1 == n ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CatalogueLookup);

void BM_UnorderedMapLookup(benchmark::State &state)
{
    size_t n = row_count(), i = 0;
    std::unordered_map<uint32_t, std::string> map;
    for (size_t k = 0; k < n; k++)
        map.emplace(qv_gui_code_to_key(en_us().codes[k]), en_us().texts[k]);
    for (auto _ : state) {
        auto found = map.find(qv_gui_code_to_key(en_us().codes[i]));
        benchmark::DoNotOptimize(found == map.end() ? "" : found->second.c_str());
        i = i + 1 == n ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnorderedMapLookup);

} // namespace

int main(int argc, char **argv)
{
    setlocale(LC_CTYPE, "C.UTF-8"); /* the conversion a UTF-8 system makes */
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
