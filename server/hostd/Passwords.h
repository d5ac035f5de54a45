#pragma once

#include <string>
#include <string_view>

namespace tavo::hostd {

// Salted, memory-hard hashes in libsodium's self-describing string form.
std::string HashPassword(std::string_view password);
bool VerifyPassword(const std::string& hash, std::string_view password);

} // namespace tavo::hostd
