#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "Status.h"

namespace tavo::hostd {

struct SignOnLimits {
    int freeFailures = 3; // typos: no wait yet
    int lockAfter = 10;   // consecutive failures of one user
    // An address, which a whole office behind NAT may share, gets more.
    int addressFreeFailures = 12;
    int addressLockAfter = 40;
    std::chrono::seconds firstWait{1};
    std::chrono::seconds longestWait{60};
    std::chrono::minutes lockFor{15};
    std::size_t mostRecords = 100000; // of users, and of addresses
};

// Why an attempt is not checked now: each has its own answer for the client.
enum class Throttle { LockedOut, Wait, Busy };

// Slows down password guessing: failed sign-ons are counted by user and by client
// address; after a few, each further attempt must wait twice as long as the one before,
// and after many the user or address is locked out for a while. A success clears the
// counts of its user and address. Every listener of the daemon shares one guard.
//
// An attempt is counted from the moment its check starts, not when its verdict comes:
// while the first few failures are free, that many checks of one user (and of one
// address) may run at once; past them, one at a time, since the wait before the next
// depends on the verdict. So a burst of guesses sent together gets no more checks than
// guesses sent one by one.
class SignOnGuard {
  public:
    using Clock = std::chrono::steady_clock;
    using Limits = SignOnLimits;

    // A check under way. Tell its verdict once; one dropped untold (the check did not
    // run, or its client went away) is let go uncounted. Must not outlive its guard.
    class Ticket {
      public:
        Ticket(Ticket&& other) noexcept;
        Ticket& operator=(Ticket&&) = delete;
        ~Ticket();
        // A line for the log when this failure locked the user or the address out.
        std::string Failed();
        void Succeeded();
        // Not checked after all, for the host was too busy: counts against the address
        // alone, as a refusal for being busy does. A line for the log as Failed gives.
        std::string Busy();

      private:
        friend class SignOnGuard;
        Ticket(SignOnGuard* guard, std::string user, std::string address)
            : guard_(guard), user_(std::move(user)), address_(std::move(address)) {}
        SignOnGuard* guard_;
        std::string user_, address_;
    };

    struct Admission {
        std::optional<Ticket> ticket;       // check the password, then tell the ticket
        Throttle throttle = Throttle::Busy; // when there is no ticket: which refusal,
        server::Status refusal; // with its text for the client: until when, how long to wait
        std::string logged;     // a line for the log: this refusal locked the address
    };

    explicit SignOnGuard(Limits limits = {}, std::function<Clock::time_point()> now = {});

    // Whether `user` may be checked from `address` now. An attempt refused during a
    // wait or a lock, or as busy, still counts against its address (never its user, whose
    // lock would never end while someone kept trying): a flood ends in a lock of its own
    // addresses, whose connections are then refused before they cost anything.
    Admission Begin(std::string_view user, std::string_view address);
    // Whether every connection from `address` may be refused at once.
    bool AddressLocked(std::string_view address);
    // Lifts the lock or wait of `user` and clears its count: an administrator's word.
    // Whether there was a lock or a wait to lift.
    bool Unlock(std::string_view user);

  private:
    struct Record {
        int failures = 0;
        int checking = 0; // checks under way, their verdicts not told yet
        Clock::time_point notBefore{};
        Clock::time_point lockedUntil{};
        Clock::time_point touched{};
    };
    using Records = std::map<std::string, Record, std::less<>>;

    std::optional<Admission> Blocked(Records& records, const std::string& key,
                                     Clock::time_point now, const char* what);
    std::string Count(Record& record, int freeFailures, int lockAfter, const std::string& what,
                      Clock::time_point now);
    // Counts a refusal against `address`; a line for the log when that locked it.
    std::string Charge(const std::string& address, Clock::time_point now);
    // The record of `key`, made if need be; null when the table is full of what must be
    // kept.
    Record* Make(Records& records, const std::string& key, Clock::time_point now);
    void Prune(Records& records, Clock::time_point now, bool users);
    void Settle(const std::string& user, const std::string& address, std::optional<bool> failed,
                std::string* logged);

    Limits limits_;
    std::function<Clock::time_point()> now_;
    std::mutex mutex_;
    Records users_;
    Records addresses_;
};

} // namespace tavo::hostd
