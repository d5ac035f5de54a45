#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace tavo::hostd {

// Syslog priorities, as the journal reads them from a line's "<N>" prefix.
enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// One line per event, with the UTC time, safe from any thread. When `out` is standard
// error and that is connected to the journal, a line starts with its priority instead
// and leaves the time to the journal.
// Control characters in a line are shown escaped, so text from a client cannot forge a
// line. A line that repeats within `window` of being written is only counted: a full
// disk fails every send, and one line a window says how many more there were.
class Log {
  public:
    using Clock = std::chrono::steady_clock;
    explicit Log(std::ostream& out, std::chrono::seconds window = std::chrono::seconds(60),
                 std::function<Clock::time_point()> now = {});
    ~Log(); // writes the counts still owed
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    void Line(std::string_view text, Priority priority = Priority::Info);

  private:
    struct Repeats {
        Clock::time_point since;
        std::size_t count = 0;
        Priority priority;
    };
    void Write(std::string_view text, Priority priority);
    // The counts of windows that ended by `now` (all when nullptr).
    void WriteRepeats(const Clock::time_point* now);

    std::mutex mutex_;
    std::ostream& out_;
    bool journal_;
    std::chrono::seconds window_;
    std::function<Clock::time_point()> now_;
    std::map<std::string, Repeats, std::less<>> recent_;
};

} // namespace tavo::hostd
