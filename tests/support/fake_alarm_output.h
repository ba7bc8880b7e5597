#pragma once

#include "app/alarm_sound.h"

#include <functional>

namespace orvane::test {

// Stands in for the sound card, which test machines lack: counts what the alarm asks of it,
// refuses to start with `refusal` (a workstation without a sound device) and can break later.
class FakeAlarmOutput : public AlarmOutput {
  public:
    QString Start() override {
        ++starts;
        if (onStart) {
            onStart();
        }
        return refusal;
    }
    void Stop() override { ++stops; }
    void Break(const QString& reason) { ReportFailure(reason); }  // gives up after a start

    int starts = 0;
    int stops = 0;
    QString refusal;
    std::function<void()> onStart;
};

}  // namespace orvane::test
