#pragma once

// CTickTimer: a one-shot timer on the monotonic clock with nanosecond
// resolution, delivered on the GUI thread like any other event. Qt's own
// timers count whole milliseconds from the moment they are started, which
// cannot keep a schedule of one tick per millisecond when each tick's work
// takes part of that millisecond.
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class QSocketNotifier;

class CTickTimer : public QObject
{
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    explicit CTickTimer(std::function<void()> onTick);
    ~CTickTimer() override;

    // Arms the timer for the instant `due`; a due time already past fires at
    // the next turn of the event loop. Replaces any earlier due time.
    void StartAt(Clock::time_point due);
    void Stop();
    bool IsActive() const { return m_bActive; }
    Clock::time_point Due() const { return m_due; }

private:
    void OnReadable();

    std::function<void()> m_onTick;
    int m_fd = -1;
    QSocketNotifier* m_pNotifier = nullptr;
    // Whole milliseconds, only if the system gave no timer descriptor.
    QTimer m_fallback;
    bool m_bActive = false;
    Clock::time_point m_due{};
};
