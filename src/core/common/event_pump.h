#pragma once

#include <functional>

namespace orvane {

// Runs the event loop for up to ms milliseconds, until done() turns true: the way the program
// waits without freezing (a lookup's pause, the pause between reconnect attempts). Wakes at
// least every 20 ms to test done().
void PumpEventsFor(int ms, const std::function<bool()>& done);

}  // namespace orvane
