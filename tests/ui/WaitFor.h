#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

// Runs the event loop until the condition holds or the time is up; returns the condition.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs = 20000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}
