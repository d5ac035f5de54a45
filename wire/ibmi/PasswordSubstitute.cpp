#include "PasswordSubstitute.h"

#include "Ccsid37.h"

#include <gcrypt.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>

namespace tavo::ibmi {
namespace {

using Block = std::array<std::uint8_t, 8>;

// A connection carries one substitute, the first of its sequence.
constexpr Block kSequence = {0, 0, 0, 0, 0, 0, 0, 1};
constexpr std::size_t kNameLength = 10;
constexpr std::uint8_t kEbcdicBlank = codepage::kEbcdicBlank;
constexpr unsigned kPbkdf2Iterations = 10022;
constexpr std::size_t kSha1Size = 20;
constexpr std::size_t kSha512Size = 64;

[[noreturn]] void CryptoFailed(const char* what, gcry_error_t error) {
    throw CryptoError(std::string("The crypto library (libgcrypt) could not ") + what + ": " +
                      gcry_strerror(error) + ".");
}

void Check(const char* what, gcry_error_t error) {
    if (error)
        CryptoFailed(what, error);
}

// libgcrypt must be checked and set up once before its first use; a failed check is
// tried again on the next call. No secure memory is asked for, so none needs setting up:
// the secrets live in ordinary memory, and libgcrypt wipes its handles when they close.
void ReadyCrypto() {
    static const bool ready = [] {
        if (!gcry_check_version(GCRYPT_VERSION))
            throw CryptoError(std::string("The crypto library (libgcrypt) is version ") +
                              gcry_check_version(nullptr) +
                              ", older than the " GCRYPT_VERSION " this program was built with.");
        if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P))
            Check("finish its initialisation", gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0));
        return true;
    }();
    (void)ready;
}

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '#' ||
           c == '$' || c == '@' || c == '_';
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Upper-cased and blank-padded to 10, as every scheme hashes or enciphers it.
std::string PaddedUser(std::string_view user) {
    if (user.empty())
        throw PasswordError("The user name is empty.");
    if (!std::all_of(user.begin(), user.end(), IsNameChar))
        throw PasswordError("The user name may contain only the letters A-Z, the digits 0-9 "
                            "and the characters #, $, @ and _.");
    if (user.size() > kNameLength)
        throw PasswordError("The user name is longer than 10 characters.");
    std::string padded(kNameLength, ' ');
    std::transform(user.begin(), user.end(), padded.begin(), Upper);
    return padded;
}

// The host keeps names beginning with '*' for special values such as *NONE.
void RefuseEmptyOrSpecial(std::string_view password) {
    if (password.empty())
        throw PasswordError("The password is empty.");
    if (password.front() == '*')
        throw PasswordError("The password starts with '*', which the host reserves for "
                            "special values.");
}

std::string DesPassword(std::string_view password) {
    RefuseEmptyOrSpecial(password);
    if (!std::all_of(password.begin(), password.end(), IsNameChar))
        throw PasswordError("The password contains characters other than the letters A-Z, the "
                            "digits 0-9 and #, $, @ and _, which password levels 0 and 1 cannot "
                            "carry.");
    // Level 0-1 passwords are object names, and those cannot start with a digit.
    std::string upper = password.front() >= '0' && password.front() <= '9' ? "Q" : "";
    std::transform(password.begin(), password.end(), std::back_inserter(upper), Upper);
    if (password.size() > kNameLength)
        throw PasswordError("The password is longer than 10 characters, which password levels "
                            "0 and 1 cannot carry.");
    if (upper.size() > kNameLength)
        throw PasswordError("The password starts with a digit and so gets a 'Q' in front, "
                            "which makes it longer than the 10 characters password levels 0 "
                            "and 1 can carry.");
    return upper;
}

[[noreturn]] void NotUtf8() {
    throw PasswordError("The password is not valid UTF-8 text.");
}

// Strict: overlong forms, surrogates and code points past U+10FFFF are refused, so that two
// spellings of one password cannot give two tokens.
std::u32string DecodeUtf8(std::string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        // Continuation bytes, 0xF8 and above cannot start a character: 4 marks them.
        const std::size_t extra = lead < 0x80   ? 0
                                  : lead < 0xC0 ? 4
                                  : lead < 0xE0 ? 1
                                  : lead < 0xF0 ? 2
                                  : lead < 0xF8 ? 3
                                                : 4;
        if (extra > 3 || text.size() - i <= extra)
            NotUtf8();
        static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                NotUtf8();
            c = c << 6 | (next & 0x3F);
        }
        if (c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            NotUtf8();
        out.push_back(c);
        i += extra + 1;
    }
    return out;
}

