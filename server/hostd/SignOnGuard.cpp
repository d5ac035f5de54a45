#include "SignOnGuard.h"

#include <algorithm>
#include <cctype>

namespace tavo::hostd {

namespace {

// Records this old with no lock are forgotten, so the maps stay small.
constexpr auto kMemory = std::chrono::hours(1);
constexpr std::size_t kMostRecords = 100000;

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

std::string Seconds(SignOnGuard::Clock::duration wait) {
    const auto s = std::chrono::ceil<std::chrono::seconds>(wait).count();
    return std::to_string(std::max<long long>(s, 1)) + " s";
}

} // namespace

SignOnGuard::SignOnGuard(Limits limits, std::function<Clock::time_point()> now)
    : limits_(limits), now_(now ? std::move(now) : [] { return Clock::now(); }) {}

std::string SignOnGuard::Check(std::map<std::string, Record, std::less<>>& records,
                               const std::string& key, const char* what) {
    auto it = records.find(key);
    if (it == records.end())
        return "";
    const auto now = now_();
    Record& r = it->second;
    if (r.lockedUntil != Clock::time_point{}) {
        if (now < r.lockedUntil)
            return std::string("locked out after too many failed sign-ons ") + what +
                   "; try again in " + Seconds(r.lockedUntil - now) + ".";
        records.erase(it); // the lock has passed: a fresh start
        return "";
    }
    if (now < r.notBefore)
        return std::string("too many failed sign-ons ") + what + "; try again in " +
               Seconds(r.notBefore - now) + ".";
    return "";
}

std::string SignOnGuard::Refusal(std::string_view user, std::string_view address) {
    std::lock_guard lock(mutex_);
    if (auto why = Check(users_, Upper(user), "for this user"); !why.empty())
        return why;
    return Check(addresses_, std::string(address), "from this address");
}

std::string SignOnGuard::Count(Record& r, int freeFailures, int lockAfter,
                               const std::string& what) {
    const auto now = now_();
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

std::string SignOnGuard::Failed(std::string_view user, std::string_view address) {
    std::lock_guard lock(mutex_);
    const auto now = now_();
    Forget(users_, now);
    Forget(addresses_, now);
    const std::string name = Upper(user);
    std::string logged =
        Count(users_[name], limits_.freeFailures, limits_.lockAfter, "user " + name);
    const int factor = limits_.addressFactor;
    const std::string byAddress =
        Count(addresses_[std::string(address)], limits_.freeFailures * factor,
              limits_.lockAfter * factor, "address " + std::string(address));
    if (!byAddress.empty())
        logged += (logged.empty() ? "" : "; ") + byAddress;
    return logged;
}

std::string SignOnGuard::Refused(std::string_view address) {
    std::lock_guard lock(mutex_);
    Record& r = addresses_[std::string(address)];
    if (r.lockedUntil != Clock::time_point{})
        return "";
    const int factor = limits_.addressFactor;
    return Count(r, limits_.freeFailures * factor, limits_.lockAfter * factor,
                 "address " + std::string(address));
}

bool SignOnGuard::AddressLocked(std::string_view address) {
    std::lock_guard lock(mutex_);
    const auto it = addresses_.find(address);
    return it != addresses_.end() && now_() < it->second.lockedUntil;
}

void SignOnGuard::Succeeded(std::string_view user, std::string_view address) {
    std::lock_guard lock(mutex_);
    users_.erase(Upper(user));
    addresses_.erase(std::string(address));
}

void SignOnGuard::Forget(std::map<std::string, Record, std::less<>>& records,
                         Clock::time_point now) {
    if (records.size() < kMostRecords / 2)
        return;
    std::erase_if(records, [&](const auto& entry) {
        const Record& r = entry.second;
        return r.lockedUntil == Clock::time_point{} ? now - r.notBefore > kMemory
                                                    : now >= r.lockedUntil;
    });
    // Still full: an attack on very many names at once. Start over rather than grow.
    if (records.size() >= kMostRecords)
        records.clear();
}

} // namespace tavo::hostd
