#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace tavo::hostd {

struct SignOnLimits {
    int freeFailures = 3;  // typos: no wait yet
    int lockAfter = 10;    // consecutive failures of one user
    int addressFactor = 4; // an address (a whole office behind NAT) gets this many times more
    std::chrono::seconds firstWait{1};
    std::chrono::seconds longestWait{60};
    std::chrono::minutes lockFor{15};
};

// Slows down password guessing: failed sign-ons are counted by user and by client
// address; after a few, each further attempt must wait twice as long as the one before,
// and after many the user or address is locked out for a while. A success clears the
// counts of its user and address. Every listener of the daemon shares one guard.
class SignOnGuard {
  public:
    using Clock = std::chrono::steady_clock;

    using Limits = SignOnLimits;

    explicit SignOnGuard(Limits limits = {}, std::function<Clock::time_point()> now = {});

    // Empty when `user` may try from `address` now; else why not, for the client: a text
    // that starts "locked out" while a lock lasts.
    std::string Refusal(std::string_view user, std::string_view address);
    // The outcome of an attempt that was let through. Returns a line for the log when
    // this failure locked the user or the address out (once per lock), else "".
    std::string Failed(std::string_view user, std::string_view address);
    void Succeeded(std::string_view user, std::string_view address);
    // An attempt refused unchecked, during a wait or a lock, still counts against its
    // address (never its user, whose lock would never end while someone kept trying).
    // Returns a line for the log when this locked the address out.
    std::string Refused(std::string_view address);
    // Whether every connection from `address` may be refused at once.
    bool AddressLocked(std::string_view address);

  private:
    struct Record {
        int failures = 0;
        Clock::time_point notBefore{};
        Clock::time_point lockedUntil{};
    };
    // Whether the record allows an attempt now; drops it once its lock has passed.
    std::string Check(std::map<std::string, Record, std::less<>>& records, const std::string& key,
                      const char* what);
    std::string Count(Record& record, int freeFailures, int lockAfter, const std::string& what);
    void Forget(std::map<std::string, Record, std::less<>>& records, Clock::time_point now);

    Limits limits_;
    std::function<Clock::time_point()> now_;
    std::mutex mutex_;
    std::map<std::string, Record, std::less<>> users_;
    std::map<std::string, Record, std::less<>> addresses_;
};

} // namespace tavo::hostd
