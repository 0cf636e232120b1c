// Rendering a page costs the same whatever the buffer holds: only the
// visible rows plus one are formatted.
#include "panes/hex_pane.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

// The send pane's page: 17 rows of 14-pixel lines in a 240-pixel view.
constexpr int kLineHeight = 14;
constexpr int kViewHeight = 240;

std::unique_ptr<HexPane> PaneOf(int length)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
    auto pane = std::make_unique<HexPane>();
    pane->InitView(kLineHeight, kViewHeight);
    pane->SetData(length, bytes.data());
    return pane;
}

void RenderLoop(benchmark::State& state, HexPane& pane)
{
    for (auto _ : state) {
        pane.Render();
        benchmark::DoNotOptimize(pane.Surface().Text().data());
    }
    const int rows = pane.Surface().Rows();
    state.counters["rows"] = rows;
    // Time per rendered row, comparable across panes of any size.
    state.counters["per_row"] =
        benchmark::Counter(rows, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_RenderPage36Bytes(benchmark::State& state)
{
    auto pane = PaneOf(36);
    RenderLoop(state, *pane);
}
BENCHMARK(BM_RenderPage36Bytes);

// A buffer that just fills the rendered rows, for a like-for-like page.
void BM_RenderPageOnePageBuffer(benchmark::State& state)
{
    auto pane = PaneOf((kViewHeight / kLineHeight + 1) * 16);
    RenderLoop(state, *pane);
}
BENCHMARK(BM_RenderPageOnePageBuffer);

void BM_RenderPageFullBufferMiddle(benchmark::State& state)
{
    auto pane = PaneOf(PANE_CAPACITY);
    pane->OnVScroll(SB_THUMBTRACK, pane->m_nTotalLines / 2);
    RenderLoop(state, *pane);
}
BENCHMARK(BM_RenderPageFullBufferMiddle);

} // namespace

BENCHMARK_MAIN();
