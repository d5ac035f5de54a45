#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavo::hostd {

// Salted, memory-hard hashes in libsodium's self-describing string form.
std::string HashPassword(std::string_view password);
bool VerifyPassword(const std::string& hash, std::string_view password);
// Unpredictable bytes, for the seeds of the IBM i sign-on.
void RandomBytes(std::span<std::uint8_t> out);

} // namespace tavo::hostd
