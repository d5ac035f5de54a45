#pragma once

// What every datastream of the codec is built and checked with; not for its users.

#include <string>

#include "Ccsid37.h"
#include "Datastream.h"

namespace tavo::ibmi::codec {

inline constexpr std::uint8_t kBlank = codepage::kEbcdicBlank;

Header Make(std::uint16_t server, std::uint16_t id, std::uint32_t correlation,
            std::uint16_t templateLength, std::uint8_t headerId0 = 0);
// The header of a datastream that must be `id`, checked against the bytes it came in.
Header Expect(ByteView data, std::uint16_t id, std::size_t minimum = kHeaderLength);
Bytes Copy(ByteView v);
std::string TrimRight(std::string s);
std::string ObjectNameAt(Reader& in);

} // namespace tavo::ibmi::codec
