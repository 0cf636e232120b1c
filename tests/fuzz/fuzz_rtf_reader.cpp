// Arbitrary bytes, split into arbitrary chunks, through the RTF reader: it
// must neither crash nor hang, give the same result for every split, and give
// text without control characters or broken surrogate pairs.
#include "support/fuzz_target.h"
#include "ui/rtf_reader.h"

#include <QString>

#include <cstdlib>

namespace {

bool SameParagraphs(const RtfReader& a, const RtfReader& b)
{
    const auto& pa = a.Paragraphs();
    const auto& pb = b.Paragraphs();
    if (pa.size() != pb.size())
        return false;
    for (std::size_t i = 0; i < pa.size(); ++i) {
        if (!(pa[i].format == pb[i].format) || pa[i].runs.size() != pb[i].runs.size())
            return false;
        for (std::size_t j = 0; j < pa[i].runs.size(); ++j) {
            if (!(pa[i].runs[j].format == pb[i].runs[j].format) || pa[i].runs[j].text != pb[i].runs[j].text)
                return false;
        }
    }
    return true;
}

} // namespace

static int RtfReaderFuzz(const uint8_t* data, size_t size)
{
    const auto* bytes = reinterpret_cast<const char*>(data);

    RtfReader whole;
    whole.Feed(bytes, size);
    whole.Finish();

    // Chunk lengths from a small generator seeded by the input itself.
    std::uint32_t state = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        state = (state ^ data[i]) * 16777619u;
    RtfReader chunked;
    for (size_t pos = 0; pos < size;) {
        state = state * 1103515245u + 12345u;
        const size_t chunk = std::min<size_t>(size - pos, 1 + (state >> 16) % 97);
        chunked.Feed(bytes + pos, chunk);
        pos += chunk;
    }
    chunked.Finish();
    if (!SameParagraphs(whole, chunked))
        std::abort();

    const QString text = whole.PlainText();
    if (!QStringView(text).isValidUtf16())
        std::abort();
    for (QChar c : text) {
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            std::abort();
    }
    return 0;
}

KORVO_FUZZ_TARGET(RtfReaderFuzz, 2000, 512)
