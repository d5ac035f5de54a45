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
// disk fails every send, and one line a window says how many more there were. Lines a
// flood repeats with different words (each client's address, the name it tried) are
// given a kind and counted by it; and past a few hundred kinds in a window, the rest are
// counted together. So however a flood is shaped, it costs a bounded number of lines.
class Log {
  public:
    using Clock = std::chrono::steady_clock;
    explicit Log(std::ostream& out, std::chrono::seconds window = std::chrono::seconds(60),
                 std::function<Clock::time_point()> now = {});
    ~Log(); // writes the counts still owed
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    // `kind`: what the line tells, in words that do not vary ("too many checks waiting");
    // empty: the line's own text.
    void Line(std::string_view text, Priority priority = Priority::Info,
              std::string_view kind = {});

  private:
    struct Repeats {
        Clock::time_point since;
        std::size_t count = 0;
        Priority priority;
        bool named = false; // counted by kind, not by text
    };
    void Flush(const std::string& key, Repeats& repeats, const Clock::time_point* now);
    void Write(std::string_view text, Priority priority);
    // The counts of windows that ended by `now` (all when nullptr).
    void WriteRepeats(const Clock::time_point* now);

    std::mutex mutex_;
    std::ostream& out_;
    bool journal_;
    std::chrono::seconds window_;
    std::function<Clock::time_point()> now_;
    std::map<std::string, Repeats, std::less<>> recent_;
    Repeats others_{{}, 0, Priority::Info}; // lines past the kinds told apart
};

} // namespace tavo::hostd
