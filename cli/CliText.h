#pragma once

#include <optional>
#include <string>
#include <string_view>

// Text at the edges of tavo400-send. The command line, files and terminals speak UTF-8;
// the host and the program's records speak Latin-1. Whatever Latin-1 cannot carry is
// refused with its position, never replaced.
namespace tavo::cli {

// Latin-1 bytes of `utf8`, or nullopt with `error` saying what and where.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8, std::string& error);
std::string Latin1ToUtf8(std::string_view latin1);

// A JSON string literal of UTF-8 text.
std::string JsonString(std::string_view utf8);

// Lower-case hex, two digits a byte, as the host daemon's outbox prints raw records.
std::string Hex(std::string_view bytes);

// Sixteen bytes a line: offset, the bytes in hex, and `shown` (the same bytes before
// conversion, Latin-1) as readable text, a dot for what does not print.
std::string HexDump(std::string_view bytes, std::string_view shown);

} // namespace tavo::cli
