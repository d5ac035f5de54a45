#include "Clock.h"

#include <thread>

namespace {
ClockSource& Source() {
    static ClockSource source;
    return source;
}
ClockWait& Wait() {
    static ClockWait wait;
    return wait;
}
} // namespace

std::chrono::system_clock::time_point ClockNow() {
    return Source() ? Source()() : std::chrono::system_clock::now();
}

void SetClockSource(ClockSource source) {
    Source() = std::move(source);
}

void WaitClock(std::chrono::milliseconds duration) {
    if (Wait())
        Wait()(duration);
    else
        std::this_thread::sleep_for(duration);
}

void SetClockWait(ClockWait wait) {
    Wait() = std::move(wait);
}
