#include "replies/reply_matcher.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

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
    std::vector<std::pair<std::uint8_t, int>> firsts;
    for (int pass = 0; pass < 2; ++pass) {
        // "starts with" first, then "equals".
        const ReplyWhen when = pass == 0 ? ReplyWhen::StartsWith : ReplyWhen::Equals;
        for (std::size_t r = 0; r < patterns.size(); ++r) {
            if (patterns[r].when == when && !patterns[r].bytes.empty()) {
                firsts.emplace_back(patterns[r].bytes.front(), static_cast<int>(m_prefixes.size()));
                m_prefixes.push_back({static_cast<int>(r), 0});
            }
        }
        if (pass == 0)
            m_nStarts = m_prefixes.size();
    }
    m_prefixesByFirst.Build(firsts);
    m_live.reserve(m_prefixes.size());
    std::vector<std::pair<std::uint8_t, int>> lasts;
    for (std::size_t r = 0; r < patterns.size(); ++r) {
        if (patterns[r].when == ReplyWhen::EndsWith && !patterns[r].bytes.empty()) {
            m_ends.push_back(static_cast<int>(r));
            lasts.emplace_back(patterns[r].bytes.back(), static_cast<int>(r));
            longestEnd = std::max(longestEnd, patterns[r].bytes.size());
        }
    }
    m_endsByLast.Build(lasts);
    m_tail.resize(longestEnd);
    m_lastEnd.resize(patterns.size());
    m_addedIn.resize(patterns.size());
    m_addedAt.resize(patterns.size());
    Reset();
}

void ReplyMatcher::ByByte::Build(const std::vector<std::pair<std::uint8_t, int>>& entries)
{
    begin.fill(0);
    for (const auto& [b, value] : entries)
        ++begin[b + 1u];
    for (std::size_t b = 1; b < begin.size(); ++b)
        begin[b] += begin[b - 1];
    index.assign(entries.size(), 0);
    std::array<int, 257> next = begin;
    for (const auto& [b, value] : entries)
        index[static_cast<std::size_t>(next[b]++)] = value;
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
    for (const auto& [b, t] : children[0])
        m_root[b] = t;
    std::vector<const std::vector<std::uint8_t>*> contains;
    for (const ReplyPattern& p : patterns) {
        if (p.when == ReplyWhen::Contains && !p.bytes.empty())
            contains.push_back(&p.bytes);
    }
    m_starts.Build(contains);
    BuildFailureLinks(children);
}

void ReplyMatcher::BuildFailureLinks(const std::vector<std::vector<std::pair<std::uint8_t, int>>>& children)
{
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
    // Offsets go on from here, so that every rule's last "contains" match
    // lies before the new stream without touching each rule.
    m_base = m_offset;
    m_state = 0;
    m_tailHead = 0;
    m_tailFill = 0;
    m_lastRead = {};
    OpenFrame();
}

void ReplyMatcher::OpenFrame()
{
    m_frameLength = 0;
    m_live.clear();
}

void ReplyMatcher::Add(int rule, std::int64_t end, Clock::time_point read, Clock::time_point decided,
                       std::vector<Match>& out)
{
    const auto r = static_cast<std::size_t>(rule);
    if (m_addedIn[r] == m_nCall) {
        Match& match = out[m_addedAt[r]];
        ++match.count;
        match.end = end - m_base;
        return;
    }
    m_addedIn[r] = m_nCall;
    m_addedAt[r] = out.size();
    out.push_back({rule, end - m_base, read, decided, 1});
}

