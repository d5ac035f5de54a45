#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The single-byte EBCDIC code pages an IBM i in the Americas or Western Europe speaks: 37
// (US, Canada), 273 (Germany, Austria), 277 (Denmark, Norway), 278 (Finland, Sweden),
// 280 (Italy), 284 (Spain), 285 (United Kingdom), 297 (France), 500 (international), 871
// (Iceland), and 1140-1149, the same ten with the euro sign. Our own tables, so every
// platform converts alike.
namespace tavo::text {

class EbcdicCodePage {
  public:
    // Nullptr for a CCSID not among these; the caller decides what to fall back on.
    static const EbcdicCodePage* Find(std::uint32_t ccsid);
    // CCSID 37 for one not among these: its letters, digits, blank and most punctuation
    // are where every one of these has them, so a message stays readable.
    static const EbcdicCodePage& FindOr37(std::uint32_t ccsid);
    static std::span<const std::uint32_t> Supported();

    std::uint32_t Ccsid() const { return ccsid_; }
    char32_t CodePoint(std::uint8_t byte) const { return codePoints_[byte]; }
    // Each character Latin-1 cannot carry (the euro sign, U+203E of CCSID 285) becomes
    // '?'.
    std::string ToLatin1(std::span<const std::uint8_t> bytes) const;
    // The byte of a Latin-1 character; nullopt when this code page has none (the
    // currency sign U+00A4 in 1140-1149).
    std::optional<std::uint8_t> ByteOf(char latin1) const;
    // Nullopt when a character has no byte here: for names, where a substitute would name
    // another object.
    std::optional<std::string> FromLatin1(std::string_view latin1) const;
    // The EBCDIC '?' for a character that has no byte here: for texts to show.
    std::string FromLatin1Replacing(std::string_view latin1) const;

    EbcdicCodePage(std::uint32_t ccsid, const char32_t (&codePoints)[256]);

  private:
    static constexpr std::int16_t kNone = -1;
    std::uint32_t ccsid_;
    char32_t codePoints_[256];
    std::int16_t latin1Bytes_[256]; // kNone for a character this code page lacks
};

} // namespace tavo::text
