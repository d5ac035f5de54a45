#include "CliText.h"

#include <cstdio>

namespace tavo::cli {

std::string HexDump(std::string_view bytes, std::string_view shown) {
    constexpr std::size_t kPerLine = 16;
    std::string dump;
    for (std::size_t line = 0; line < bytes.size(); line += kPerLine) {
        char offset[32];
        std::snprintf(offset, sizeof offset, "%04zu ", line);
        dump += offset;
        std::string text;
        for (std::size_t i = line; i < line + kPerLine; ++i) {
            if (i < bytes.size()) {
                dump += ' ';
                dump += Hex(bytes.substr(i, 1));
            } else {
                dump += "   ";
            }
            if (i < shown.size()) {
                const auto u = static_cast<unsigned char>(shown[i]);
                text += (u >= 0x20 && u < 0x7F) || u >= 0xA0 ? shown[i] : '.';
            }
        }
        dump += "  |" + Latin1ToUtf8(text) + "|\n";
    }
    return dump;
}

} // namespace tavo::cli
