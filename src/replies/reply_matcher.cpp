#include "replies/reply_matcher.h"

#include <algorithm>
#include <cstring>
#include <utility>

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
template <class Filter>
KORVO_SSSE3 std::size_t SkipVector(const Filter& f, const std::uint8_t* data, std::size_t i,
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

void SortByRule(std::vector<ReplyMatcher::Match>& out, std::size_t first)
{
    if (out.size() - first > 1)
        std::stable_sort(
            out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
            [](const ReplyMatcher::Match& a, const ReplyMatcher::Match& b) { return a.rule < b.rule; });
}

} // namespace

ReplyMatcher::ReplyMatcher(const std::vector<ReplyPattern>& patterns, Clock::duration gap) : m_gap(gap)
{
    for (const ReplyPattern& p : patterns) {
        m_patterns.push_back(p.bytes);
        m_when.push_back(p.when);
    }
    BuildAutomaton(patterns);

    std::size_t longestEnd = 0;
    for (int pass = 0; pass < 2; ++pass) {
        // "starts with" first, then "equals".
        const ReplyWhen when = pass == 0 ? ReplyWhen::StartsWith : ReplyWhen::Equals;
        for (std::size_t r = 0; r < patterns.size(); ++r) {
            if (patterns[r].when == when && !patterns[r].bytes.empty())
                m_prefixes.push_back({static_cast<int>(r), 0, false});
        }
        if (pass == 0)
            m_nStarts = m_prefixes.size();
    }
    for (std::size_t r = 0; r < patterns.size(); ++r) {
        if (patterns[r].when == ReplyWhen::EndsWith && !patterns[r].bytes.empty()) {
            m_ends.push_back(static_cast<int>(r));
            longestEnd = std::max(longestEnd, patterns[r].bytes.size());
        }
    }
    m_tail.resize(longestEnd);
    m_lastEnd.resize(patterns.size());
    Reset();
}

void ReplyMatcher::BuildAutomaton(const std::vector<ReplyPattern>& patterns)
{
    // A trie of the "contains" patterns, then flattened.
    std::vector<std::vector<std::pair<std::uint8_t, int>>> children(1);
    std::vector<std::vector<int>> ends(1);
    for (std::size_t r = 0; r < patterns.size(); ++r) {
        if (patterns[r].when != ReplyWhen::Contains || patterns[r].bytes.empty())
            continue;
        m_bContains = true;
        int s = 0;
        for (const std::uint8_t b : patterns[r].bytes) {
            auto& row = children[static_cast<std::size_t>(s)];
            const auto it = std::lower_bound(row.begin(), row.end(), b,
                                             [](const auto& edge, std::uint8_t v) { return edge.first < v; });
            if (it != row.end() && it->first == b) {
                s = it->second;
                continue;
            }
            const int next = static_cast<int>(children.size());
            row.insert(it, {b, next});
            children.emplace_back();
            ends.emplace_back();
            s = next;
        }
        ends[static_cast<std::size_t>(s)].push_back(static_cast<int>(r));
    }

    m_nodes.resize(children.size());
    for (std::size_t s = 0; s < children.size(); ++s) {
        Node& node = m_nodes[s];
        node.edgeBegin = static_cast<int>(m_edgeBytes.size());
        for (const auto& [b, t] : children[s]) {
            m_edgeBytes.push_back(b);
            m_edgeTargets.push_back(t);
        }
        node.edgeEnd = static_cast<int>(m_edgeBytes.size());
        node.outBegin = static_cast<int>(m_outputs.size());
        m_outputs.insert(m_outputs.end(), ends[s].begin(), ends[s].end());
        node.outEnd = static_cast<int>(m_outputs.size());
    }
    m_root.fill(0);
    m_starts.fill(0);
    for (const auto& [b, t] : children[0]) {
        m_root[b] = t;
        m_starts[b] = 1;
    }
    int bucket = 0;
    for (const ReplyPattern& p : patterns) {
        if (p.when != ReplyWhen::Contains || p.bytes.empty())
            continue;
        const auto bit = static_cast<std::uint8_t>(1u << (bucket++ % 8));
        m_pairs.low0[p.bytes[0] & 15] |= bit;
        m_pairs.high0[p.bytes[0] >> 4] |= bit;
        for (int n = 0; n < 16; ++n) {
            // A pattern of one byte may be followed by any.
            if (p.bytes.size() == 1 || (p.bytes[1] & 15) == n)
                m_pairs.low1[static_cast<std::size_t>(n)] |= bit;
            if (p.bytes.size() == 1 || (p.bytes[1] >> 4) == n)
                m_pairs.high1[static_cast<std::size_t>(n)] |= bit;
        }
    }
#ifdef KORVO_VECTOR_SKIP
    m_bVector = m_bContains && __builtin_cpu_supports("ssse3");
#endif

    // Failure links breadth first: a node's link is known before its children's.
    std::vector<int> order;
    order.reserve(children.size());
    for (const auto& [b, t] : children[0])
        order.push_back(t);
    for (std::size_t i = 0; i < order.size(); ++i) {
        const int u = order[i];
        Node& node = m_nodes[static_cast<std::size_t>(u)];
        node.report = node.outEnd > node.outBegin ? u : m_nodes[static_cast<std::size_t>(node.fail)].report;
        for (const auto& [b, v] : children[static_cast<std::size_t>(u)]) {
            m_nodes[static_cast<std::size_t>(v)].fail = Step(node.fail, b);
            order.push_back(v);
        }
    }
}

