#include "Latin1Text.h"

#include <cstdio>

namespace tavo::text {

namespace {

struct Decoded {
    unsigned long code = 0;
    std::size_t length = 1;
    bool valid = false;
};

// The character that starts at `utf8[i]`.
Decoded DecodeAt(std::string_view utf8, std::size_t i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    Decoded d;
    d.length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    d.code = lead < 0x80    ? lead
             : lead >= 0xF0 ? lead & 0x07u
             : lead >= 0xE0 ? lead & 0x0Fu
                            : lead & 0x1Fu;
    d.valid = (lead < 0x80 || lead >= 0xC2) && lead <= 0xF4 && i + d.length <= utf8.size();
    for (std::size_t k = 1; d.valid && k < d.length; ++k) {
        const auto next = static_cast<unsigned char>(utf8[i + k]);
        d.valid = (next & 0xC0) == 0x80;
        d.code = (d.code << 6) | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8 either.
    if (d.valid && ((d.length == 3 && d.code < 0x800) || (d.length == 4 && d.code < 0x10000) ||
                    (d.code >= 0xD800 && d.code <= 0xDFFF) || d.code > 0x10FFFF))
        d.valid = false;
    return d;
}

std::string NotUtf8(std::size_t byte) {
    return "is not valid UTF-8 (byte " + std::to_string(byte + 1) +
           "); convert it first, for example with iconv -f LATIN1 -t UTF-8";
}

// Calls `each(decoded, offset)` for every character in order, until it returns false. A
// byte that starts no UTF-8 character comes as one invalid character of its own.
template <class Each> void ForEachCharacter(std::string_view utf8, Each each) {
    for (std::size_t i = 0; i < utf8.size();) {
        auto d = DecodeAt(utf8, i);
        if (!d.valid)
            d.length = 1;
        if (!each(d, i))
            return;
        i += d.length;
    }
}

bool IsLineBreak(unsigned long code) {
    return code == 0x85 || code == 0x2028 || code == 0x2029;
}

} // namespace

std::string CodePointName(unsigned long code) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04lX", code);
    return name;
}

std::optional<std::string> Utf8ToLatin1(std::string_view utf8, std::string& error) {
    std::string latin1;
    latin1.reserve(utf8.size());
    std::size_t character = 0;
    bool ok = true;
    ForEachCharacter(utf8, [&](const Decoded& d, std::size_t at) {
        ++character;
        if (!d.valid) {
            error = NotUtf8(at);
        } else if (d.code > 0xFF) {
            error = "holds \"" + std::string(utf8.substr(at, d.length)) + "\" (" +
                    CodePointName(d.code) + ") at character " + std::to_string(character) +
                    ", which the host cannot take: it takes Latin-1 (ISO 8859-1) characters only";
        } else {
            latin1 += static_cast<char>(d.code);
            return true;
        }
        return ok = false;
    });
    return ok ? std::optional(std::move(latin1)) : std::nullopt;
}

std::optional<FieldText> Utf8ToFieldText(std::string_view utf8, std::string& error) {
    FieldText field;
    field.latin1.reserve(utf8.size());
    std::size_t character = 0;
    bool ok = true;
    ForEachCharacter(utf8, [&](const Decoded& d, std::size_t at) {
        ++character;
        if (!d.valid) {
            error = NotUtf8(at);
            return ok = false;
        }
        if (IsLineBreak(d.code)) {
            field.latin1 += "\r\n";
        } else if (d.code > 0xFF) {
            if (field.replaced++ == 0) {
                field.firstAt = character;
                field.firstCode = d.code;
            }
            field.latin1 += '?';
        } else {
            field.latin1 += static_cast<char>(d.code);
        }
        return true;
    });
    return ok ? std::optional(std::move(field)) : std::nullopt;
}

std::string Utf8ToLatin1Shown(std::string_view utf8) {
    std::string latin1;
    latin1.reserve(utf8.size());
    ForEachCharacter(utf8, [&](const Decoded& d, std::size_t at) {
        latin1 += !d.valid ? utf8[at] : d.code > 0xFF ? '?' : static_cast<char>(d.code);
        return true;
    });
    return latin1;
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string utf8;
    utf8.reserve(latin1.size());
    for (char c : latin1) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (u >> 6));
            utf8 += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return utf8;
}

unsigned char UpperLatin1(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<unsigned char>(c - 0x20);
    return c;
}

unsigned char LowerLatin1(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<unsigned char>(c + 0x20);
    return c;
}

std::string DisplayName(std::string_view latin1) {
    std::string shown(latin1);
    for (std::size_t i = 1; i < shown.size(); ++i)
        shown[i] = static_cast<char>(LowerLatin1(static_cast<unsigned char>(shown[i])));
    return shown;
}

void FoldName(char* latin1, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        latin1[i] = static_cast<char>(UpperLatin1(static_cast<unsigned char>(latin1[i])));
}

std::string FoldName(std::string_view latin1) {
    std::string folded(latin1);
    FoldName(folded.data(), folded.size());
    return folded;
}

std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        out += kDigits[u >> 4];
        out += kDigits[u & 0x0F];
    }
    return out;
}

std::string EscapeControls(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    ForEachCharacter(utf8, [&](const Decoded& d, std::size_t at) {
        const bool control = d.code < 0x20 || (d.code >= 0x7F && d.code < 0xA0);
        if (d.valid && !control) {
            out.append(utf8, at, d.length);
            return true;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02lx",
                      d.valid ? d.code : static_cast<unsigned char>(utf8[at]));
        out += escaped;
        return true;
    });
    return out;
}

} // namespace tavo::text
