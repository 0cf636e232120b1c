// The replies' matcher per 4,096-byte read, as the receive path calls it:
// one rule, and sixteen "contains" rules over the receive harness's bytes,
// random bytes, text lines, and bytes that keep beginning a pattern.
#include "reply_bench_rules.h"
#include "replies/reply_matcher.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

using Clock = ReplyMatcher::Clock;

enum Data { HARNESS, RANDOM, TEXT, NEAR_MISSES };

std::vector<std::uint8_t> Block(Data kind, const std::vector<std::string>& patterns)
{
    std::vector<std::uint8_t> block(4096);
    std::mt19937 rng(7);
    std::size_t i = 0;
    while (i < block.size()) {
        std::string piece;
        switch (kind) {
        case HARNESS:
            piece.push_back(static_cast<char>(i * 13));
            break;
        case RANDOM:
            piece.push_back(static_cast<char>(rng()));
            break;
        case TEXT:
            piece = "temperature=" + std::to_string(rng() % 1000) +
                    " humidity=" + std::to_string(rng() % 100) + "\r\n";
            break;
        case NEAR_MISSES: {
            // A pattern less its last byte, over and over.
            const std::string& p = patterns[rng() % patterns.size()];
            piece = p.substr(0, p.size() - 1);
            break;
        }
        }
        for (std::size_t k = 0; k < piece.size() && i < block.size(); ++k)
            block[i++] = static_cast<std::uint8_t>(piece[k]);
    }
    return block;
}

void BM_ContainsRules(benchmark::State& state)
{
    auto patterns = bench::SixteenContainsPatterns();
    patterns.resize(static_cast<std::size_t>(state.range(1)));
    std::vector<ReplyPattern> rules;
    for (const std::string& p : patterns)
        rules.push_back({ReplyWhen::Contains, {p.begin(), p.end()}});
    ReplyMatcher matcher(rules, std::chrono::milliseconds(50));
    const std::vector<std::uint8_t> block = Block(static_cast<Data>(state.range(0)), patterns);
    std::vector<ReplyMatcher::Match> out;
    const Clock::time_point now = Clock::now();
    for (auto _ : state) {
        out.clear();
        matcher.Feed(block.data(), block.size(), now, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4096);
}
BENCHMARK(BM_ContainsRules)
    ->ArgNames({"data", "rules"})
    ->Args({HARNESS, 1})
    ->Args({HARNESS, 16})
    ->Args({RANDOM, 16})
    ->Args({TEXT, 16})
    ->Args({NEAR_MISSES, 16});

// Frames: a "starts with", an "equals" and an "ends with" rule on text lines.
void BM_FrameRules(benchmark::State& state)
{
    const auto bytes = [](const char* s) { return std::vector<std::uint8_t>(s, s + std::strlen(s)); };
    ReplyMatcher matcher({{ReplyWhen::StartsWith, bytes("\x02\x10")},
                          {ReplyWhen::Equals, bytes("STATUS?\r\n")},
                          {ReplyWhen::EndsWith, bytes("\r\n")}},
                         std::chrono::milliseconds(50));
    const std::vector<std::uint8_t> block = Block(TEXT, {});
    std::vector<ReplyMatcher::Match> out;
    Clock::time_point now = Clock::now();
    for (auto _ : state) {
        out.clear();
        // Every read a frame of its own.
        now += std::chrono::milliseconds(60);
        matcher.Feed(block.data(), block.size(), now, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4096);
}
BENCHMARK(BM_FrameRules);

} // namespace

BENCHMARK_MAIN();
