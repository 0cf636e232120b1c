#include "replies/start_filter.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KORVO_VECTOR_SKIP 1
#endif

namespace {

#ifdef KORVO_VECTOR_SKIP
#define KORVO_SSSE3 __attribute__((target("ssse3")))

// The buckets whose patterns may have each of the sixteen bytes at the place
// the nibble tables stand for.
KORVO_SSSE3 inline __m128i Buckets(__m128i bytes, const std::array<std::uint8_t, 16>& low,
                                   const std::array<std::uint8_t, 16>& high)
{
    const __m128i nibble = _mm_set1_epi8(0x0f);
    const __m128i lowTable = _mm_loadu_si128(reinterpret_cast<const __m128i*>(low.data()));
    const __m128i highTable = _mm_loadu_si128(reinterpret_cast<const __m128i*>(high.data()));
    return _mm_and_si128(_mm_shuffle_epi8(lowTable, _mm_and_si128(bytes, nibble)),
                         _mm_shuffle_epi8(highTable, _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble)));
}

// Sixteen places at a time: a place is a candidate when its byte may be the
// first of a pattern in some bucket and the next byte the second of one in
// the same bucket. Returns the first candidate, or where fewer than 17 bytes
// are left.
KORVO_SSSE3 std::size_t SkipVector(const StartFilter::Buckets& f, const std::uint8_t* data, std::size_t i,
                                   std::size_t length)
{
    for (; i + 17 <= length; i += 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        const __m128i both = _mm_and_si128(Buckets(first, f.low0, f.high0), Buckets(second, f.low1, f.high1));
        const int none = _mm_movemask_epi8(_mm_cmpeq_epi8(both, _mm_setzero_si128()));
        if (none != 0xffff)
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(~none)));
    }
    return i;
}
#endif

// The pairs that begin at `offset` of a pattern: its own, or at its last
// byte that byte with any.
template <class Mark> void PairsAt(const std::vector<std::uint8_t>& p, std::size_t offset, Mark mark)
{
    for (unsigned b = 0; b < 256; ++b) {
        if (offset + 1 == p.size() || p[offset + 1] == b) {
            const std::uint8_t bytes[2] = {p[offset], static_cast<std::uint8_t>(b)};
            mark(PairAt(bytes));
        }
    }
}

} // namespace

void StartFilter::Build(const std::vector<const std::vector<std::uint8_t>*>& patterns)
{
    m_bAny = !patterns.empty();
    // Patterns that begin alike share a bucket, so that each bucket's
    // nibbles stay few and let few places through.
    std::vector<const std::vector<std::uint8_t>*> sorted = patterns;
    std::sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
        return std::lexicographical_compare(a->begin(), a->begin() + std::min<std::size_t>(a->size(), 2),
                                            b->begin(), b->begin() + std::min<std::size_t>(b->size(), 2));
    });
    for (std::size_t k = 0; k < sorted.size(); ++k) {
        const auto* p = sorted[k];
        m_firsts[(*p)[0]] = 1;
        const auto bit = static_cast<std::uint8_t>(1u << (k * 8 / sorted.size()));
        m_buckets.low0[(*p)[0] & 15] |= bit;
        m_buckets.high0[(*p)[0] >> 4] |= bit;
        for (int n = 0; n < 16; ++n) {
            // A pattern of one byte may be followed by any.
            if (p->size() == 1 || ((*p)[1] & 15) == n)
                m_buckets.low1[static_cast<std::size_t>(n)] |= bit;
            if (p->size() == 1 || ((*p)[1] >> 4) == n)
                m_buckets.high1[static_cast<std::size_t>(n)] |= bit;
        }
    }
    m_nStride = STRIDE_MAX;
    for (const auto* p : patterns)
        m_nStride = std::min(m_nStride, p->size());
    // The buckets serve while they let few places through and the table
    // would be looked at nearly everywhere. Measured, a place on the buckets
    // costs about half a look-up of the table, and a place they let through
    // about forty.
    std::size_t passing = 0;
    for (unsigned a = 0; a < 256; ++a) {
        const unsigned first = m_buckets.low0[a & 15] & m_buckets.high0[a >> 4];
        for (unsigned b = 0; b < 256 && first != 0; ++b)
            passing += (first & m_buckets.low1[b & 15] & m_buckets.high1[b >> 4]) != 0;
    }
#ifdef KORVO_VECTOR_SKIP
    const double vectorCost = 0.45 + 40.0 * static_cast<double>(passing) / 65536;
    m_bVector =
        m_bAny && vectorCost < 1.0 / static_cast<double>(m_nStride) && __builtin_cpu_supports("ssse3");
#endif
    if (m_bAny && !m_bVector) {
        m_pairs.assign(65536, 0);
        for (const auto* p : patterns) {
            for (std::size_t offset = 0; offset < m_nStride; ++offset)
                PairsAt(*p, offset, [this](std::uint16_t pair) { m_pairs[pair] = 1; });
        }
    }
}

std::size_t StartFilter::Next(const std::uint8_t* data, std::size_t i, std::size_t length) const
{
    if (!m_bAny)
        return length;
#ifdef KORVO_VECTOR_SKIP
    if (m_bVector) {
        while (length - i >= 17) {
            i = SkipVector(m_buckets, data, i, length);
            if (i < length && m_firsts[data[i]])
                return i;
            if (length - i >= 17)
                ++i;
        }
        while (i < length && m_firsts[data[i]] == 0)
            ++i;
        return i;
    }
#endif
    // A hit at the sample q stands for every place from q - STRIDE + 1 on.
    const std::size_t stride = m_nStride;
    const std::uint8_t* const pairs = m_pairs.data();
    const auto pair = [data, pairs](std::size_t at) { return pairs[PairAt(data + at)]; };
    std::size_t q = i + stride - 1;
    while (q + 7 * stride + 1 < length &&
           (pair(q) | pair(q + stride) | pair(q + 2 * stride) | pair(q + 3 * stride) | pair(q + 4 * stride) |
            pair(q + 5 * stride) | pair(q + 6 * stride) | pair(q + 7 * stride)) == 0)
        q += 8 * stride;
    for (; q + 1 < length; q += stride) {
        if (pair(q))
            return q - (stride - 1);
    }
    // The places left have no sample of their own before the data ends, and
    // a pattern there may go on in the next read.
    for (std::size_t p = q - (stride - 1); p < length; ++p) {
        if (m_firsts[data[p]])
            return p;
    }
    return length;
}
