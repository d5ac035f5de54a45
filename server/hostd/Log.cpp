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

// Kinds of lines told apart in a window; beyond that, lines are counted together.
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

void Log::Line(std::string_view text, Priority priority, std::string_view kind) {
    const std::string shown = text::EscapeControls(text);
    std::lock_guard lock(mutex_);
    const Clock::time_point now = now_ ? now_() : Clock::now();
    WriteRepeats(&now);
    // A kind is keyed apart from every text: it starts with a byte no shown text has.
    const std::string key = kind.empty() ? shown : '\x01' + std::string(kind);
    if (const auto seen = recent_.find(key); seen != recent_.end()) {
        ++seen->second.count;
        return;
    }
    if (recent_.size() >= kMaxRecent) {
        if (others_.count++ == 0)
            others_.since = now;
        return;
    }
    recent_.emplace(key, Repeats{now, 0, priority, !kind.empty()});
    Write(shown, priority);
}

void Log::Flush(const std::string& key, Repeats& repeats, const Clock::time_point* now) {
    const auto seconds = window_.count();
    const std::string last =
        " in the last " + (seconds == 60 ? std::string("minute") : std::to_string(seconds) + " s");
    const std::string count = std::to_string(repeats.count);
    if (&repeats == &others_)
        Write("... and " + count + " more lines of other kinds" + last, Priority::Warning);
    else if (repeats.named)
        Write("... and " + count + " more '" + key.substr(1) + "'" + last, repeats.priority);
    else
        Write(key + " (repeated " + count + (repeats.count == 1 ? " more time)" : " more times)"),
              repeats.priority);
    repeats.count = 0;
    if (now)
        repeats.since = *now;
}

void Log::WriteRepeats(const Clock::time_point* now) {
    for (auto it = recent_.begin(); it != recent_.end();) {
        auto& [key, repeats] = *it;
        if (now && *now - repeats.since < window_) {
            ++it;
        } else if (repeats.count == 0) {
            it = recent_.erase(it);
        } else {
            // Still repeating: the next count comes a window later at the earliest.
            Flush(key, repeats, now);
            ++it;
        }
    }
    if (others_.count > 0 && (!now || *now - others_.since >= window_))
        Flush({}, others_, now);
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
