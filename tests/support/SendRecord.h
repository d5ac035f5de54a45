#pragma once

// The send record as the host program receives it, built in one place for every test.

#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

inline std::string Pad(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

// The 1512-byte send record before conversion: the count, the names in ten-character
// slots (a client sends them upper-cased), the text, the kind and the seven mode flags.
inline std::string SendRecord(const std::vector<std::string>& names, const std::string& text,
                              const std::string& kind = "*RCP",
                              const std::string& modes = "YYYYYYY") {
    char count[3];
    std::snprintf(count, sizeof count, "%02zu", names.size());
    std::string area;
    for (const auto& name : names)
        area += Pad(name, 10);
    return count + Pad(area, 500) + Pad(text, 999) + kind + Pad(modes, 7);
}

} // namespace testsupport
