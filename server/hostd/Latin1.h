#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavo::hostd {

// The host keeps Latin-1; terminals, CSV files and JSON speak UTF-8.
std::string Latin1ToUtf8(std::string_view latin1);
// Nullopt when the text is not UTF-8 or holds a character Latin-1 cannot carry.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8);

} // namespace tavo::hostd
