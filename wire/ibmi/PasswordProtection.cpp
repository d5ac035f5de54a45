// Changing a password: the old and new passwords masked with the keystream of each
// scheme's substitutes, on the client's side and on the host's.
#include "PasswordSubstitute.h"

#include <algorithm>
#include <string>

#include "Ccsid37.h"
#include "PasswordText.h"

namespace tavo::ibmi {
namespace {

constexpr std::size_t kUserLength = 10;

// A password's length in a change request is bounded well above anything a host keeps.
constexpr std::size_t kMostProtectedBytes = 1024;

std::size_t BlockSize(PasswordScheme scheme) {
    return SubstituteLength(scheme);
}

// Block `n` of the keystream that masks a password: the substitute for sequence number n.
// Number 1 is the substitute that proves the old password, so masking starts at 2.
Bytes MaskBlock(PasswordScheme scheme, const std::string& user10, const Bytes& token,
                const Seed& serverSeed, const Seed& clientSeed, std::uint64_t n) {
    return passwordtext::SubstituteInSequence(scheme, user10, token, serverSeed, clientSeed, n);
}

// XORs `data` (whole blocks) with the keystream from block `first`; returns the next block.
std::uint64_t Mask(Bytes& data, PasswordScheme scheme, const std::string& user10,
                   const Bytes& token, const Seed& serverSeed, const Seed& clientSeed,
                   std::uint64_t first) {
    const std::size_t size = BlockSize(scheme);
    for (std::size_t at = 0; at < data.size(); at += size, ++first) {
        const Bytes block = MaskBlock(scheme, user10, token, serverSeed, clientSeed, first);
        for (std::size_t i = 0; i < size; ++i)
            data[at + i] ^= block[i];
    }
    return first;
}

// The SHA-1 and PBKDF2 schemes change the password without its trailing blanks.
std::string TrimmedForChange(std::string_view utf8) {
    std::string text(utf8);
    for (;;) {
        if (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
            text.pop_back();
        else if (text.ends_with("\xE3\x80\x80"))
            text.resize(text.size() - 3);
        else
            return text;
    }
}

Bytes ChangeToken(PasswordScheme scheme, std::string_view user, std::string_view password) {
    return MakeToken(scheme, user,
                     scheme == PasswordScheme::Pbkdf2 ? TrimmedForChange(password)
                                                      : std::string(password));
}

// What is masked: at levels 0-1 the EBCDIC password, its 9th and 10th characters (when it
// has them) in a second block of blanks; otherwise its UTF-16, zero-filled to whole blocks.
// `length` gets the bytes of UTF-16 before the filling.
Bytes ChangeForm(PasswordScheme scheme, std::string_view password, std::uint32_t& length) {
    Bytes plain;
    if (scheme == PasswordScheme::Des) {
        const std::string pass = passwordtext::DesPassword(password);
        std::string ebcdic = codepage::ToEbcdic(pass);
        ebcdic.resize(kUserLength, static_cast<char>(codepage::kEbcdicBlank));
        plain.assign(ebcdic.begin(), ebcdic.begin() + 8);
        if (pass.size() > 8) {
            plain.insert(plain.end(), ebcdic.begin() + 8, ebcdic.end());
            plain.resize(16, codepage::kEbcdicBlank);
        }
        length = 0;
        return plain;
    }
    if (scheme == PasswordScheme::Sha1) {
        plain = passwordtext::Sha1Password16(password);
    } else {
        const std::string trimmed = TrimmedForChange(password);
        plain = passwordtext::Pbkdf2Password16(trimmed);
    }
    if (plain.size() > kMostProtectedBytes)
        throw PasswordError("The password is longer than a password change can carry.");
    length = static_cast<std::uint32_t>(plain.size());
    const std::size_t size = BlockSize(scheme);
    plain.resize((plain.size() + size - 1) / size * size, 0);
    return plain;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The password a masked block run holds once unmasked, as UTF-8.
std::string FromChangeForm(PasswordScheme scheme, const Bytes& plain, std::uint32_t length,
                           const char* which) {
    const std::string bad = std::string("The ") + which + " password in the request ";
    if (scheme == PasswordScheme::Des) {
        std::string ebcdic(plain.begin(), plain.begin() + 8);
        if (plain.size() == 16)
            ebcdic.append(plain.begin() + 8, plain.begin() + 10);
        std::string latin1 = codepage::ToLatin1(ebcdic);
        while (!latin1.empty() && latin1.back() == ' ')
            latin1.pop_back();
        // Only name characters qualify at these levels, and they are the same in UTF-8.
        if (latin1.empty() || !std::all_of(latin1.begin(), latin1.end(), passwordtext::IsNameChar))
            throw PasswordError(bad + "holds characters that password levels 0 and 1 do not "
                                      "allow.");
        return latin1;
    }
    if (length == 0 || length % 2 != 0 || length > plain.size())
        throw PasswordError(bad + "gives a length that does not fit it.");
    std::u32string text;
    for (std::size_t i = 0; i < length; i += 2) {
        char32_t unit = static_cast<char32_t>(plain[i] << 8 | plain[i + 1]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < length) {
            const char32_t low = static_cast<char32_t>(plain[i + 2] << 8 | plain[i + 3]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF)
            throw PasswordError(bad + "is not valid UTF-16.");
        text.push_back(unit);
    }
    while (!text.empty() && (text.back() == U' ' || text.back() == U'\0' || text.back() == 0x3000))
        text.pop_back();
    if (text.empty())
        throw PasswordError(bad + "is empty.");
    std::string utf8;
    for (char32_t c : text)
        AppendUtf8(utf8, c);
    return utf8;
}

void CheckShape(PasswordScheme scheme, const Bytes& masked, const char* which) {
    const std::size_t size = BlockSize(scheme);
    const bool fits = scheme == PasswordScheme::Des
                          ? masked.size() == 8 || masked.size() == 16
                          : !masked.empty() && masked.size() % size == 0 &&
                                masked.size() <= kMostProtectedBytes + size;
    if (!fits)
        throw PasswordError(std::string("The protected ") + which + " password is " +
                            std::to_string(masked.size()) +
                            " bytes, which does not fit its password level.");
}

std::uint64_t BlocksOf(PasswordScheme scheme, const Bytes& masked) {
    return masked.size() / BlockSize(scheme);
}

} // namespace

PasswordChange ProtectPasswordChange(PasswordScheme scheme, std::string_view user,
                                     std::string_view oldPassword, std::string_view newPassword,
                                     const Seed& serverSeed, const Seed& clientSeed) {
    const std::string user10 = passwordtext::PaddedUser(user);
    PasswordChange change;
    Bytes oldPlain = ChangeForm(scheme, oldPassword, change.oldLength);
    Bytes newPlain = ChangeForm(scheme, newPassword, change.newLength);
    const Bytes oldToken = ChangeToken(scheme, user, oldPassword);
    const Bytes newToken = ChangeToken(scheme, user, newPassword);
    change.substitute = SubstituteFromToken(scheme, user, oldToken, serverSeed, clientSeed);
    // The new password under the old one's token, then the old under the new one's.
    const std::uint64_t next = Mask(newPlain, scheme, user10, oldToken, serverSeed, clientSeed, 2);
    Mask(oldPlain, scheme, user10, newToken, serverSeed, clientSeed, next);
    change.protectedNew = std::move(newPlain);
    change.protectedOld = std::move(oldPlain);
    return change;
}

std::string UnmaskNewPassword(PasswordScheme scheme, std::string_view user, const Bytes& oldToken,
                              const PasswordChange& change, const Seed& serverSeed,
                              const Seed& clientSeed) {
    const std::string user10 = passwordtext::PaddedUser(user);
    if (oldToken.size() != SubstituteLength(scheme))
        throw PasswordError("The stored password token does not belong to this password level.");
    CheckShape(scheme, change.protectedNew, "new");
    Bytes plain = change.protectedNew;
    Mask(plain, scheme, user10, oldToken, serverSeed, clientSeed, 2);
    return FromChangeForm(scheme, plain, change.newLength, "new");
}

std::string UnmaskOldPassword(PasswordScheme scheme, std::string_view user,
                              std::string_view newPassword, const PasswordChange& change,
                              const Seed& serverSeed, const Seed& clientSeed) {
    const std::string user10 = passwordtext::PaddedUser(user);
    CheckShape(scheme, change.protectedNew, "new");
    CheckShape(scheme, change.protectedOld, "old");
    Bytes plain = change.protectedOld;
    Mask(plain, scheme, user10, ChangeToken(scheme, user, newPassword), serverSeed, clientSeed,
         2 + BlocksOf(scheme, change.protectedNew));
    return FromChangeForm(scheme, plain, change.oldLength, "old");
}

Bytes ChangedPasswordToken(PasswordScheme scheme, std::string_view user,
                           std::string_view password) {
    return ChangeToken(scheme, user, password);
}

} // namespace tavo::ibmi
