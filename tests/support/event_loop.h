#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace orvane::test {

// Runs the event loop until condition() holds or timeoutMs pass; returns condition().
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    // Sleeps until an event comes; the timer makes one every 5 ms, so the condition is
    // looked at again that often. (processEvents with a time limit returns at once when
    // nothing is pending: it would spin a core, and a test measuring CPU would count it.)
    QTimer wake;
    wake.start(5);
    while (!condition() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return condition();
}

// Runs the event loop for ms milliseconds.
inline void Pump(int ms) {
    WaitUntil([] { return false; }, ms);
}

}  // namespace orvane::test
