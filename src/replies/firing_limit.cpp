#include "replies/firing_limit.h"

bool FiringLimit::Allow(Clock::time_point now)
{
    if (m_bPaused || m_nLimit <= 0)
        return false;
    if (m_times.size() < static_cast<std::size_t>(m_nLimit)) {
        m_times.push_back(now);
        return true;
    }
    // The oldest of the last `limit` firings is still inside the window.
    if (now - m_times[m_nNext] < m_window) {
        m_bPaused = true;
        return false;
    }
    m_times[m_nNext] = now;
    m_nNext = (m_nNext + 1) % m_times.size();
    return true;
}

void FiringLimit::Resume()
{
    m_bPaused = false;
    m_times.clear();
    m_nNext = 0;
}
