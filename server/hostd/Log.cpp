#include "Log.h"

#include <chrono>
#include <ctime>

namespace tavo::hostd {

void Log::Line(std::string_view text) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::lock_guard lock(mutex_);
    out_ << std::string_view(stamp, n) << ' ' << text << '\n';
    out_.flush();
}

} // namespace tavo::hostd
