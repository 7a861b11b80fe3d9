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

// Runs the event loop for a while, for checks that something does not change.
inline void ProcessEventsFor(int ms) {
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}
