// The automatic replies' matcher on its own: reads with their times in,
// matches out, however the stream is split.
#include "replies/conversation_turns.h"
#include "replies/firing_limit.h"
#include "replies/reply_matcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = ReplyMatcher::Clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using W = ReplyWhen;

constexpr milliseconds kGap{50};

ReplyPattern P(W when, const std::string& bytes)
{
    return {when, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

struct Read
{
    std::string bytes;
    // Microseconds after the first read.
    long long at = 0;
};

// "rule:end" for every match, "rule:end×count" for a rule that matched more
// than once in one read (end: the last's), the quiet end of the last frame
// included.
std::string Matches(const std::vector<ReplyPattern>& rules, const std::vector<Read>& reads,
                    std::vector<ReplyMatcher::Match>* all = nullptr)
{
    ReplyMatcher m(rules, kGap);
    std::vector<ReplyMatcher::Match> out;
    const Clock::time_point t0{};
    for (const Read& r : reads)
        m.Feed(reinterpret_cast<const std::uint8_t*>(r.bytes.data()), r.bytes.size(), t0 + microseconds(r.at),
               out);
    m.Quiet(t0 + microseconds(reads.empty() ? 0 : reads.back().at) + kGap, out);
    std::string s;
    for (const auto& match : out) {
        if (!s.empty())
            s += ' ';
        s += std::to_string(match.rule);
        s += ':';
        s += std::to_string(match.end);
        if (match.count > 1) {
            s += 'x';
            s += std::to_string(match.count);
        }
    }
    if (all)
        *all = out;
    return s;
}

// Per rule, how often it matched in all and where its last match ended,
// whichever reads found them.
std::string Totals(const std::vector<ReplyPattern>& rules, const std::vector<Read>& reads)
{
    std::vector<ReplyMatcher::Match> out;
    Matches(rules, reads, &out);
    std::vector<std::pair<int, std::int64_t>> totals(rules.size());
    for (const auto& m : out)
        totals[static_cast<std::size_t>(m.rule)] = {totals[static_cast<std::size_t>(m.rule)].first + m.count,
                                                    m.end};
    std::string s;
    for (const auto& [count, end] : totals) {
        s += std::to_string(count);
        s += '@';
        s += std::to_string(end);
        s += ' ';
    }
    return s;
}

// The same stream in one read.
std::string WholeMatches(const std::vector<ReplyPattern>& rules, const std::string& stream)
{
    return Matches(rules, {{stream, 0}});
}

TEST(ReplyMatcher, Modes)
{
    const struct
    {
        const char* name;
        std::vector<ReplyPattern> rules;
        std::vector<Read> reads;
        const char* matches;
    } cases[] = {
        {"contains, each time", {P(W::Contains, "PING")}, {{"xxPINGyyPING"}}, "0:12x2"},
        {"contains across frames", {P(W::Contains, "PING")}, {{"PI", 0}, {"NG", 60000}}, "0:4"},
        {"starts with", {P(W::StartsWith, "AB")}, {{"ABxx"}}, "0:2"},
        {"starts with, not later in the frame", {P(W::StartsWith, "AB")}, {{"xxAB"}}, ""},
        {"starts with, back to back", {P(W::StartsWith, "AB")}, {{"ABABxAB"}}, "0:4x2"},
        {"starts with, after a gap", {P(W::StartsWith, "AB")}, {{"xAB", 0}, {"AB", 50000}}, "0:5"},
        {"equals", {P(W::Equals, "AB")}, {{"AB"}}, "0:2"},
        {"equals, longer frame", {P(W::Equals, "AB")}, {{"ABC"}}, ""},
        {"equals, shorter frame", {P(W::Equals, "AB")}, {{"A"}}, ""},
        {"equals, one frame each",
         {P(W::Equals, "AB")},
         {{"AB", 0}, {"AB", 50000}, {"ABx", 100000}},
         "0:2 0:4"},
        {"ends with", {P(W::EndsWith, "\r\n")}, {{"GET\r\n"}}, "0:5"},
        {"ends with, bytes after", {P(W::EndsWith, "\r\n")}, {{"GET\r\nx"}}, ""},
        {"ends with, once a frame", {P(W::EndsWith, "\r\n")}, {{"A\r\nB\r\n"}}, "0:6"},
        {"ends with, the frame too short", {P(W::EndsWith, "AB")}, {{"A", 0}, {"B", 50000}}, ""},
        {"equals and ends with, the gap ends the frame",
         {P(W::Equals, "AB"), P(W::EndsWith, "B")},
         {{"A", 0}, {"B", 49999}},
         "0:2 1:2"},
        {"the gap is 50 ms to the microsecond", {P(W::Equals, "AB")}, {{"A", 0}, {"B", 50000}}, ""},
        {"overlaps: contains aa in aaaa", {P(W::Contains, "aa")}, {{"aaaa"}}, "0:4x2"},
        {"overlaps: contains aa in aaa", {P(W::Contains, "aa")}, {{"aaa"}}, "0:2"},
        {"overlaps: contains aba in ababa", {P(W::Contains, "aba")}, {{"ababa"}}, "0:3"},
        {"overlaps: starts with aa in aaaaa", {P(W::StartsWith, "aa")}, {{"aaaaa"}}, "0:4x2"},
        {"overlaps belong to each rule",
         {P(W::Contains, "aa"), P(W::Contains, "aaa")},
         {{"aaaa"}},
         "0:4x2 1:3"},
        {"two rules, the same bytes",
         {P(W::Contains, "PING"), P(W::Contains, "PING")},
         {{"PING"}},
         "0:4 1:4"},
        {"two rules, table order within a read",
         {P(W::Contains, "PING"), P(W::StartsWith, "P"), P(W::Contains, "NG")},
         {{"PINGPING"}},
         "0:8x2 1:1 2:8x2"},
        {"a suffix of another pattern",
         {P(W::Contains, "ABCD"), P(W::Contains, "CD")},
         {{"xABCDx"}},
         "0:5 1:5"},
        {"one byte", {P(W::Contains, std::string(1, '\0'))}, {{std::string("\0\0a\0", 4)}}, "0:4x3"},
        {"an empty pattern never matches", {P(W::Contains, ""), P(W::Equals, "")}, {{"abc"}}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.matches, Matches(c.rules, c.reads)) << c.name;
}

// Every mode finds the same matches whichever places split the stream into
// two reads or three.
TEST(ReplyMatcher, SplitsAtEveryPoint)
{
    const struct
    {
        ReplyPattern rule;
        std::string stream;
    } cases[] = {
        {P(W::Contains, "PING"), "xPINGyPINGz"},
        {P(W::StartsWith, "PING"), "PINGPINGx"},
        {P(W::Equals, "PING"), "PING"},
        {P(W::EndsWith, "PING"), "xxPING"},
    };
    for (const auto& c : cases) {
        const std::string whole = Totals({c.rule}, {{c.stream, 0}});
        ASSERT_NE("0@0 ", whole) << c.stream;
        const std::size_t n = c.stream.size();
        for (std::size_t i = 0; i <= n; ++i) {
            for (std::size_t j = i; j <= n; ++j) {
                const std::vector<Read> reads = {{c.stream.substr(0, i), 0},
                                                 {c.stream.substr(i, j - i), 10000},
                                                 {c.stream.substr(j), 20000}};
                EXPECT_EQ(whole, Totals({c.rule}, reads)) << c.stream << " split at " << i << ", " << j;
            }
        }
    }
}

TEST(ReplyMatcher, LongPatternsSplitAnywhere)
{
    std::mt19937 rng(4096);
    std::string pattern(4096, '\0');
    for (char& b : pattern)
        b = static_cast<char>(rng());
    const std::string stream = "head" + pattern;
    const std::vector<ReplyPattern> rules = {P(W::Contains, pattern), P(W::EndsWith, pattern),
                                             P(W::Equals, pattern), P(W::StartsWith, pattern)};
    EXPECT_EQ("0:4100 1:4100", WholeMatches(rules, stream));
    // Found by the read, then decided when the frame ends.
    EXPECT_EQ("0:4096 3:4096 1:4096 2:4096", WholeMatches(rules, pattern));
    for (const std::size_t i : {1, 4, 5, 1000, 2053, 4099, 4100})
        ASSERT_EQ("0:4100 1:4100", Matches(rules, {{stream.substr(0, i), 0}, {stream.substr(i), 10}})) << i;
}

// However often rules match, a read gives one entry per rule with its
// count, and the matcher holds no more than it did.
TEST(ReplyMatcher, RulesMatchingEveryByteGiveOneEntryEach)
{
    std::vector<ReplyPattern> rules(100, P(W::Contains, "A"));
    rules.resize(200, P(W::StartsWith, "A"));
    ReplyMatcher m(rules, kGap);
    const std::size_t memory = m.MemoryUse();
    std::vector<ReplyMatcher::Match> out;
    const std::string block(4096, 'A');
    m.Feed(reinterpret_cast<const std::uint8_t*>(block.data()), block.size(), Clock::time_point{}, out);
    ASSERT_EQ(200u, out.size());
    for (std::size_t r = 0; r < out.size(); ++r) {
        EXPECT_EQ(static_cast<int>(r), out[r].rule);
        EXPECT_EQ(4096, out[r].count);
        EXPECT_EQ(4096, out[r].end);
    }
    EXPECT_EQ(memory, m.MemoryUse());
}

TEST(ReplyMatcher, TimesOfTheReadAndTheDecision)
{
    ReplyMatcher m({P(W::Contains, "PING"), P(W::EndsWith, "\n")}, kGap);
    std::vector<ReplyMatcher::Match> out;
    const Clock::time_point t0{};
    const auto feed = [&](const char* s, milliseconds at) {
        m.Feed(reinterpret_cast<const std::uint8_t*>(s), std::strlen(s), t0 + at, out);
    };
    feed("PI", milliseconds(0));
    EXPECT_EQ(t0 + kGap, m.FrameDeadline());
    feed("NG\n", milliseconds(20));
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(t0 + milliseconds(20), out[0].read);
    EXPECT_EQ(out[0].read, out[0].decided);
    // Not yet quiet long enough; then the frame ends at its deadline.
    m.Quiet(t0 + milliseconds(69), out);
    EXPECT_EQ(1u, out.size());
    EXPECT_EQ(t0 + milliseconds(70), m.FrameDeadline());
    m.Quiet(t0 + milliseconds(500), out);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(t0 + milliseconds(20), out[1].read);
    EXPECT_EQ(t0 + milliseconds(70), out[1].decided);
    EXPECT_EQ(std::nullopt, m.FrameDeadline());
    // A datagram is a frame of its own, decided at once.
    feed("x\n", milliseconds(501));
    m.EndFrame(out);
    ASSERT_EQ(3u, out.size());
    EXPECT_EQ(t0 + milliseconds(501), out[2].decided);
    // A new stream keeps nothing of the old.
    feed("PI", milliseconds(502));
    m.Reset();
    feed("NG", milliseconds(503));
    EXPECT_EQ(3u, out.size());
}

TEST(FiringLimit, PausesTheFiringOverTheLimitWithinAnyWindow)
{
    FiringLimit limit(3, milliseconds(100));
    const Clock::time_point t0{};
    EXPECT_TRUE(limit.Allow(t0));
    EXPECT_TRUE(limit.Allow(t0 + milliseconds(50)));
    EXPECT_TRUE(limit.Allow(t0 + milliseconds(99)));
    // The window slides: the first firing left it at 100 ms.
    EXPECT_TRUE(limit.Allow(t0 + milliseconds(100)));
    EXPECT_FALSE(limit.Allow(t0 + milliseconds(149)));
    EXPECT_TRUE(limit.Paused());
    EXPECT_FALSE(limit.Allow(t0 + milliseconds(10000)));
    limit.Resume();
    EXPECT_TRUE(limit.Allow(t0 + milliseconds(10001)));
}

// What the loop guard learns of a conversation from the bytes each side
// sent: the peer's turn, whether it is Korvo's turn before it coming back,
// and whether it came at once.
TEST(ConversationTurns, ThePeersTurnAgainstKorvosBeforeIt)
{
    using std::chrono::microseconds;
    const struct
    {
        const char* name;
        // '>' Korvo sent, '<' the peer sent, then the bytes; '+N' lets N µs pass.
        std::vector<std::string> events;
        bool known, echo, prompt;
    } cases[] = {
        {"nothing sent before", {"<PING"}, false, false, false},
        {"its own bytes back at once", {">PING", "+100", "<PI", "<NG"}, true, true, true},
        {"other bytes at once", {">PONG", "+100", "<PING"}, true, false, true},
        {"its bytes back late", {">PING", "+20000", "<PING"}, true, true, false},
        {"Korvo's turn in two sends", {">PI", ">NG", "+100", "<PING"}, true, true, true},
        {"the turn goes on past the echo", {">PING", "+100", "<PING", "<!"}, true, false, true},
        {"a turn too long to compare",
         {">x", "+100", "<" + std::string(ConversationTurns::TURN_MAX + 1, 'x')},
         false,
         false,
         false},
    };
    for (const auto& c : cases) {
        ConversationTurns turns;
        Clock::time_point t{};
        for (const std::string& e : c.events) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(e.data() + 1);
            const int n = static_cast<int>(e.size() - 1);
            if (e[0] == '+')
                t += microseconds(std::stoi(e.substr(1)));
            else if (e[0] == '>')
                turns.Sent(bytes, n, t);
            else
                turns.Received(bytes, n, t);
        }
        const ReplyTrigger trigger = turns.Current();
        EXPECT_EQ(c.known, trigger.known) << c.name;
        EXPECT_EQ(c.echo, trigger.echo) << c.name;
        EXPECT_EQ(c.prompt, trigger.prompt) << c.name;
    }
}

// A rule is paused as a loop when, a hundred times within a second and with
// no new bytes between, what set it off came at once after Korvo's turn and
// was that turn coming back, or the same as what set it off the time before.
// Anything else runs on.
TEST(FiringLimit, PausesALoopAndNothingElse)
{
    ReplyTrigger echo{true, 1, 4, true, true};
    ReplyTrigger same{true, 2, 4, false, true};
    ReplyTrigger late = same;
    late.prompt = false;
    const struct
    {
        const char* name;
        std::function<ReplyTrigger(int)> trigger;
        std::chrono::milliseconds every;
        bool loop;
    } cases[] = {
        {"an echo", [&](int) { return echo; }, milliseconds(1), true},
        {"the same request at once", [&](int) { return same; }, milliseconds(1), true},
        {"the same request late", [&](int) { return late; }, milliseconds(1), false},
        {"every other request new",
         [&](int n) {
             ReplyTrigger t = same;
             t.hash = static_cast<std::uint64_t>(n % 2 == 0 ? 0 : n);
             return t;
         },
         milliseconds(1), false},
        {"a new request each time",
         [&](int n) {
             ReplyTrigger t = same;
             t.hash = static_cast<std::uint64_t>(n);
             return t;
         },
         milliseconds(1), false},
        {"nothing known", [&](int) { return ReplyTrigger{}; }, milliseconds(1), false},
        {"an echo slowed down", [&](int) { return echo; }, milliseconds(11), false},
    };
    for (const auto& c : cases) {
        FiringLimit limit;
        Clock::time_point t{};
        int fired = 0;
        for (int n = 0; n < 300 && !limit.Paused(); ++n, t += c.every)
            fired += limit.Allow(t, 1, c.trigger(n));
        EXPECT_EQ(c.loop, limit.Paused()) << c.name;
        if (c.loop) {
            EXPECT_EQ(FiringLimit::PauseReason::Loop, limit.Reason()) << c.name;
            EXPECT_LE(fired, FiringLimit::LOOP_LIMIT + 1) << c.name;
        }
    }
    // Many firings of one read are one step of a loop.
    FiringLimit limit;
    Clock::time_point t{};
    EXPECT_EQ(5, limit.Allow(t, 5, same));
    for (int n = 0; n < FiringLimit::LOOP_LIMIT - 2; ++n)
        limit.Allow(t += milliseconds(1), 5, same);
    EXPECT_FALSE(limit.Paused());
}

} // namespace