std::u16string ToUtf16(std::u32string_view text) {
    std::u16string out;
    for (char32_t c : text) {
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
    }
    return out;
}

std::u16string Widen(std::string_view ascii) {
    return {ascii.begin(), ascii.end()};
}

void AppendUtf16Be(Bytes& out, std::u16string_view text) {
    for (char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
        out.push_back(static_cast<std::uint8_t>(unit));
    }
}

Bytes Utf16Be(std::u16string_view text) {
    Bytes out;
    AppendUtf16Be(out, text);
    return out;
}

std::u16string Sha1Password(std::string_view password) {
    RefuseEmptyOrSpecial(password);
    std::u32string text = DecodeUtf8(password);
    while (!text.empty() && (text.back() == U' ' || text.back() == U'\0' || text.back() == 0x3000))
        text.pop_back();
    if (text.empty())
        throw PasswordError("The password is empty.");
    return ToUtf16(text);
}

std::u16string Pbkdf2Password(std::string_view password) {
    RefuseEmptyOrSpecial(password);
    return ToUtf16(DecodeUtf8(password));
}

// One DES key in ECB mode, for as many blocks as a token or substitute needs.
class Des {
  public:
    explicit Des(const std::uint8_t* key) {
        ReadyCrypto();
        gcry_cipher_hd_t handle = nullptr;
        Check("open DES", gcry_cipher_open(&handle, GCRY_CIPHER_DES, GCRY_CIPHER_MODE_ECB, 0));
        handle_.reset(handle);
        // DES ignores the parity bits, which these keys do not set. The host's scheme
        // enciphers with weak keys ("NNNNNNNN" makes one) as with any other, where libgcrypt
        // would refuse them; once allowed, a weak key is set and still reported.
        Check("allow weak DES keys",
              gcry_cipher_ctl(handle, GCRYCTL_SET_ALLOW_WEAK_KEY, nullptr, 1));
        if (const gcry_error_t set = gcry_cipher_setkey(handle, key, 8);
            gcry_err_code(set) != GPG_ERR_WEAK_KEY)
            Check("set a DES key", set);
    }

    Block Encrypt(const Block& data) const {
        Block out;
        Check("encipher with DES",
              gcry_cipher_encrypt(handle_.get(), out.data(), out.size(), data.data(), data.size()));
        return out;
    }

  private:
    struct Close {
        void operator()(gcry_cipher_hd_t handle) const { gcry_cipher_close(handle); }
    };
    std::unique_ptr<gcry_cipher_handle, Close> handle_;
};

// A message digest fed piece by piece.
class Hash {
  public:
    explicit Hash(int algorithm) : algorithm_(algorithm) {
        ReadyCrypto();
        gcry_md_hd_t handle = nullptr;
        Check("open a message digest", gcry_md_open(&handle, algorithm, 0));
        handle_.reset(handle);
    }

    Hash& Add(const std::uint8_t* data, std::size_t size) {
        gcry_md_write(handle_.get(), data, size);
        return *this;
    }
    Hash& Add(const Bytes& data) { return Add(data.data(), data.size()); }
    Hash& Add(const Block& data) { return Add(data.data(), data.size()); }

    Bytes Digest() {
        const unsigned char* digest = gcry_md_read(handle_.get(), algorithm_);
        if (!digest)
            CryptoFailed("finish a message digest", GPG_ERR_DIGEST_ALGO);
        return {digest, digest + gcry_md_get_algo_dlen(algorithm_)};
    }

  private:
    struct Close {
        void operator()(gcry_md_hd_t handle) const { gcry_md_close(handle); }
    };
    int algorithm_;
    std::unique_ptr<gcry_md_handle, Close> handle_;
};

Block Xor(Block a, const Block& b) {
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] ^= b[i];
    return a;
}