int ReplyMatcher::Step(int state, std::uint8_t byte) const
{
    for (;;) {
        if (state == 0)
            return m_root[byte];
        const Node& node = m_nodes[static_cast<std::size_t>(state)];
        // Deep in a pattern a node has one child or a few.
        const std::uint8_t* const bytes = m_edgeBytes.data();
        if (node.edgeEnd - node.edgeBegin <= 8) {
            for (int e = node.edgeBegin; e < node.edgeEnd; ++e) {
                if (bytes[e] == byte)
                    return m_edgeTargets[static_cast<std::size_t>(e)];
            }
        } else {
            const std::uint8_t* const it =
                std::lower_bound(bytes + node.edgeBegin, bytes + node.edgeEnd, byte);
            if (it != bytes + node.edgeEnd && *it == byte)
                return m_edgeTargets[static_cast<std::size_t>(it - bytes)];
        }
        state = node.fail;
    }
}

void ReplyMatcher::Reset()
{
    m_state = 0;
    m_offset = 0;
    std::fill(m_lastEnd.begin(), m_lastEnd.end(), 0);
    m_tailHead = 0;
    m_tailFill = 0;
    m_lastRead = {};
    OpenFrame();
}

void ReplyMatcher::OpenFrame()
{
    m_frameLength = 0;
    for (Prefix& p : m_prefixes) {
        p.matched = 0;
        p.dead = false;
    }
    m_nLive = static_cast<int>(m_prefixes.size());
}

void ReplyMatcher::Feed(const std::uint8_t* data, std::size_t length, Clock::time_point time,
                        std::vector<Match>& out)
{
    if (length == 0)
        return;
    if (m_frameLength > 0 && time - m_lastRead >= m_gap)
        CloseFrame(m_lastRead + m_gap, out);
    const std::size_t first = out.size();
    if (m_bContains)
        ScanContains(data, length, time, out);
    if (m_nLive > 0)
        ScanPrefixes(data, length, time, out);
    if (!m_tail.empty())
        KeepTail(data, length);
    m_offset += static_cast<std::int64_t>(length);
    m_frameLength += static_cast<std::int64_t>(length);
    m_lastRead = time;
    SortByRule(out, first);
}

void ReplyMatcher::ScanContains(const std::uint8_t* data, std::size_t length, Clock::time_point time,
                                std::vector<Match>& out)
{
    int s = m_state;
    std::size_t i = 0;
    while (i < length) {
        if (s == 0) {
            i = SkipToStart(data, i, length);
            if (i == length)
                break;
            s = m_root[data[i]];
        } else {
            s = Step(s, data[i]);
        }
        ++i;
        if (m_nodes[static_cast<std::size_t>(s)].report >= 0)
            ReportAt(s, m_offset + static_cast<std::int64_t>(i), time, out);
    }
    m_state = s;
}

std::size_t ReplyMatcher::SkipToStart(const std::uint8_t* data, std::size_t i, std::size_t length) const
{
    // Most bytes of most streams begin no pattern. Skipping a place at the
    // root is safe: a byte that begins no pattern leaves the automaton at the
    // root, and one whose next byte continues none leaves it where a fresh
    // start at the next byte would.
#ifdef KORVO_VECTOR_SKIP
    if (m_bVector) {
        while (length - i >= 17) {
            i = SkipVector(m_pairs, data, i, length);
            if (i < length && m_starts[data[i]])
                return i;
            if (length - i >= 17)
                ++i;
        }
    }
#endif
    while (i + 8 <= length && (m_starts[data[i]] | m_starts[data[i + 1]] | m_starts[data[i + 2]] |
                               m_starts[data[i + 3]] | m_starts[data[i + 4]] | m_starts[data[i + 5]] |
                               m_starts[data[i + 6]] | m_starts[data[i + 7]]) == 0)
        i += 8;
    while (i < length && m_starts[data[i]] == 0)
        ++i;
    return i;
}

