#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

#include <chrono>
#include <functional>

namespace korvo::test {

// Runs the event loop until the condition holds or the deadline passes.
// Returns the condition's last value; tests assert on it instead of sleeping.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!condition())
            QThread::usleep(200);
    }
    return true;
}

// Lets pending events run for a bounded number of passes (no waiting).
inline void DrainEvents(int passes = 5)
{
    for (int i = 0; i < passes; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace korvo::test
