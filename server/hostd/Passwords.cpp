#include "Passwords.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace tavo::hostd {
namespace {

void Initialise() {
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw std::runtime_error("libsodium cannot be initialised");
}

} // namespace

std::string HashPassword(std::string_view password) {
    Initialise();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::runtime_error("out of memory while hashing the password");
    return hash;
}

bool VerifyPassword(const std::string& hash, std::string_view password) {
    Initialise();
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void RandomBytes(std::span<std::uint8_t> out) {
    Initialise();
    randombytes_buf(out.data(), out.size());
}

std::size_t Characters(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

const std::string& PasswordToken(const server::UserPasswords& passwords,
                                 ibmi::PasswordScheme scheme) {
    switch (scheme) {
    case ibmi::PasswordScheme::Des:
        return passwords.desToken;
    case ibmi::PasswordScheme::Sha1:
        return passwords.shaToken;
    case ibmi::PasswordScheme::Pbkdf2:
        break;
    }
    return passwords.pbkdf2Token;
}

std::string& PasswordToken(server::UserPasswords& passwords, ibmi::PasswordScheme scheme) {
    return const_cast<std::string&>(PasswordToken(std::as_const(passwords), scheme));
}

int LevelForNewPasswords(server::HostEngine& engine) {
    return engine.ServedPasswordLevel().value_or(kDefaultPasswordLevel);
}

server::UserPasswords MakePasswords(const std::string& name, const std::string& password, int level,
                                    std::string& note) {
    using ibmi::PasswordScheme;
    server::UserPasswords passwords{HashPassword(password), {}, {}, {}};
    note.clear();
    if (level == server::HostEngine::kNoIbmiSignOn)
        return passwords;
    const PasswordScheme scheme = ibmi::SchemeForLevel(level);
    if (!ibmi::Qualifies(scheme, name, password)) {
        note = "this user cannot sign on through the IBM i host servers at password level " +
               std::to_string(level) +
               ": user names there are at most 10 characters from A-Z, 0-9, #, $, @, _, "
               "passwords do not start with '*'" +
               (scheme == PasswordScheme::Des ? ", and at levels 0 and 1 are at most 10 "
                                                "characters from those too."
                                              : ".");
        return passwords;
    }
    const auto bytes = ibmi::MakeToken(scheme, name, password);
    PasswordToken(passwords, scheme).assign(bytes.begin(), bytes.end());
    return passwords;
}

VerifiedPasswords::VerifiedPasswords(std::chrono::seconds keep) : keep_(keep) {
    RandomBytes(key_);
}

std::string VerifiedPasswords::Digest(std::string_view user, const std::string& hash,
                                      std::string_view password) const {
    crypto_generichash_state state;
    crypto_generichash_init(&state, key_.data(), key_.size(), crypto_generichash_BYTES);
    for (std::string_view part : {user, std::string_view(hash), password}) {
        // Each part's length first, so no two different triples run together the same.
        const std::uint64_t length = part.size();
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(&length),
                                  sizeof length);
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(part.data()),
                                  part.size());
    }
    std::string digest(crypto_generichash_BYTES, '\0');
    crypto_generichash_final(&state, reinterpret_cast<unsigned char*>(digest.data()),
                             digest.size());
    return digest;
}

bool VerifiedPasswords::Known(std::string_view user, const std::string& hash,
                              std::string_view password) {
    const auto digest = Digest(user, hash, password);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    const auto it = known_.find(digest);
    if (it == known_.end())
        return false;
    if (now < it->second)
        return true;
    known_.erase(it);
    return false;
}

void VerifiedPasswords::Remember(std::string_view user, const std::string& hash,
                                 std::string_view password) {
    const auto digest = Digest(user, hash, password);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    if (known_.size() >= 10000)
        std::erase_if(known_, [&](const auto& entry) { return entry.second <= now; });
    if (known_.size() < 10000)
        known_[digest] = now + keep_;
}

} // namespace tavo::hostd
