#include "Log.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

#include "Latin1Text.h"

namespace tavo::hostd {
namespace {

// Lines told apart at once; beyond that (a flood of different lines) a new line is
// written without being counted.
constexpr std::size_t kMaxRecent = 256;

// systemd names the stream it connected as "DEVICE:INODE". A unit's child whose standard
// error was sent elsewhere (a test's log file) inherits the variable but not the stream.
bool StderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat info {};
    unsigned long long device = 0, inode = 0;
    return stream && std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
           ::fstat(STDERR_FILENO, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

} // namespace

Log::Log(std::ostream& out, std::chrono::seconds window, std::function<Clock::time_point()> now)
    : out_(out), journal_(&out == &std::cerr && StderrIsJournal()), window_(window),
      now_(std::move(now)) {}

Log::~Log() {
    std::lock_guard lock(mutex_);
    WriteRepeats(nullptr);
}

void Log::Line(std::string_view text, Priority priority) {
    const std::string shown = text::EscapeControls(text);
    std::lock_guard lock(mutex_);
    const Clock::time_point now = now_ ? now_() : Clock::now();
    WriteRepeats(&now);
    if (const auto seen = recent_.find(shown); seen != recent_.end()) {
        ++seen->second.count;
        return;
    }
    if (recent_.size() < kMaxRecent)
        recent_.emplace(shown, Repeats{now, 0, priority});
    Write(shown, priority);
}

void Log::WriteRepeats(const Clock::time_point* now) {
    for (auto it = recent_.begin(); it != recent_.end();) {
        auto& [text, repeats] = *it;
        if (now && *now - repeats.since < window_) {
            ++it;
        } else if (repeats.count == 0) {
            it = recent_.erase(it);
        } else {
            // Still repeating: the next count comes a window later at the earliest.
            Write(text + " (repeated " + std::to_string(repeats.count) +
                      (repeats.count == 1 ? " more time)" : " more times)"),
                  repeats.priority);
            repeats.count = 0;
            if (now)
                repeats.since = *now;
            ++it;
        }
    }
}

void Log::Write(std::string_view text, Priority priority) {
    char prefix[32];
    std::size_t n = 0;
    if (journal_) {
        n = static_cast<std::size_t>(
            std::snprintf(prefix, sizeof prefix, "<%d>", static_cast<int>(priority)));
    } else {
        const std::time_t now =
            std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        std::tm utc{};
        gmtime_r(&now, &utc);
        n = std::strftime(prefix, sizeof prefix, "%Y-%m-%dT%H:%M:%SZ ", &utc);
    }
    out_ << std::string_view(prefix, n) << text << '\n';
    out_.flush();
}

} // namespace tavo::hostd
