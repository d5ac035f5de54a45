#pragma once

// What the substitutes and the change of a password share: the rules for user names and
// passwords of each scheme, and the substitute for any sequence number.

#include <cstdint>
#include <string>
#include <string_view>

#include "PasswordSubstitute.h"

namespace tavo::ibmi::passwordtext {

bool IsNameChar(char c);
// Upper-cased and blank-padded to 10; throws PasswordError for a name the host refuses.
std::string PaddedUser(std::string_view user);
// The password as the DES scheme takes it (upper case, at most 10); throws PasswordError.
std::string DesPassword(std::string_view password);
// The password in UTF-16BE as the SHA-1 and PBKDF2 schemes take it; throws PasswordError.
Bytes Sha1Password16(std::string_view password);
Bytes Pbkdf2Password16(std::string_view password);
// The substitute of `scheme` for sequence number `n` (a connection's own is 1).
Bytes SubstituteInSequence(PasswordScheme scheme, const std::string& user10, const Bytes& token,
                           const Seed& serverSeed, const Seed& clientSeed, std::uint64_t n);

} // namespace tavo::ibmi::passwordtext
