#include "SignOnGuard.h"

#include "Latin1Text.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <tuple>
#include <utility>
#include <vector>

namespace tavo::hostd {

namespace {

// Records this old with no lock are forgotten, so the maps stay small.
constexpr auto kMemory = std::chrono::hours(1);

std::string Span(SignOnGuard::Clock::duration wait) {
    const auto s = std::max<long long>(std::chrono::ceil<std::chrono::seconds>(wait).count(), 1);
    return s < 120 ? std::to_string(s) + " s" : std::to_string((s + 59) / 60) + " min";
}

// The wall-clock time `left` from now, as a user reads it.
std::string Until(SignOnGuard::Clock::duration left) {
    const std::time_t at = std::chrono::system_clock::to_time_t(
        std::chrono::system_clock::now() + std::chrono::ceil<std::chrono::seconds>(left));
    std::tm utc{};
    gmtime_r(&at, &utc);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return std::string(text, n);
}

bool Locked(const auto& record, SignOnGuard::Clock::time_point now) {
    return now < record.lockedUntil;
}

SignOnGuard::Admission Refused(Throttle throttle, std::string text, std::string logged = {}) {
    SignOnGuard::Admission out;
    out.throttle = throttle;
    out.refusal = server::Status::Fail(server::Status::kFailed, std::move(text));
    out.logged = std::move(logged);
    return out;
}

} // namespace

SignOnGuard::Ticket::Ticket(Ticket&& other) noexcept
    : guard_(std::exchange(other.guard_, nullptr)), user_(std::move(other.user_)),
      address_(std::move(other.address_)) {}

SignOnGuard::Ticket::~Ticket() {
    if (guard_)
        guard_->Settle(user_, address_, std::nullopt, nullptr);
}

std::string SignOnGuard::Ticket::Failed() {
    std::string logged;
    if (auto* guard = std::exchange(guard_, nullptr))
        guard->Settle(user_, address_, true, &logged);
    return logged;
}

void SignOnGuard::Ticket::Succeeded() {
    if (auto* guard = std::exchange(guard_, nullptr))
        guard->Settle(user_, address_, false, nullptr);
}

std::string SignOnGuard::Ticket::Busy() {
    auto* guard = std::exchange(guard_, nullptr);
    if (!guard)
        return "";
    guard->Settle(user_, address_, std::nullopt, nullptr);
    std::lock_guard lock(guard->mutex_);
    return guard->Charge(address_, guard->now_());
}

SignOnGuard::SignOnGuard(Limits limits, std::function<Clock::time_point()> now)
    : limits_(limits), now_(now ? std::move(now) : [] { return Clock::now(); }) {}

std::optional<SignOnGuard::Admission> SignOnGuard::Blocked(Records& records, const std::string& key,
                                                           Clock::time_point now,
                                                           const char* what) {
    auto it = records.find(key);
    if (it == records.end())
        return std::nullopt;
    Record& r = it->second;
    if (r.lockedUntil != Clock::time_point{}) {
        if (Locked(r, now))
            return Refused(Throttle::LockedOut,
                           std::string("locked out after too many failed sign-ons ") + what +
                               " until " + Until(r.lockedUntil - now) + " (" +
                               Span(r.lockedUntil - now) + " from now).");
        r = Record{0, r.checking, {}, {}, now}; // the lock has passed: a fresh start
    }
    if (now < r.notBefore)
        return Refused(Throttle::Wait, std::string("too many failed sign-ons ") + what +
                                           "; try again in " + Span(r.notBefore - now) + ".");
    return std::nullopt;
}

SignOnGuard::Admission SignOnGuard::Begin(std::string_view user, std::string_view address) {
    std::lock_guard lock(mutex_);
    const auto now = now_();
    const std::string name = tavo::text::FoldName(user), from(address);
    auto byUser = Blocked(users_, name, now, "for this user");
    auto blocked = byUser ? std::move(byUser) : Blocked(addresses_, from, now, "from this address");
    if (blocked) {
        blocked->logged = Charge(from, now);
        return std::move(*blocked);
    }
    // Past the free failures a check waits for the verdict before it: that sets the wait.
    const auto full = [](const Records& records, const std::string& key, int freeFailures) {
        const auto it = records.find(key);
        return it != records.end() && it->second.checking > 0 &&
               it->second.failures + it->second.checking >= freeFailures;
    };
    if (full(users_, name, limits_.freeFailures))
        return Refused(Throttle::Busy,
                       "sign-ons of this user are being checked; try again in a moment.",
                       Charge(from, now));
    if (full(addresses_, from, limits_.addressFreeFailures))
        return Refused(Throttle::Busy,
                       "sign-ons from this address are being checked; try again in a moment.",
                       Charge(from, now));
    Record* u = Make(users_, name, now);
    Record* a = u ? Make(addresses_, from, now) : nullptr;
    if (!a) {
        // Every record is a lock still running, and no lock is ever forgotten: the newcomer
        // is refused as busy until the first of them ends (at most lockFor), rather than
        // checked with no count of its failures.
        if (u && u->failures == 0 && u->checking == 0)
            users_.erase(name);
        return Refused(Throttle::Busy, "the host is busy; try again in a moment.",
                       "sign-on guard full: every record is a lock still running");
    }
    ++u->checking;
    ++a->checking;
    u->touched = a->touched = now;
    Admission out;
    out.ticket.emplace(Ticket(this, name, from));
    return out;
}

std::string SignOnGuard::Charge(const std::string& address, Clock::time_point now) {
    Record* a = Make(addresses_, address, now);
    if (!a || Locked(*a, now))
        return "";
    return Count(*a, limits_.addressFreeFailures, limits_.addressLockAfter, "address " + address,
                 now);
}

std::string SignOnGuard::Count(Record& r, int freeFailures, int lockAfter, const std::string& what,
                               Clock::time_point now) {
    r.touched = now;
    if (Locked(r, now))
        return ""; // a check begun before the lock: the lock is logged once
    ++r.failures;
    if (r.failures >= lockAfter) {
        r.lockedUntil = now + limits_.lockFor;
        return what + " locked out for " +
               std::to_string(
                   std::chrono::duration_cast<std::chrono::minutes>(limits_.lockFor).count()) +
               " min after " + std::to_string(r.failures) + " failed sign-ons";
    }
    if (r.failures > freeFailures) {
        const int doublings = std::min(r.failures - freeFailures - 1, 16);
        r.notBefore = now + std::min<Clock::duration>(limits_.firstWait * (1 << doublings),
                                                      limits_.longestWait);
    } else {
        r.notBefore = now;
    }
    return "";
}

void SignOnGuard::Settle(const std::string& user, const std::string& address,
                         std::optional<bool> failed, std::string* logged) {
    std::lock_guard lock(mutex_);
    const auto now = now_();
    // Records with checks under way are never forgotten, so both are there.
    const auto settle = [&](Records& records, const std::string& key, int freeFailures,
                            int lockAfter, const std::string& what) {
        const auto it = records.find(key);
        if (it == records.end())
            return;
        Record& r = it->second;
        r.checking = std::max(r.checking - 1, 0);
        if (failed == true) {
            const std::string line = Count(r, freeFailures, lockAfter, what, now);
            if (!line.empty())
                *logged += (logged->empty() ? "" : "; ") + line;
        } else if (failed == false && !Locked(r, now)) {
            r.failures = 0;
            r.notBefore = {};
        }
        if (r.checking == 0 && r.failures == 0 && r.lockedUntil == Clock::time_point{})
            records.erase(it);
    };
    settle(users_, user, limits_.freeFailures, limits_.lockAfter, "user " + user);
    settle(addresses_, address, limits_.addressFreeFailures, limits_.addressLockAfter,
           "address " + address);
}

bool SignOnGuard::AddressLocked(std::string_view address) {
    std::lock_guard lock(mutex_);
    const auto it = addresses_.find(address);
    return it != addresses_.end() && Locked(it->second, now_());
}

bool SignOnGuard::Unlock(std::string_view user) {
    std::lock_guard lock(mutex_);
    const auto now = now_();
    const auto it = users_.find(tavo::text::FoldName(user));
    if (it == users_.end())
        return false;
    Record& r = it->second;
    const bool held = Locked(r, now) || now < r.notBefore;
    if (r.checking > 0)
        r = Record{0, r.checking, {}, {}, now};
    else
        users_.erase(it);
    return held;
}

SignOnGuard::Record* SignOnGuard::Make(Records& records, const std::string& key,
                                       Clock::time_point now) {
    if (const auto it = records.find(key); it != records.end())
        return &it->second;
    if (records.size() >= limits_.mostRecords)
        Prune(records, now, &records == &users_);
    if (records.size() >= limits_.mostRecords)
        return nullptr;
    Record& r = records[key];
    r.touched = now;
    return &r;
}

// Frees a tenth of the table at a time, so a flood of new names prunes now and then,
// not at every attempt. Forgotten first: what has passed; then the oldest of what is
// harmless to forget (an address with no lock, a user with no failures); then users whose
// count had not reached a lock, oldest first, as an attacker who wants one forgotten must
// fill the whole table to get there. Never a lock still running, nor a check under way.
void SignOnGuard::Prune(Records& records, Clock::time_point now, bool users) {
    std::erase_if(records, [&](const auto& entry) {
        const Record& r = entry.second;
        if (r.checking > 0 || Locked(r, now))
            return false;
        return r.lockedUntil != Clock::time_point{} || now - r.touched > kMemory;
    });
    const std::size_t keep = limits_.mostRecords - limits_.mostRecords / 10 - 1;
    if (records.size() <= keep)
        return;
    struct Candidate {
        int rank;
        Clock::time_point touched;
        Records::iterator it;
    };
    std::vector<Candidate> candidates;
    for (auto it = records.begin(); it != records.end(); ++it)
        if (it->second.checking == 0 && !Locked(it->second, now))
            candidates.push_back(
                {users && it->second.failures > 0 ? 1 : 0, it->second.touched, it});
    const std::size_t drop = std::min(records.size() - keep, candidates.size());
    std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(drop),
                      candidates.end(), [](const Candidate& a, const Candidate& b) {
                          return std::tie(a.rank, a.touched) < std::tie(b.rank, b.touched);
                      });
    for (std::size_t i = 0; i < drop; ++i)
        records.erase(candidates[i].it);
}

} // namespace tavo::hostd
