// Fields at each send: every checksum over a full message of 1 MiB, and the
// render of one send with and without fields.
#include "messages/byte_text.h"

#include <benchmark/benchmark.h>

namespace {

constexpr qsizetype kMiB = 1024 * 1024;

QByteArray Bytes(qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 31 + 7);
    return bytes;
}

void BM_Checksum1MiB(benchmark::State& state)
{
    const auto kind = static_cast<FieldKind>(state.range(0));
    const QByteArray bytes = Bytes(kMiB);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            FieldChecksum(kind, reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kMiB);
    state.SetLabel(FieldName(ByteField{kind, 1, false, 0, 0}).toStdString());
}
BENCHMARK(BM_Checksum1MiB)->DenseRange(0, static_cast<int>(FieldKind::Lrc))->Unit(benchmark::kMicrosecond);

// One send of a message: its bytes copied, each field computed.
void BM_RenderSend(benchmark::State& state)
{
    const qsizetype size = state.range(0);
    const bool fields = state.range(1) != 0;
    const QString text =
        FormatHexBytes(Bytes(size - 6)) + (fields ? u" {seq:u16be} {crc32}"_qs : u" 00 00 00 00 00 00"_qs);
    const ByteTemplate bytes = ParseHexBytes(text, BYTE_TEXT_MAX, FieldUse::Allowed).Template();
    std::uint32_t counter = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(bytes.Render(counter++));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}
BENCHMARK(BM_RenderSend)->ArgsProduct({{16, kMiB}, {0, 1}})->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