// Up to 8 EBCDIC password bytes, blank-padded, scrambled and shifted into a DES key.
Block DesKey(std::string_view ebcdic) {
    Block key;
    key.fill(kEbcdicBlank);
    std::copy_n(ebcdic.begin(), std::min(ebcdic.size(), key.size()), key.begin());
    for (auto& b : key)
        b ^= 0x55;
    for (std::size_t i = 0; i + 1 < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(key[i] << 1 | key[i + 1] >> 7);
    key.back() = static_cast<std::uint8_t>(key.back() << 1);
    return key;
}

Block FirstEight(std::string_view s) {
    Block b;
    std::copy_n(s.begin(), b.size(), b.begin());
    return b;
}

// The 8-byte DES data block for a user: names over 8 characters fold their last two
// bytes, two bits at a time, into the top bits of the first eight.
Block FoldedUser(std::string_view ebcdic10, std::size_t nameLength) {
    Block u = FirstEight(ebcdic10);
    if (nameLength > 8) {
        const auto ninth = static_cast<std::uint8_t>(ebcdic10[8]);
        const auto tenth = static_cast<std::uint8_t>(ebcdic10[9]);
        for (int pair = 0; pair < 4; ++pair) {
            u[pair] ^= static_cast<std::uint8_t>(ninth << (2 * pair)) & 0xC0;
            u[4 + pair] ^= static_cast<std::uint8_t>(tenth << (2 * pair)) & 0xC0;
        }
    }
    return u;
}

Bytes DesToken(std::string_view user, std::string_view password) {
    const std::string user10 = codepage::ToEbcdic(PaddedUser(user));
    const std::string pass = DesPassword(password);
    std::string pass10 = codepage::ToEbcdic(pass);
    pass10.resize(kNameLength, static_cast<char>(kEbcdicBlank));

    const Block data = FoldedUser(user10, user.size());
    Block token = Des(DesKey(std::string_view(pass10).substr(0, 8)).data()).Encrypt(data);
    if (pass.size() > 8)
        token = Xor(token, Des(DesKey(std::string_view(pass10).substr(8)).data()).Encrypt(data));
    return {token.begin(), token.end()};
}

Block Add(const Block& a, const Block& b) {
    Block sum;
    unsigned carry = 0;
    for (std::size_t i = sum.size(); i-- > 0;) {
        const unsigned s = a[i] + b[i] + carry;
        sum[i] = static_cast<std::uint8_t>(s);
        carry = s >> 8;
    }
    return sum;
}

Bytes DesSubstitute(std::string_view user10, const Bytes& token, const Seed& serverSeed,
                    const Seed& clientSeed, const Block& sequence = kSequence) {
    const Des des(token.data());
    const Block r = Add(serverSeed, sequence);
    const Block e1 = des.Encrypt(r);
    const Block e2 = des.Encrypt(Xor(e1, clientSeed));
    const Block e3 = des.Encrypt(Xor(Xor(FirstEight(user10), r), e2));
    Block tail;
    tail.fill(kEbcdicBlank);
    tail[0] = static_cast<std::uint8_t>(user10[8]);
    tail[1] = static_cast<std::uint8_t>(user10[9]);
    const Block e4 = des.Encrypt(Xor(Xor(tail, r), e3));
    const Block sub = des.Encrypt(Xor(sequence, e4));
    return {sub.begin(), sub.end()};
}

Bytes Sha1Token(const std::string& user10, std::string_view password) {
    Bytes input = Utf16Be(Widen(user10));
    AppendUtf16Be(input, Sha1Password(password));
    return Hash(GCRY_MD_SHA1).Add(input).Digest();
}

// The salt takes the last four UTF-16 units, as the Toolbox does with its char[]: a
// surrogate pair cut in half leaves a lone surrogate, which Java's encoder writes as U+FFFD.
Bytes Pbkdf2Salt(const std::string& user10, std::u16string_view password) {
    std::u16string text = Widen(user10);
    const std::u16string_view last =
        password.substr(password.size() - std::min<std::size_t>(password.size(), 4));
    text += last;
    if (!last.empty() && last.front() >= 0xDC00 && last.front() <= 0xDFFF)
        text[kNameLength] = 0xFFFD;
    text.append(4 - last.size(), u' ');
    return Hash(GCRY_MD_SHA256).Add(Utf16Be(text)).Digest();
}

Bytes Pbkdf2Token(const std::string& user10, std::string_view password) {
    const Bytes salt = Pbkdf2Salt(user10, Pbkdf2Password(password));
    Bytes token(kSha512Size);
    ReadyCrypto();
    Check("derive a PBKDF2 key",
          gcry_kdf_derive(password.data(), password.size(), GCRY_KDF_PBKDF2, GCRY_MD_SHA512,
                          salt.data(), salt.size(), kPbkdf2Iterations, token.size(), token.data()));
    return token;
}

// SHA-1 and SHA-512 substitutes hash the same fields in the same order.
Bytes HashSubstitute(PasswordScheme scheme, const std::string& user10, const Bytes& token,
                     const Seed& serverSeed, const Seed& clientSeed,
                     const Block& sequence = kSequence) {
    return Hash(scheme == PasswordScheme::Sha1 ? GCRY_MD_SHA1 : GCRY_MD_SHA512)
        .Add(token)
        .Add(serverSeed)
        .Add(clientSeed)
        .Add(Utf16Be(Widen(user10)))
        .Add(sequence)
        .Digest();
}

} // namespace

