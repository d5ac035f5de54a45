#pragma once

#include <mutex>
#include <ostream>
#include <string_view>

namespace tavo::hostd {

// One line per event, with the UTC time, safe from any thread.
class Log {
  public:
    explicit Log(std::ostream& out) : out_(out) {}
    void Line(std::string_view text);

  private:
    std::mutex mutex_;
    std::ostream& out_;
};

} // namespace tavo::hostd
