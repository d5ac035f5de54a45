#include "Log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace tavo::hostd {
namespace {

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

Log::Log(std::ostream& out) : out_(out), journal_(&out == &std::cerr && StderrIsJournal()) {}

void Log::Line(std::string_view text, Priority priority) {
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
    std::lock_guard lock(mutex_);
    out_ << std::string_view(prefix, n) << text << '\n';
    out_.flush();
}

} // namespace tavo::hostd
