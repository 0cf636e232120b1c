#pragma once

// When the send timer ticks next. Ticks that send are due one millisecond
// apart, start to start, so the time a tick's work takes is not added to the
// period. A tick that comes late re-bases the schedule on the moment it ends:
// after a stall (a message box held open) the transfer carries on at one chunk
// per tick, with no burst to catch up. While nothing can be sent the timer
// ticks slowly, and is woken when something could be.
#include <algorithm>
#include <chrono>

class SendSchedule
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds TICK{1};
    static constexpr std::chrono::milliseconds IDLE_TICK{50};

    // A tick that was due at `due` has started.
    void TickStarted(Clock::time_point due) { m_lastDue = due; }
    // Due time of the next tick, decided when the current one has ended at
    // `now`; `runnable` says whether that tick would have a chunk to send.
    Clock::time_point Next(bool runnable, Clock::time_point now) const
    {
        if (!runnable)
            return now + IDLE_TICK;
        return std::max(m_lastDue + TICK, now);
    }

private:
    Clock::time_point m_lastDue{};
};
