#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Keeps the lists one workstation user asks of one system apart across processes (the
// window, tavo400-send, a cron job): a list holds the lock from choosing its stamp until
// it has read past its end marker, and leaves its stamp in the lock file, so the next
// list, in whichever process, takes a stamp of its own. The operating system's calls are
// the platform layer's.
class ListLock {
  public:
    ListLock() = default;
    ~ListLock();
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

    // Takes the lock of `system`, trying again every few milliseconds on the program's
    // clock for up to `patience`, or until `stop` returns true. Empty when held; else why
    // not, as the user reads it.
    std::string Take(std::string_view system, std::chrono::milliseconds patience,
                     const std::function<bool()>& stop = {});
    // The stamp the previous holder left; empty for none.
    const std::string& LastStamp() const { return lastStamp_; }
    // Leaves `stamp` for the next holder. Empty when written; else why not.
    std::string Record(std::string_view stamp);

  private:
    std::intptr_t handle_ = -1; // a file descriptor here, a HANDLE on Windows
    std::string path_;
    std::string lastStamp_;
};
