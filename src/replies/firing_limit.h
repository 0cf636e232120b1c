#pragma once

// FiringLimit: the runaway guard of one rule. It pauses the rule, until the
// user lets it go again, when
//
// - it fires more than `limit` times within any `window` (a flood of
//   requests, or two programs answering each other with more than they were
//   asked); or
// - it is caught in a loop: LOOP_LIMIT times within one `window`, with no
//   bytes of the peer's own between, what set it off began at once after
//   Korvo's own turn (ConversationTurns) and was that turn coming back (an
//   echoing peer), or was the very bytes that set it off the time before
//   (another program answering by rules).
//
// A peer of its own asks with bytes of its own, which differ from the reply
// and, with a number or a time in them, from one request to the next; one
// that repeats the same request waits a while between them. Neither is
// taken for a loop, however fast it is answered. A loop slowed by a delay to
// fewer than LOOP_LIMIT rounds a second is left to run: that is how one is
// made on purpose.
#include "replies/conversation_turns.h"

#include <chrono>
#include <cstddef>
#include <vector>

class FiringLimit
{
public:
    using Clock = std::chrono::steady_clock;
    // Above what the 1 ms send tick can answer, so that a peer waiting for
    // each reply never meets it.
    static constexpr int LIMIT = 2000;
    static constexpr int LOOP_LIMIT = 100;
    static constexpr std::chrono::seconds WINDOW{1};

    enum class PauseReason { None, Rate, Loop };

    FiringLimit() = default;
    FiringLimit(int limit, Clock::duration window) : m_nLimit(limit), m_window(window) {}

    // `count` firings at `now`, set off by `trigger` (one read, one step of
    // a loop): how many may go, the rest pausing the rule; 0 if it was paused
    // before.
    int Allow(Clock::time_point now, int count = 1, const ReplyTrigger& trigger = {});
    bool Paused() const { return m_reason != PauseReason::None; }
    PauseReason Reason() const { return m_reason; }
    // Paused for another reason (its replies cannot go out as fast as it fires).
    void Pause() { m_reason = PauseReason::Rate; }
    // The user let the rule go again: it starts counting afresh.
    void Resume();

private:
    // Times as a ring of the last `size` entries: true while there is room
    // or the oldest has left the window, and `now` takes its place.
    struct Ring
    {
        std::vector<Clock::time_point> times;
        std::size_t next = 0;
        bool Take(Clock::time_point now, std::size_t size, Clock::duration window);
    };

    int m_nLimit = LIMIT;
    Clock::duration m_window = WINDOW;
    PauseReason m_reason = PauseReason::None;
    Ring m_firings;
    Ring m_loopSteps;
    ReplyTrigger m_last;
};
