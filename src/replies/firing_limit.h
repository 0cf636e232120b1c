#pragma once

// FiringLimit: the runaway guard of one rule. A rule may fire at most
// `limit` times within any `window`; the firing over that pauses it until the
// user lets it go again. Two programs answering each other then stop within a
// second instead of flooding each other and freezing both windows.
#include <chrono>
#include <cstddef>
#include <vector>

class FiringLimit
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int LIMIT = 1000;
    static constexpr std::chrono::seconds WINDOW{1};

    FiringLimit() = default;
    FiringLimit(int limit, Clock::duration window) : m_nLimit(limit), m_window(window) {}

    // `count` firings at `now`: how many may go, the rest pausing the rule;
    // 0 if it was paused before.
    int Allow(Clock::time_point now, int count = 1);
    bool Paused() const { return m_bPaused; }
    // Paused for another reason (its replies cannot go out as fast as it fires).
    void Pause() { m_bPaused = true; }
    // The user let the rule go again: it starts counting afresh.
    void Resume();

private:
    int m_nLimit = LIMIT;
    Clock::duration m_window = WINDOW;
    bool m_bPaused = false;
    // The times of the last `limit` firings, as a ring; made on first use.
    std::vector<Clock::time_point> m_times;
    std::size_t m_nNext = 0;
};
