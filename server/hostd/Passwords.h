#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

namespace tavo::hostd {

// Salted, memory-hard hashes in libsodium's self-describing string form.
std::string HashPassword(std::string_view password);
bool VerifyPassword(const std::string& hash, std::string_view password);
// Unpredictable bytes, for the seeds of the IBM i sign-on.
void RandomBytes(std::span<std::uint8_t> out);

// Passwords that were verified lately, in memory only, so a client that signs on again
// and again with the right password costs microseconds, while a wrong one always pays
// the whole hash. Kept as keyed digests of user, stored hash and password; a new
// password (a new stored hash) never matches an old entry.
class VerifiedPasswords {
  public:
    explicit VerifiedPasswords(std::chrono::seconds keep = std::chrono::minutes(5));
    bool Known(std::string_view user, const std::string& hash, std::string_view password);
    void Remember(std::string_view user, const std::string& hash, std::string_view password);

  private:
    std::string Digest(std::string_view user, const std::string& hash,
                       std::string_view password) const;

    std::chrono::seconds keep_;
    std::array<std::uint8_t, 32> key_{};
    std::mutex mutex_;
    std::map<std::string, std::chrono::steady_clock::time_point> known_;
};

} // namespace tavo::hostd