void ReplyMatcher::ReportAt(int state, std::int64_t end, Clock::time_point time, std::vector<Match>& out)
{
    for (int t = m_nodes[static_cast<std::size_t>(state)].report; t >= 0;) {
        const Node& node = m_nodes[static_cast<std::size_t>(t)];
        for (int k = node.outBegin; k < node.outEnd; ++k) {
            const int rule = m_outputs[static_cast<std::size_t>(k)];
            const auto length = static_cast<std::int64_t>(m_patterns[static_cast<std::size_t>(rule)].size());
            std::int64_t& lastEnd = m_lastEnd[static_cast<std::size_t>(rule)];
            if (end - length >= lastEnd) {
                lastEnd = end;
                out.push_back({rule, end, time, time});
            }
        }
        t = m_nodes[static_cast<std::size_t>(node.fail)].report;
    }
}

void ReplyMatcher::ScanPrefixes(const std::uint8_t* data, std::size_t length, Clock::time_point time,
                                std::vector<Match>& out)
{
    for (std::size_t i = 0; i < length && m_nLive > 0; ++i) {
        for (std::size_t j = 0; j < m_prefixes.size(); ++j) {
            Prefix& p = m_prefixes[j];
            if (p.dead)
                continue;
            const auto& pattern = m_patterns[static_cast<std::size_t>(p.rule)];
            if (static_cast<std::size_t>(p.matched) < pattern.size() &&
                data[i] == pattern[static_cast<std::size_t>(p.matched)]) {
                if (++p.matched == static_cast<int>(pattern.size()) && j < m_nStarts) {
                    // Its next frame begins right after its match.
                    const std::int64_t end = m_offset + static_cast<std::int64_t>(i) + 1;
                    out.push_back({p.rule, end, time, time});
                    p.matched = 0;
                }
            } else {
                p.dead = true;
                --m_nLive;
            }
        }
    }
}

void ReplyMatcher::KeepTail(const std::uint8_t* data, std::size_t length)
{
    const std::size_t size = m_tail.size();
    if (length >= size) {
        std::memcpy(m_tail.data(), data + (length - size), size);
        m_tailHead = 0;
        m_tailFill = size;
        return;
    }
    const std::size_t first = std::min(length, size - m_tailHead);
    std::memcpy(m_tail.data() + m_tailHead, data, first);
    std::memcpy(m_tail.data(), data + first, length - first);
    m_tailHead = (m_tailHead + length) % size;
    m_tailFill = std::min(m_tailFill + length, size);
}

bool ReplyMatcher::TailEndsWith(const std::vector<std::uint8_t>& pattern) const
{
    const std::size_t size = m_tail.size();
    const std::size_t k = pattern.size();
    if (k > m_tailFill)
        return false;
    for (std::size_t i = 0; i < k; ++i) {
        if (m_tail[(m_tailHead + size - k + i) % size] != pattern[i])
            return false;
    }
    return true;
}

void ReplyMatcher::CloseFrame(Clock::time_point decided, std::vector<Match>& out)
{
    const std::size_t first = out.size();
    for (std::size_t j = m_nStarts; j < m_prefixes.size(); ++j) {
        const Prefix& p = m_prefixes[j];
        if (!p.dead && p.matched == m_frameLength &&
            static_cast<std::size_t>(p.matched) == m_patterns[static_cast<std::size_t>(p.rule)].size())
            out.push_back({p.rule, m_offset, m_lastRead, decided});
    }
    for (const int rule : m_ends) {
        const auto& pattern = m_patterns[static_cast<std::size_t>(rule)];
        if (m_frameLength >= static_cast<std::int64_t>(pattern.size()) && TailEndsWith(pattern))
            out.push_back({rule, m_offset, m_lastRead, decided});
    }
    SortByRule(out, first);
    OpenFrame();
}

void ReplyMatcher::Quiet(Clock::time_point now, std::vector<Match>& out)
{
    if (m_frameLength > 0 && now - m_lastRead >= m_gap)
        CloseFrame(m_lastRead + m_gap, out);
}

void ReplyMatcher::EndFrame(std::vector<Match>& out)
{
    if (m_frameLength > 0)
        CloseFrame(m_lastRead, out);
}

std::optional<ReplyMatcher::Clock::time_point> ReplyMatcher::FrameDeadline() const
{
    if (m_frameLength == 0 || (m_nStarts == m_prefixes.size() && m_ends.empty()))
        return std::nullopt;
    return m_lastRead + m_gap;
}

std::size_t ReplyMatcher::MemoryUse() const
{
    std::size_t bytes = sizeof *this;
    for (const auto& p : m_patterns)
        bytes += p.capacity();
    bytes += m_patterns.capacity() * sizeof(m_patterns[0]) + m_when.capacity() * sizeof(ReplyWhen) +
             m_nodes.capacity() * sizeof(Node) + m_edgeBytes.capacity() +
             m_edgeTargets.capacity() * sizeof(int) + m_outputs.capacity() * sizeof(int) +
             m_prefixes.capacity() * sizeof(Prefix) + m_ends.capacity() * sizeof(int) +
             m_lastEnd.capacity() * sizeof(std::int64_t) + m_tail.capacity();
    return bytes;
}
