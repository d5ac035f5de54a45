#pragma once

// The password substitutes of the IBM i sign-on: what a client sends instead of the
// password, and the password equivalents ("tokens") a server keeps to check them.
// A substitute is a function of the token, the user, and the two seeds of the one
// connection it is sent on, so a substitute seen on the wire cannot be replayed on
// another connection. The tokens themselves are password equivalents: keep them secret.

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace tavo::ibmi {

using Seed = std::array<std::uint8_t, 8>;
using Bytes = std::vector<std::uint8_t>;

// Which substitute a password level asks for: 0-1 DES, 2-3 SHA-1, 4 PBKDF2-HMAC-SHA512.
enum class PasswordScheme { Des, Sha1, Pbkdf2 };
PasswordScheme SchemeForLevel(int passwordLevel);
// The authentication type byte that announces each scheme (0x01, 0x03, 0x07).
std::uint8_t AuthenticationType(PasswordScheme scheme);
std::size_t SubstituteLength(PasswordScheme scheme); // 8, 20, 64

// Why no substitute or token was made: one of the two kinds below.
class SubstituteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A user or password the sign-on cannot carry: the text says which and why.
class PasswordError : public SubstituteError {
  public:
    using SubstituteError::SubstituteError;
};

// The crypto library failed (not initialised, an algorithm it refuses, no memory): the
// input is not to blame.
class CryptoError : public SubstituteError {
  public:
    using SubstituteError::SubstituteError;
};

// User names are 1-10 characters of A-Z, 0-9, #, $, @, _ (any case; upper-cased here).
// Passwords are UTF-8. The DES scheme takes only passwords of at most 10 characters of
// A-Z, 0-9, #, $, @, _ (after the "Q" prefix for a leading digit, and upper-casing);
// the SHA-1 and PBKDF2 schemes take any non-empty password not starting with '*'.
// Every function throws PasswordError when its input does not qualify.

// The password equivalents a server stores.
Bytes MakeToken(PasswordScheme scheme, std::string_view user, std::string_view password);
// Whether `password` can be used at all under `scheme` (DesToken's rules, without throwing).
bool Qualifies(PasswordScheme scheme, std::string_view user, std::string_view password);

// The substitute sent for a token on a connection whose seeds are `serverSeed` and
// `clientSeed`; `token` must have come from MakeToken with the same scheme and user.
Bytes SubstituteFromToken(PasswordScheme scheme, std::string_view user, const Bytes& token,
                          const Seed& serverSeed, const Seed& clientSeed);

// What a client sends: MakeToken, then SubstituteFromToken.
Bytes Substitute(PasswordScheme scheme, std::string_view user, std::string_view password,
                 const Seed& serverSeed, const Seed& clientSeed);

// Constant-time comparison of a received substitute with the expected one.
bool SameSubstitute(const Bytes& received, const Bytes& expected);

// ---- changing a password ----
// A change proves the old password with an ordinary substitute and carries both passwords
// masked with further substitutes of the same connection (sequence numbers 2, 3, ...): the
// new password under the old one's token, which the host keeps, then the old password
// under the new one's token, so the host can check that both belong together. At levels
// 0-1 the passwords go as upper-case EBCDIC; above, as UTF-16 without trailing blanks.
struct PasswordChange {
    Bytes substitute;            // of the old password
    Bytes protectedOld;          // masked with the new password's token
    Bytes protectedNew;          // masked with the old password's token
    std::uint32_t oldLength = 0; // bytes of UTF-16 before the fill (0 at levels 0-1)
    std::uint32_t newLength = 0;
};

// What a client sends; throws PasswordError when either password does not qualify.
PasswordChange ProtectPasswordChange(PasswordScheme scheme, std::string_view user,
                                     std::string_view oldPassword, std::string_view newPassword,
                                     const Seed& serverSeed, const Seed& clientSeed);

// The host's side, once `change.substitute` has proven `oldToken`: the new password
// (UTF-8; at levels 0-1 as the client upper-cased it), then the old one it carried, to be
// checked against the token the host keeps. Both throw PasswordError on masked passwords
// whose size or length does not fit, or that do not unmask to a usable password.
std::string UnmaskNewPassword(PasswordScheme scheme, std::string_view user, const Bytes& oldToken,
                              const PasswordChange& change, const Seed& serverSeed,
                              const Seed& clientSeed);
std::string UnmaskOldPassword(PasswordScheme scheme, std::string_view user,
                              std::string_view newPassword, const PasswordChange& change,
                              const Seed& serverSeed, const Seed& clientSeed);
// The token a changed password is kept as: the SHA-1 and PBKDF2 schemes drop trailing
// blanks before they hash it, as IBM's client does when it changes a password.
Bytes ChangedPasswordToken(PasswordScheme scheme, std::string_view user, std::string_view password);

} // namespace tavo::ibmi
