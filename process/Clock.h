#pragma once

#include <chrono>
#include <functional>

// The request stamp reads the clock through here so tests can fix the time.
using ClockSource = std::function<std::chrono::system_clock::time_point()>;

std::chrono::system_clock::time_point ClockNow();
// An empty source restores the system clock.
void SetClockSource(ClockSource source);

// Waiting for the clock to move on goes through here too, so a test with a fixed clock
// moves it instead of sleeping.
using ClockWait = std::function<void(std::chrono::milliseconds)>;

void WaitClock(std::chrono::milliseconds duration);
// An empty wait restores sleeping.
void SetClockWait(ClockWait wait);
