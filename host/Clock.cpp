#include "Clock.h"

namespace {
ClockSource& Source() {
    static ClockSource source;
    return source;
}
} // namespace

std::chrono::system_clock::time_point ClockNow() {
    return Source() ? Source()() : std::chrono::system_clock::now();
}

void SetClockSource(ClockSource source) {
    Source() = std::move(source);
}
