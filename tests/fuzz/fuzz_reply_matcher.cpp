// Arbitrary rules over an arbitrary stream, split into reads at arbitrary
// points with arbitrary pauses, datagram ends and new streams. The matches
// must be those a plain search of each whole stream finds, reported by the
// read (or frame end) that completed them, and the matcher's memory must not
// grow with the stream.
#include "support/fuzz_target.h"

#include "replies/reply_matcher.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Clock = ReplyMatcher::Clock;
using std::chrono::microseconds;
constexpr microseconds kGap{50000};

enum class Op { Feed, Quiet, EndFrame, Reset };

struct Event
{
    Op op;
    std::string bytes;
    Clock::time_point time;
};

// (rule, last end, count) in the order the matcher must give them: one
// entry per rule and event.
using Found = std::vector<std::tuple<int, std::int64_t, int>>;

struct Frame
{
    std::size_t begin, end;
    std::size_t closedBy; // event index
};

// What a plain search of one stream finds, added to `expected` by event.
class Reference
{
public:
    Reference(const std::vector<ReplyPattern>& rules, std::vector<Found>& expected)
        : m_rules(rules), m_expected(expected)
    {
    }

    void Apply(std::size_t index, const Event& e)
    {
        switch (e.op) {
        case Op::Feed:
            if (e.bytes.empty())
                return;
            if (m_stream.size() > m_frameBegin && e.time - m_lastRead >= kGap)
                Close(index);
            m_reads.push_back({m_stream.size() + e.bytes.size(), index});
            m_stream += e.bytes;
            m_lastRead = e.time;
            break;
        case Op::Quiet:
            if (m_stream.size() > m_frameBegin && e.time - m_lastRead >= kGap)
                Close(index);
            break;
        case Op::EndFrame:
            if (m_stream.size() > m_frameBegin)
                Close(index);
            break;
        case Op::Reset:
            Finish();
            break;
        }
    }

    void Finish()
    {
        std::vector<std::tuple<std::size_t, int, int, std::int64_t>> found; // event, group, rule, end
        for (std::size_t r = 0; r < m_rules.size(); ++r) {
            const std::string p(m_rules[r].bytes.begin(), m_rules[r].bytes.end());
            if (p.empty())
                continue;
            const int rule = static_cast<int>(r);
            switch (m_rules[r].when) {
            case ReplyWhen::Contains:
                for (std::size_t at = m_stream.find(p); at != std::string::npos;
                     at = m_stream.find(p, at + p.size()))
                    found.emplace_back(ReadOf(at + p.size()), 1, rule, at + p.size());
                break;
            case ReplyWhen::StartsWith: {
                auto frames = m_frames;
                frames.push_back({m_frameBegin, m_stream.size(), 0});
                for (const Frame& f : frames) {
                    for (std::size_t at = f.begin;
                         at + p.size() <= f.end && m_stream.compare(at, p.size(), p) == 0; at += p.size())
                        found.emplace_back(ReadOf(at + p.size()), 1, rule, at + p.size());
                }
                break;
            }
            case ReplyWhen::Equals:
            case ReplyWhen::EndsWith:
                for (const Frame& f : m_frames) {
                    const std::size_t length = f.end - f.begin;
                    const bool hit =
                        m_rules[r].when == ReplyWhen::Equals
                            ? length == p.size() && m_stream.compare(f.begin, length, p) == 0
                            : length >= p.size() && m_stream.compare(f.end - p.size(), p.size(), p) == 0;
                    if (hit)
                        found.emplace_back(f.closedBy, 0, rule, f.end);
                }
                break;
            }
        }
        // Per event: the frame it closed, then its own read; each by rule.
        std::sort(found.begin(), found.end());
        for (const auto& [event, group, rule, end] : found) {
            Found& at = m_expected[event];
            if (!at.empty() && std::get<0>(at.back()) == rule) {
                std::get<1>(at.back()) = end;
                ++std::get<2>(at.back());
            } else {
                at.emplace_back(rule, end, 1);
            }
        }
        m_stream.clear();
        m_reads.clear();
        m_frames.clear();
        m_frameBegin = 0;
    }

private:
    void Close(std::size_t index)
    {
        m_frames.push_back({m_frameBegin, m_stream.size(), index});
        m_frameBegin = m_stream.size();
    }
    // The event of the read holding the byte before `end`.
    std::size_t ReadOf(std::size_t end) const
    {
        const auto it = std::lower_bound(m_reads.begin(), m_reads.end(), end,
                                         [](const auto& read, std::size_t v) { return read.first < v; });
        return it->second;
    }

