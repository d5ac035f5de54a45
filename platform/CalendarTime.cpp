#include "CalendarTime.h"

namespace tavo::platform {

std::tm UtcTime(std::time_t t) {
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &t);
#else
    gmtime_r(&t, &parts);
#endif
    return parts;
}

std::tm LocalTime(std::time_t t) {
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &t);
#else
    localtime_r(&t, &parts);
#endif
    return parts;
}

} // namespace tavo::platform
