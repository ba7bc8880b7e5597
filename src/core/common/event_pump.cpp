#include "common/event_pump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace orvane {

namespace {
constexpr int kWakeMs = 20;
}  // namespace

void PumpEventsFor(int ms, const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(kWakeMs);
    while (clock.elapsed() < ms && !done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

}  // namespace orvane
