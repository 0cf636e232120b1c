// The capture writer's work per 4,096-byte block, without the disk: the
// transcript's lines, and the IP and TCP headers with their checksums.
#include "capture/packet_builder.h"
#include "capture/transcript_format.h"

#include <benchmark/benchmark.h>

#include <netinet/in.h>

#include <vector>

namespace {

constexpr int kBlock = 4096;

std::vector<std::uint8_t> Block()
{
    std::vector<std::uint8_t> block(PACKET_HEADROOM + kBlock);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 29 + 3);
    return block;
}

void BM_TranscriptBlock4096(benchmark::State& state)
{
    const std::vector<std::uint8_t> block = Block();
    std::vector<char> out(TranscriptFormat::BlockRoom(kBlock));
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    TranscriptFormat format;
    const auto now = std::chrono::system_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(format.Block(out.data(), true, now, reinterpret_cast<const sockaddr*>(&peer),
                                              block.data() + PACKET_HEADROOM, kBlock));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_TranscriptBlock4096);

void BM_TcpSegment4096(benchmark::State& state)
{
    std::vector<std::uint8_t> block = Block(), scratch(PACKET_MAX);
    TcpConversation tcp;
    const PacketSink sink = [](const std::uint8_t* packet, int) { benchmark::DoNotOptimize(packet); };
    tcp.Open(LoopbackEndpoint(AF_INET, 40000), LoopbackEndpoint(AF_INET, 5000), true, 1, sink);
    for (auto _ : state)
        tcp.Data(false, block.data() + PACKET_HEADROOM, kBlock, scratch.data(), sink);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_TcpSegment4096);

} // namespace

BENCHMARK_MAIN();
