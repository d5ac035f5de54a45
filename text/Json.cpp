#include "Json.h"

#include <cstdio>

namespace tavo::text {

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        const auto u = static_cast<unsigned char>(c);
        // C1 controls may stand raw in JSON, but a script that prints the string would
        // hand them to a terminal. Their second UTF-8 byte is their code point.
        const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0u;
        if (u == 0xC2 && next >= 0x80 && next < 0xA0) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", next);
            out += escaped;
            ++i;
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string JsonArray(const std::vector<std::string>& utf8Items) {
    std::string array = "[";
    for (std::size_t i = 0; i < utf8Items.size(); ++i)
        array += (i ? ", " : "") + JsonString(utf8Items[i]);
    return array + "]";
}

void JsonObject::Add(const std::string& key, const std::string& json) {
    text_ += (text_.empty() ? "{" : ", ") + JsonString(key) + ": " + json;
}

void JsonObject::AddString(const std::string& key, const std::string& utf8) {
    Add(key, JsonString(utf8));
}

} // namespace tavo::text
