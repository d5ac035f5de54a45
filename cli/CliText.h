#pragma once

#include <string>
#include <string_view>

#include "Json.h"
#include "Latin1Text.h"

// Text at the edges of tavo400-send. The command line, files and terminals speak UTF-8;
// the host and the program's records speak Latin-1.
namespace tavo::cli {

using text::CodePointName;
using text::EscapeControls;
using text::Hex;
using text::JsonArray;
using text::JsonObject;
using text::JsonString;
using text::Latin1ToUtf8;
using text::Utf8ToFieldText;

// Sixteen bytes a line: offset, the bytes in hex, and `shown` (the same bytes before
// conversion, Latin-1) as readable text, a dot for what does not print.
std::string HexDump(std::string_view bytes, std::string_view shown);

} // namespace tavo::cli
