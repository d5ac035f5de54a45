#include "SignOnCheck.h"

#include <array>
#include <chrono>

#include "PasswordSubstitute.h"
#include "Passwords.h"

namespace tavo::hostd {
namespace {

using ibmi::PasswordScheme;

const std::string& StoredToken(const server::UserPasswords& passwords, PasswordScheme scheme) {
    switch (scheme) {
    case PasswordScheme::Des:
        return passwords.desToken;
    case PasswordScheme::Sha1:
        return passwords.shaToken;
    case PasswordScheme::Pbkdf2:
        break;
    }
    return passwords.pbkdf2Token;
}

// Stands in for the token of a user who has none, so that the check costs the same.
const ibmi::Bytes& DummyToken(PasswordScheme scheme) {
    static const std::array<ibmi::Bytes, 3> dummies = [] {
        std::array<ibmi::Bytes, 3> tokens;
        for (auto s : {PasswordScheme::Des, PasswordScheme::Sha1, PasswordScheme::Pbkdf2}) {
            auto& token = tokens[static_cast<std::size_t>(s)];
            token.resize(ibmi::SubstituteLength(s));
            RandomBytes(token);
        }
        return tokens;
    }();
    return dummies[static_cast<std::size_t>(scheme)];
}

SignOnVerdict Refused(std::uint32_t code, std::string reason) {
    return {server::Status::Fail(code, {}, std::move(reason))};
}

} // namespace

SignOnVerdict CheckSignOn(server::HostEngine& engine, int passwordLevel,
                          const SignOnAttempt& attempt) {
    const PasswordScheme scheme = ibmi::SchemeForLevel(passwordLevel);
    const std::uint8_t wanted = ibmi::AuthenticationType(scheme);
    const auto account = engine.User(attempt.user);
    const std::string* stored = account ? &StoredToken(account->passwords, scheme) : nullptr;
    const bool hasToken = stored && !stored->empty();
    const ibmi::Bytes token =
        hasToken ? ibmi::Bytes(stored->begin(), stored->end()) : DummyToken(scheme);
    ibmi::Bytes expected;
    try {
        expected = ibmi::SubstituteFromToken(scheme, attempt.user, token, attempt.serverSeed,
                                             attempt.clientSeed);
    } catch (const ibmi::PasswordError&) {
        // a user name the sign-on cannot carry: no such user can exist
    }
    const bool same = !expected.empty() && ibmi::SameSubstitute(attempt.substitute, expected);
    const std::string level = std::to_string(passwordLevel);
    if (!account)
        return Refused(ibmi::kSignonPasswordIncorrect, "unknown user");
    if (!hasToken)
        return Refused(ibmi::kSignonPasswordIncorrect,
                       "no password equivalent for password level " + level +
                           " (set the password again with: tavo400-hostd user add)");
    if (attempt.authenticationType != wanted)
        return Refused(ibmi::kSignonPasswordIncorrect,
                       "authentication type " + std::to_string(attempt.authenticationType) +
                           " where password level " + level + " wants " + std::to_string(wanted));
    if (!same)
        return Refused(ibmi::kSignonPasswordIncorrect, "wrong password");
    if (account->disabled)
        return Refused(ibmi::kSignonUserDisabled, "user disabled");
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    if (account->ExpiredAt(now))
        return Refused(ibmi::kSignonPasswordExpired, "password expired");
    return {server::Status::Ok("signed on"), account->passwordExpires};
}

} // namespace tavo::hostd
