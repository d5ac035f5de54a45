#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tavo::platform {

// Our texts are UTF-8 everywhere; Windows' file names and APIs are UTF-16. A path made
// from a plain std::string would read it in the ANSI code page on Windows.
std::filesystem::path PathOf(std::string_view utf8);
std::string Utf8Of(const std::filesystem::path& path);

#ifdef _WIN32
// Invalid UTF-8 turns into U+FFFD, never into nothing.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
#endif

} // namespace tavo::platform
