#include "replies/firing_limit.h"

int FiringLimit::Allow(Clock::time_point now, int count)
{
    if (m_nLimit <= 0)
        m_bPaused = true;
    int allowed = 0;
    // More than `limit` at once cannot all fit: the loop ends by pausing.
    for (; allowed < count && !m_bPaused; ++allowed) {
        if (m_times.size() < static_cast<std::size_t>(m_nLimit)) {
            m_times.push_back(now);
            continue;
        }
        // The oldest of the last `limit` firings is still inside the window.
        if (now - m_times[m_nNext] < m_window) {
            m_bPaused = true;
            break;
        }
        m_times[m_nNext] = now;
        m_nNext = (m_nNext + 1) % m_times.size();
    }
    return allowed;
}

void FiringLimit::Resume()
{
    m_bPaused = false;
    m_times.clear();
    m_nNext = 0;
}
