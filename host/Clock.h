#pragma once

#include <chrono>
#include <functional>

// The request stamp reads the clock through here so tests can fix the time.
using ClockSource = std::function<std::chrono::system_clock::time_point()>;

std::chrono::system_clock::time_point ClockNow();
// An empty source restores the system clock.
void SetClockSource(ClockSource source);
