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

// A user or password the sign-on cannot carry: the text says which and why.
class PasswordError : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
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

} // namespace tavo::ibmi
