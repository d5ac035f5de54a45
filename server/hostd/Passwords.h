#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "HostEngine.h"
#include "PasswordSubstitute.h"

namespace tavo::hostd {

// Salted, memory-hard hashes in libsodium's self-describing string form.
std::string HashPassword(std::string_view password);
bool VerifyPassword(const std::string& hash, std::string_view password);
// Unpredictable bytes, for the seeds of the IBM i sign-on.
void RandomBytes(std::span<std::uint8_t> out);

// The shortest password a user may be given, in characters.
inline constexpr std::size_t kMinPasswordLength = 8;
// Characters of UTF-8 text.
std::size_t Characters(std::string_view utf8);

const std::string& PasswordToken(const server::UserPasswords& passwords,
                                 ibmi::PasswordScheme scheme);
std::string& PasswordToken(server::UserPasswords& passwords, ibmi::PasswordScheme scheme);

// The IBM i password level whose token a new password gets: the one the daemon serving
// `engine`'s file recorded at its start, or serve's default before any daemon did.
inline constexpr int kDefaultPasswordLevel = 3;
int LevelForNewPasswords(server::HostEngine& engine);

// What a user signs on with under a new password: its hash, for our own protocol, and the
// IBM i token of `level` (none for HostEngine::kNoIbmiSignOn) if the password qualifies.
// A token signs on as the user to whoever reads it, so no other level's is kept.
// `note` says when the password cannot serve `level` (empty: it can).
server::UserPasswords MakePasswords(const std::string& name, const std::string& password, int level,
                                    std::string& note);

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
