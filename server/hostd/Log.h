#pragma once

#include <mutex>
#include <ostream>
#include <string_view>

namespace tavo::hostd {

// Syslog priorities, as the journal reads them from a line's "<N>" prefix.
enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// One line per event, with the UTC time, safe from any thread. When `out` is standard
// error and that is connected to the journal, a line starts with its priority instead
// and leaves the time to the journal.
class Log {
  public:
    explicit Log(std::ostream& out);
    void Line(std::string_view text, Priority priority = Priority::Info);

  private:
    std::mutex mutex_;
    std::ostream& out_;
    bool journal_;
};

} // namespace tavo::hostd
