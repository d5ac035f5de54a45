#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// Bytes written as hex digits, in groups as a layout is read ("00000034 0000 E009 ...").
inline std::vector<std::uint8_t> Hex(std::string_view hex) {
    std::string digits;
    for (char c : hex)
        if (c != ' ')
            digits += c;
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

} // namespace testsupport