namespace passwordtext {

bool IsNameChar(char c) {
    return ibmi::IsNameChar(c);
}
std::string PaddedUser(std::string_view user) {
    return ibmi::PaddedUser(user);
}
std::string DesPassword(std::string_view password) {
    return ibmi::DesPassword(password);
}
Bytes Sha1Password16(std::string_view password) {
    return Utf16Be(Sha1Password(password));
}
Bytes Pbkdf2Password16(std::string_view password) {
    return Utf16Be(Pbkdf2Password(password));
}

Bytes SubstituteInSequence(PasswordScheme scheme, const std::string& user10, const Bytes& token,
                           const Seed& serverSeed, const Seed& clientSeed, std::uint64_t n) {
    Block sequence;
    for (std::size_t i = 0; i < sequence.size(); ++i)
        sequence[i] = static_cast<std::uint8_t>(n >> (8 * (sequence.size() - 1 - i)));
    switch (scheme) {
    case PasswordScheme::Des:
        return DesSubstitute(codepage::ToEbcdic(user10), token, serverSeed, clientSeed, sequence);
    case PasswordScheme::Sha1:
    case PasswordScheme::Pbkdf2:
        break;
    }
    return HashSubstitute(scheme, user10, token, serverSeed, clientSeed, sequence);
}

} // namespace passwordtext

PasswordScheme SchemeForLevel(int passwordLevel) {
    switch (passwordLevel) {
    case 0:
    case 1:
        return PasswordScheme::Des;
    case 2:
    case 3:
        return PasswordScheme::Sha1;
    case 4:
        return PasswordScheme::Pbkdf2;
    }
    throw PasswordError("The host asks for password level " + std::to_string(passwordLevel) +
                        ", which this program does not support.");
}

std::uint8_t AuthenticationType(PasswordScheme scheme) {
    switch (scheme) {
    case PasswordScheme::Des:
        return 0x01;
    case PasswordScheme::Sha1:
        return 0x03;
    case PasswordScheme::Pbkdf2:
        return 0x07;
    }
    return 0;
}

std::size_t SubstituteLength(PasswordScheme scheme) {
    switch (scheme) {
    case PasswordScheme::Des:
        return 8;
    case PasswordScheme::Sha1:
        return kSha1Size;
    case PasswordScheme::Pbkdf2:
        return kSha512Size;
    }
    return 0;
}

Bytes MakeToken(PasswordScheme scheme, std::string_view user, std::string_view password) {
    switch (scheme) {
    case PasswordScheme::Des:
        return DesToken(user, password);
    case PasswordScheme::Sha1:
        return Sha1Token(PaddedUser(user), password);
    case PasswordScheme::Pbkdf2:
        return Pbkdf2Token(PaddedUser(user), password);
    }
    return {};
}

bool Qualifies(PasswordScheme scheme, std::string_view user, std::string_view password) {
    // Only the checks: a PBKDF2 token is ten thousand HMAC rounds to throw away.
    try {
        PaddedUser(user);
        if (scheme == PasswordScheme::Des)
            DesPassword(password);
        else if (scheme == PasswordScheme::Sha1)
            Sha1Password(password);
        else
            Pbkdf2Password(password);
        return true;
    } catch (const PasswordError&) {
        return false;
    }
}

Bytes SubstituteFromToken(PasswordScheme scheme, std::string_view user, const Bytes& token,
                          const Seed& serverSeed, const Seed& clientSeed) {
    const std::string user10 = PaddedUser(user);
    // Tokens and substitutes have the same length in every scheme.
    if (token.size() != SubstituteLength(scheme))
        throw PasswordError("The stored password token does not belong to this password level.");
    switch (scheme) {
    case PasswordScheme::Des:
        return DesSubstitute(codepage::ToEbcdic(user10), token, serverSeed, clientSeed);
    case PasswordScheme::Sha1:
    case PasswordScheme::Pbkdf2:
        return HashSubstitute(scheme, user10, token, serverSeed, clientSeed);
    }
    return {};
}

Bytes Substitute(PasswordScheme scheme, std::string_view user, std::string_view password,
                 const Seed& serverSeed, const Seed& clientSeed) {
    return SubstituteFromToken(scheme, user, MakeToken(scheme, user, password), serverSeed,
                               clientSeed);
}

bool SameSubstitute(const Bytes& received, const Bytes& expected) {
    // The length is public (it follows from the level); only the contents must not leak,
    // so every byte is looked at whatever the first difference.
    if (received.size() != expected.size())
        return false;
    volatile std::uint8_t difference = 0;
    for (std::size_t i = 0; i < expected.size(); ++i)
        difference = static_cast<std::uint8_t>(difference | (received[i] ^ expected[i]));
    return difference == 0;
}

} // namespace tavo::ibmi