void ReplyMatcher::Feed(const std::uint8_t* data, std::size_t length, Clock::time_point time,
                        std::vector<Match>& out)
{
    if (length == 0)
        return;
    ++m_nCall;
    if (m_frameLength > 0 && time - m_lastRead >= m_gap)
        CloseFrame(m_lastRead + m_gap, out);
    const std::size_t first = out.size();
    if (m_bContains)
        ScanContains(data, length, time, out);
    if (m_frameLength == 0 ? !m_prefixes.empty() : !m_live.empty())
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
    // Skipping a place at the root is safe: a byte that begins no pattern
    // leaves the automaton at the root, and one whose next byte continues
    // none leaves it where a fresh start at the next byte would.
    int s = m_state;
    std::size_t i = 0;
    while (i < length) {
        if (s == 0) {
            i = m_starts.Next(data, i, length);
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
                Add(rule, end, time, time, out);
            }
        }
        t = m_nodes[static_cast<std::size_t>(node.fail)].report;
    }
}

void ReplyMatcher::ScanPrefixes(const std::uint8_t* data, std::size_t length, Clock::time_point time,
                                std::vector<Match>& out)
{
    if (m_frameLength == 0) {
        // Only the rules that begin with the frame's first byte take part.
        for (const int* j = m_prefixesByFirst.First(data[0]); j != m_prefixesByFirst.Last(data[0]); ++j) {
            m_prefixes[static_cast<std::size_t>(*j)].matched = 0;
            m_live.push_back(*j);
        }
    }
    for (std::size_t i = 0; i < length && !m_live.empty(); ++i) {
        for (std::size_t k = 0; k < m_live.size();) {
            const auto j = static_cast<std::size_t>(m_live[k]);
            Prefix& p = m_prefixes[j];
            const auto& pattern = m_patterns[static_cast<std::size_t>(p.rule)];
            if (static_cast<std::size_t>(p.matched) < pattern.size() &&
                data[i] == pattern[static_cast<std::size_t>(p.matched)]) {
                if (++p.matched == static_cast<int>(pattern.size()) && j < m_nStarts) {
                    // Its next frame begins right after its match.
                    Add(p.rule, m_offset + static_cast<std::int64_t>(i) + 1, time, time, out);
                    p.matched = 0;
                }
                ++k;
            } else {
                // Out of this frame; the order of the rest does not matter.
                m_live[k] = m_live.back();
                m_live.pop_back();
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
    // An "equals" rule still alive has matched every byte of the frame.
    for (const int j : m_live) {
        const Prefix& p = m_prefixes[static_cast<std::size_t>(j)];
        if (static_cast<std::size_t>(j) >= m_nStarts && p.matched == m_frameLength &&
            static_cast<std::size_t>(p.matched) == m_patterns[static_cast<std::size_t>(p.rule)].size())
            Add(p.rule, m_offset, m_lastRead, decided, out);
    }
    if (m_tailFill > 0) {
        const std::uint8_t last = m_tail[(m_tailHead + m_tail.size() - 1) % m_tail.size()];
        for (const int* rule = m_endsByLast.First(last); rule != m_endsByLast.Last(last); ++rule) {
            const auto& pattern = m_patterns[static_cast<std::size_t>(*rule)];
            if (m_frameLength >= static_cast<std::int64_t>(pattern.size()) && TailEndsWith(pattern))
                Add(*rule, m_offset, m_lastRead, decided, out);
        }
    }
    SortByRule(out, first);
    OpenFrame();
}

void ReplyMatcher::Quiet(Clock::time_point now, std::vector<Match>& out)
{
    ++m_nCall;
    if (m_frameLength > 0 && now - m_lastRead >= m_gap)
        CloseFrame(m_lastRead + m_gap, out);
}

void ReplyMatcher::EndFrame(std::vector<Match>& out)
{
    ++m_nCall;
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
             m_lastEnd.capacity() * sizeof(std::int64_t) + m_tail.capacity() + m_starts.MemoryUse() +
             (m_prefixesByFirst.index.capacity() + m_endsByLast.index.capacity() + m_live.capacity()) *
                 sizeof(int) +
             m_addedIn.capacity() * sizeof(std::uint64_t) + m_addedAt.capacity() * sizeof(std::size_t);
    return bytes;
}
