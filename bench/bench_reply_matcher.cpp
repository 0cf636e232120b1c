// The replies' matcher per 4,096-byte read, as the receive path calls it:
// one rule, and sixteen "contains" rules over the receive harness's bytes,
// random bytes, text lines, and bytes that keep beginning a pattern; a
// thousand rules of every kind that none of those bytes match, and a
// thousand that each match; and datagrams, each a stream of its own.
#include "reply_bench_rules.h"
#include "replies/reply_matcher.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
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

// The block fed as one read per iteration, at one time; what the last read
// gave, in entries.
std::size_t FeedEach(benchmark::State& state, ReplyMatcher& matcher, const std::vector<std::uint8_t>& block)
{
    std::vector<ReplyMatcher::Match> out;
    const Clock::time_point now = Clock::now();
    for (auto _ : state) {
        out.clear();
        matcher.Feed(block.data(), block.size(), now, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(block.size()));
    return out.size();
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
    FeedEach(state, matcher, block);
}
BENCHMARK(BM_ContainsRules)
    ->ArgNames({"data", "rules"})
    ->Args({HARNESS, 1})
    ->Args({HARNESS, 16})
    ->Args({RANDOM, 16})
    ->Args({TEXT, 16})
    ->Args({NEAR_MISSES, 16});

std::vector<ReplyPattern> ThousandRules()
{
    std::vector<ReplyPattern> rules;
    for (const auto& [when, p] : bench::ThousandRulesOfEveryKind())
        rules.push_back({when, {p.begin(), p.end()}});
    return rules;
}

// None match: the flood's bytes, random bytes and text lines.
void BM_ThousandRules(benchmark::State& state)
{
    ReplyMatcher matcher(ThousandRules(), std::chrono::milliseconds(50));
    const std::vector<std::uint8_t> block = Block(static_cast<Data>(state.range(0)), {});
    state.counters["matches"] = static_cast<double>(FeedEach(state, matcher, block));
}
BENCHMARK(BM_ThousandRules)->ArgName("data")->Arg(HARNESS)->Arg(RANDOM)->Arg(TEXT);

// Every one of a thousand "contains" rules matches: 2 to 9 bytes of the read.
void BM_ThousandMatchingRules(benchmark::State& state)
{
    const std::vector<std::uint8_t> block = Block(TEXT, {});
    std::mt19937 rng(1);
    std::vector<ReplyPattern> rules;
    for (int r = 0; r < 1000; ++r) {
        const std::size_t at = rng() % 4000;
        rules.push_back({ReplyWhen::Contains, {block.begin() + at, block.begin() + at + 2 + rng() % 8}});
    }
    ReplyMatcher matcher(rules, std::chrono::milliseconds(50));
    state.counters["entries"] = static_cast<double>(FeedEach(state, matcher, block));
}
BENCHMARK(BM_ThousandMatchingRules);

// 1,400-byte datagrams, each matched on its own, against a thousand rules.
void BM_ThousandRulesDatagrams(benchmark::State& state)
{
    ReplyMatcher matcher(ThousandRules(), std::chrono::milliseconds(50));
    const std::vector<std::uint8_t> block = Block(TEXT, {});
    std::vector<ReplyMatcher::Match> out;
    const Clock::time_point now = Clock::now();
    for (auto _ : state) {
        out.clear();
        matcher.Reset();
        matcher.Feed(block.data(), 1400, now, out);
        matcher.EndFrame(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ThousandRulesDatagrams);

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
