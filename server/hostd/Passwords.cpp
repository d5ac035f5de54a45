#include "Passwords.h"

#include <sodium.h>

#include <stdexcept>

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

} // namespace tavo::hostd