    const std::vector<ReplyPattern>& m_rules;
    std::vector<Found>& m_expected;
    std::string m_stream;
    std::vector<std::pair<std::size_t, std::size_t>> m_reads; // end offset, event
    std::vector<Frame> m_frames;
    std::size_t m_frameBegin = 0;
    Clock::time_point m_lastRead{};
};

int Fail(const char* what, std::size_t event)
{
    std::fprintf(stderr, "fuzz_reply_matcher: %s at event %zu\n", what, event);
    return 1;
}

microseconds Pause(FuzzReader& in)
{
    static const microseconds pauses[] = {
        microseconds(0),        microseconds(1000),   kGap - microseconds(1), kGap,
        kGap + microseconds(1), microseconds(200000), microseconds(0),        microseconds(7000)};
    return pauses[in.Next() % 8];
}

} // namespace

static int FuzzReplyMatcher(const uint8_t* data, size_t size)
{
    FuzzReader in(data, size);
    // Few letters, so that matches are common.
    const unsigned letters = 1 + in.Next() % 4;
    std::vector<ReplyPattern> rules(1 + in.Next() % 8);
    for (ReplyPattern& rule : rules) {
        rule.when = static_cast<ReplyWhen>(in.Next() % 4);
        std::size_t length = in.Next() % 6;
        if (in.Next() % 16 == 0)
            length = 40 + in.Next();
        for (std::size_t i = 0; i < length; ++i)
            rule.bytes.push_back(static_cast<std::uint8_t>('a' + in.Next() % letters));
    }
    // Now and then many rules of any bytes besides, which the stream hardly
    // ever holds: the matcher then skips by its table of pairs instead.
    if (in.Next() % 4 == 0) {
        // It looks at every place or every few, after the shortest pattern.
        const std::size_t shortest = 1 + in.Next() % 5;
        for (ReplyPattern& rule : rules) {
            while (!rule.bytes.empty() && rule.bytes.size() < shortest)
                rule.bytes.push_back(static_cast<std::uint8_t>('a' + in.Next() % letters));
        }
        std::minstd_rand bytes(in.Next());
        for (int n = 0; n < 200; ++n) {
            ReplyPattern noise{static_cast<ReplyWhen>(n % 4), {}};
            for (std::size_t i = 0; i < shortest + static_cast<std::size_t>(n % 7); ++i)
                noise.bytes.push_back(static_cast<std::uint8_t>(bytes() >> 7));
            rules.push_back(noise);
        }
    }

    std::vector<Event> events;
    Clock::time_point now{};
    for (int step = 0; in.More() && step < 300; ++step) {
        const unsigned op = in.Next() % 16;
        now += Pause(in);
        if (op < 12) {
            std::size_t length = in.Next() % 24;
            if (op == 0)
                length = in.Next() * 8u;
            std::string bytes;
            for (std::size_t i = 0; i < length; ++i)
                bytes.push_back(static_cast<char>('a' + in.Next() % (letters + 1)));
            events.push_back({Op::Feed, bytes, now});
        } else {
            events.push_back({op == 12 || op == 13 ? Op::Quiet
                              : op == 14           ? Op::EndFrame
                                                   : Op::Reset,
                              {},
                              now});
        }
    }

    ReplyMatcher matcher(rules, kGap);
    const std::size_t memory = matcher.MemoryUse();
    std::vector<Found> expected(events.size());
    Reference reference(rules, expected);
    std::vector<ReplyMatcher::Match> out;
    std::vector<Found> got(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        out.clear();
        switch (e.op) {
        case Op::Feed:
            matcher.Feed(reinterpret_cast<const std::uint8_t*>(e.bytes.data()), e.bytes.size(), e.time, out);
            break;
        case Op::Quiet:
            matcher.Quiet(e.time, out);
            break;
        case Op::EndFrame:
            matcher.EndFrame(out);
            break;
        case Op::Reset:
            matcher.Reset();
            break;
        }
        for (const auto& m : out)
            got[i].emplace_back(m.rule, m.end, m.count);
        reference.Apply(i, e);
        if (matcher.MemoryUse() != memory)
            return Fail("memory grew", i);
    }
    reference.Finish();
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (got[i] != expected[i])
            return Fail("matches differ from a plain search", i);
    }
    return 0;
}

KORVO_FUZZ_TARGET(FuzzReplyMatcher, 3000, 4000)
