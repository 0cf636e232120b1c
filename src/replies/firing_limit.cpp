#include "replies/firing_limit.h"

bool FiringLimit::Ring::Take(Clock::time_point now, std::size_t size, Clock::duration window)
{
    if (times.size() < size) {
        times.push_back(now);
        return true;
    }
    // The oldest of the last `size` is still inside the window.
    if (now - times[next] < window)
        return false;
    times[next] = now;
    next = (next + 1) % times.size();
    return true;
}

int FiringLimit::Allow(Clock::time_point now, int count, const ReplyTrigger& trigger)
{
    if (m_nLimit <= 0 && !Paused())
        m_reason = PauseReason::Rate;
    if (Paused())
        return 0;
    const bool again =
        m_last.known && trigger.known && m_last.hash == trigger.hash && m_last.length == trigger.length;
    m_last = trigger;
    // A loop goes round with the same bytes; bytes of the peer's own between
    // start the count again (a round that came late, on a busy machine, or
    // one that cannot be compared, does not).
    if (trigger.known && !trigger.echo && !again) {
        m_loopSteps = Ring();
    } else if (trigger.known && trigger.prompt && !m_loopSteps.Take(now, LOOP_LIMIT, m_window)) {
        m_reason = PauseReason::Loop;
        return 0;
    }
    int allowed = 0;
    // More than `limit` at once cannot all fit: the loop ends by pausing.
    for (; allowed < count; ++allowed) {
        if (!m_firings.Take(now, static_cast<std::size_t>(m_nLimit), m_window)) {
            m_reason = PauseReason::Rate;
            break;
        }
    }
    return allowed;
}

void FiringLimit::Resume()
{
    *this = FiringLimit(m_nLimit, m_window);
}
