#include "Latin1.h"

namespace tavo::hostd {

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char c : latin1) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

std::optional<std::string> Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto u = static_cast<unsigned char>(utf8[i]);
        if (u < 0x80) {
            out += static_cast<char>(u);
            continue;
        }
        // Only U+0080 to U+00FF fit: lead byte C2 or C3, then one continuation byte.
        if ((u != 0xC2 && u != 0xC3) || i + 1 >= utf8.size())
            return std::nullopt;
        const auto next = static_cast<unsigned char>(utf8[++i]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        out += static_cast<char>(((u & 0x1F) << 6) | (next & 0x3F));
    }
    return out;
}

} // namespace tavo::hostd
