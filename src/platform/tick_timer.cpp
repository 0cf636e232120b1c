#include "platform/tick_timer.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

// The steady clock is CLOCK_MONOTONIC on Linux, so its time points are the
// timer descriptor's absolute times.
static_assert(std::chrono::steady_clock::is_steady);

CTickTimer::CTickTimer(std::function<void()> onTick) : m_onTick(std::move(onTick))
{
    m_fallback.setSingleShot(true);
    m_fallback.setTimerType(Qt::PreciseTimer);
    connect(&m_fallback, &QTimer::timeout, this, [this] {
        m_bActive = false;
        if (m_onTick)
            m_onTick();
    });
    m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0)
        return;
    m_pNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CTickTimer::OnReadable);
}

CTickTimer::~CTickTimer()
{
    delete m_pNotifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void CTickTimer::StartAt(Clock::time_point due)
{
    if (m_fd < 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
        m_fallback.start(std::max<int>(0, static_cast<int>(left.count())));
        m_bActive = true;
        m_due = due;
        return;
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch()).count();
    itimerspec when{};
    // Zero would disarm the timer; the monotonic clock is never that early.
    when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0)
        when.it_value.tv_nsec = 1;
    if (::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &when, nullptr) == 0) {
        m_bActive = true;
        m_due = due;
    }
}

void CTickTimer::Stop()
{
    if (!m_bActive)
        return;
    m_bActive = false;
    if (m_fd < 0) {
        m_fallback.stop();
        return;
    }
    const itimerspec off{};
    ::timerfd_settime(m_fd, 0, &off, nullptr);
    // An expiry that came before the disarm is still counted on the
    // descriptor; drop it so it cannot fire later.
    std::uint64_t expiries;
    while (::read(m_fd, &expiries, sizeof expiries) < 0 && errno == EINTR) {
    }
}

void CTickTimer::OnReadable()
{
    std::uint64_t expiries = 0;
    ssize_t n;
    do
        n = ::read(m_fd, &expiries, sizeof expiries);
    while (n < 0 && errno == EINTR);
    if (n != sizeof expiries || !m_bActive)
        return;
    m_bActive = false;
    if (m_onTick)
        m_onTick();
}
