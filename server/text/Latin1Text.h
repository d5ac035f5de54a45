#pragma once

#include <optional>
#include <string>
#include <string_view>

// The host and the program's records speak Latin-1; terminals, files, CSV and JSON speak
// UTF-8. Whatever Latin-1 cannot carry is refused with its position, never replaced.
namespace tavo::text {

// Latin-1 bytes of `utf8`, or nullopt with `error` saying what and where.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8, std::string& error);
std::string Latin1ToUtf8(std::string_view latin1);

// A JSON string literal of UTF-8 text.
std::string JsonString(std::string_view utf8);

// Lower-case hex, two digits a byte: how raw records are printed for scripts.
std::string Hex(std::string_view bytes);

} // namespace tavo::text
