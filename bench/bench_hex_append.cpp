// The receive path's cost per read when the pane is full: the discard
// move of up to 1,048,576 bytes plus one render of the page.
#include "panes/hex_pane.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void BM_AppendData4096ToFullPane(benchmark::State& state)
{
    std::vector<std::uint8_t> block(4096);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 29 + 3);
    HexPane pane;
    pane.InitView(14, 240);
    for (int filled = 0; filled < PANE_CAPACITY; filled += 4096)
        pane.AppendData(4096, block.data());
    for (auto _ : state) {
        pane.AppendData(4096, block.data());
        benchmark::DoNotOptimize(pane.Surface().Text().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4096);
}
BENCHMARK(BM_AppendData4096ToFullPane);

} // namespace

BENCHMARK_MAIN();
