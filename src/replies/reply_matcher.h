#pragma once

// ReplyMatcher: finds the automatic replies' patterns in what a session
// receives, read by read, however the stream is split into reads.
//
// Each rule sees the stream on its own:
// - "contains" matches every occurrence from left to right, none overlapping
//   the same rule's previous match: `aa` in `aaaa` matches twice, at 2 and 4.
// - "starts with", "equals" and "ends with" look at a frame: the bytes since
//   the stream began, since a gap of `gap` without data, or (for "starts
//   with") since the rule's own last match. "starts with" fires as soon as the
//   frame's first bytes are the pattern, so back-to-back requests each match;
//   "equals" and "ends with" are decided when the frame ends, at the gap or
//   where the caller ends it (a datagram).
//
// Matches found by one read come out in rule order, one per rule with how
// many times it matched, so that what a read gives is bounded by the number
// of rules, however many times they match. Memory is fixed by the rules: the
// automaton's state stands for the tail of the stream that could still begin
// a match (less than the longest pattern), "ends with" keeps the last bytes
// it compares, and nothing grows with the stream.
//
// The cost per byte does not grow with the rules: "contains" skips, at the
// automaton's root, every place where no pattern begins with the next two
// bytes; "starts with" and "equals" compare only the rules still alive in
// their frame (those that begin with its first byte); "ends with" compares,
// when a frame ends, only the rules that end with its last byte.
#include "replies/start_filter.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

enum class ReplyWhen { Contains = 0, StartsWith = 1, Equals = 2, EndsWith = 3 };

struct ReplyPattern
{
    ReplyWhen when = ReplyWhen::Contains;
    // Empty never matches.
    std::vector<std::uint8_t> bytes;
};

class ReplyMatcher
{
public:
    using Clock = std::chrono::steady_clock;

    struct Match
    {
        // Index of the rule's pattern.
        int rule = 0;
        // Stream offset just past the (last) match; for "equals" and "ends
        // with", the end of the frame.
        std::int64_t end = 0;
        // The read that completed the match.
        Clock::time_point read;
        // When the match was certain: the read itself, or the end of the gap
        // that closed the frame.
        Clock::time_point decided;
        // How many times the rule matched in the read, none overlapping.
        int count = 1;
    };

    ReplyMatcher(const std::vector<ReplyPattern>& patterns, Clock::duration gap);

    // A new stream: nothing before this point takes part in a match.
    void Reset();
    // One read at `time` (times never go back). Ends the frame first if the
    // gap has passed since the last read.
    void Feed(const std::uint8_t* data, std::size_t length, Clock::time_point time, std::vector<Match>& out);
    // Ends the frame if the gap has passed at `now`.
    void Quiet(Clock::time_point now, std::vector<Match>& out);
    // Ends the frame here (the end of a datagram).
    void EndFrame(std::vector<Match>& out);
    // When Quiet will end the open frame with something to decide; none when
    // no frame waits for its end.
    std::optional<Clock::time_point> FrameDeadline() const;

    // Bytes held for the stream, fixed once the matcher is made.
    std::size_t MemoryUse() const;

private:
    struct Node
    {
        // Children, sorted by byte, in m_edgeBytes/m_edgeTargets.
        int edgeBegin = 0;
        int edgeEnd = 0;
        int fail = 0;
        // The nearest node along the failure links (this one included) that
        // ends a pattern; -1 for none.
        int report = -1;
        // The rules whose pattern ends here, in m_outputs.
        int outBegin = 0;
        int outEnd = 0;
    };
    // A "starts with" or "equals" rule's progress through its frame.
    struct Prefix
    {
        int rule = 0;
        int matched = 0;
    };
    // Rule indexes grouped by a byte (CSR): those of byte b are
    // index[begin[b]] to index[begin[b + 1]].
    struct ByByte
    {
        std::array<int, 257> begin{};
        std::vector<int> index;

        void Build(const std::vector<std::pair<std::uint8_t, int>>& entries);
        const int* First(std::uint8_t b) const { return index.data() + begin[b]; }
        const int* Last(std::uint8_t b) const { return index.data() + begin[b + 1u]; }
    };

    void BuildAutomaton(const std::vector<ReplyPattern>& patterns);
    // One match of `rule` for the caller's list: counted into the rule's
    // entry when this call has made one.
    void Add(int rule, std::int64_t end, Clock::time_point read, Clock::time_point decided,
             std::vector<Match>& out);
    int Step(int state, std::uint8_t byte) const;
    void BuildFailureLinks(const std::vector<std::vector<std::pair<std::uint8_t, int>>>& children);
    void ReportAt(int state, std::int64_t end, Clock::time_point time, std::vector<Match>& out);
    void ScanContains(const std::uint8_t* data, std::size_t length, Clock::time_point time,
                      std::vector<Match>& out);
    void ScanPrefixes(const std::uint8_t* data, std::size_t length, Clock::time_point time,
                      std::vector<Match>& out);
    void KeepTail(const std::uint8_t* data, std::size_t length);
    bool TailEndsWith(const std::vector<std::uint8_t>& pattern) const;
    void CloseFrame(Clock::time_point decided, std::vector<Match>& out);
    void OpenFrame();

    Clock::duration m_gap;
    std::vector<std::vector<std::uint8_t>> m_patterns;
    std::vector<ReplyWhen> m_when;

    // The "contains" patterns' automaton. The root's row is whole.
    std::array<int, 256> m_root{};
    // Where "contains" patterns may begin.
    StartFilter m_starts;
    std::vector<Node> m_nodes;
    std::vector<std::uint8_t> m_edgeBytes;
    std::vector<int> m_edgeTargets;
    std::vector<int> m_outputs;
    bool m_bContains = false;

    // "starts with" rules, then "equals" rules; "ends with" rule indexes.
    std::vector<Prefix> m_prefixes;
    std::size_t m_nStarts = 0;
    std::vector<int> m_ends;
    // Prefixes by their first byte, "ends with" rules by their last.
    ByByte m_prefixesByFirst;
    ByByte m_endsByLast;
    // Prefixes still comparing bytes of their frame (capacity fixed).
    std::vector<int> m_live;

    // Per rule: the call whose list has its entry, and where.
    std::vector<std::uint64_t> m_addedIn;
    std::vector<std::size_t> m_addedAt;
    std::uint64_t m_nCall = 0;

    // Stream state. Offsets count from the matcher's making and never go
    // back; a new stream begins at `m_base`.
    int m_state = 0;
    std::int64_t m_offset = 0;
    std::int64_t m_base = 0;
    // Per rule: where its last "contains" match ended.
    std::vector<std::int64_t> m_lastEnd;
    // The frame of "equals" and "ends with": its length and last read.
    std::int64_t m_frameLength = 0;
    Clock::time_point m_lastRead{};
    // The last bytes of the stream, as a ring, for "ends with".
    std::vector<std::uint8_t> m_tail;
    std::size_t m_tailHead = 0;
    std::size_t m_tailFill = 0;
};
