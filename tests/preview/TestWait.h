#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

// Runs the event loop until `done` holds or `timeoutMs` has passed; returns whether it held.
template <typename Condition>
bool WaitUntil(Condition done, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Runs the event loop for a while, for checks that something does not change.
inline void ProcessEventsFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}
