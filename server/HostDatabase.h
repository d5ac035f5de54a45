#pragma once

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <sqlite3.h>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "HostEngine.h"

namespace tavo::server {

// Creates `path` readable by its owner only: SQLite would create it as the umask says, and
// its journals take the file's mode.
void CreatePrivate(const std::string& path);

// Checks what the file holds, then brings it to this version's schema. Throws
// UnusableDatabase for a file that is not a host database this version can use.
void PrepareDatabase(sqlite3* db, const std::string& path, OpenMode mode);

// SQLite's write lock has no queue: a daemon that commits back to back under load frees it
// only for moments, and another process's write would wait in vain. So a write of another
// process holds a shared lock on "<db>-turn" while it waits and runs, and the daemon lets
// such writes go first before each call it takes. The daemon makes the file; without one,
// no daemon has served the database and nobody needs to be let first.
class WriterTurns {
  public:
    WriterTurns(const std::string& path, bool create)
        : fd_(::open((path + "-turn").c_str(), O_RDONLY | O_CLOEXEC | (create ? O_CREAT : 0),
                     0600)) {}
    ~WriterTurns() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    WriterTurns(const WriterTurns&) = delete;
    WriterTurns& operator=(const WriterTurns&) = delete;

    // Held around a write that must not be shut out.
    class Announced {
      public:
        explicit Announced(int fd) : fd_(fd) {
            if (fd_ >= 0)
                ::flock(fd_, LOCK_SH);
        }
        ~Announced() {
            if (fd_ >= 0)
                ::flock(fd_, LOCK_UN);
        }
        Announced(const Announced&) = delete;
        Announced& operator=(const Announced&) = delete;

      private:
        int fd_;
    };
    Announced Announce() const { return Announced(fd_); }

    // Waits while a write is announced, for long enough that its writer, which looks for
    // SQLite's lock every millisecond, takes it; a stopped one only slows the daemon down.
    void LetOthersFirst(std::chrono::milliseconds limit) const {
        if (fd_ < 0)
            return;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (std::chrono::steady_clock::now() >= end)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::flock(fd_, LOCK_UN);
    }

  private:
    int fd_;
};

} // namespace tavo::server
