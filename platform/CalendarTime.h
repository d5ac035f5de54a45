#pragma once

#include <ctime>

namespace tavo::platform {

// Calendar time of `t`, thread-safe, in UTC and in the local time zone.
std::tm UtcTime(std::time_t t);
std::tm LocalTime(std::time_t t);

} // namespace tavo::platform
