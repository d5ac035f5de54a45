#include "PasswordChange.h"

#include <chrono>
#include <ctime>

#include "Passwords.h"

namespace tavo::hostd {

namespace {

PasswordChangeVerdict Refused(std::uint32_t code, std::string text, std::string reason,
                              bool oldPasswordRight = true) {
    return {code, oldPasswordRight, std::move(text), std::move(reason)};
}

} // namespace

ibmi::HostDate HostDateAt(std::int64_t secondsSince1970) {
    return ibmi::HostDate::At(secondsSince1970, false);
}

std::int64_t SecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<PasswordRefusal> RefuseNewPassword(const std::string& oldPassword,
                                                 const std::string& newPassword) {
    if (Characters(newPassword) < kMinPasswordLength)
        return PasswordRefusal{ibmi::kSignonNewPasswordTooShort,
                               "Password not changed: the new password must be at least " +
                                   std::to_string(kMinPasswordLength) + " characters long."};
    if (newPassword == oldPassword)
        return PasswordRefusal{ibmi::kSignonNewPasswordPreviouslyUsed,
                               "Password not changed: the new password must differ from the "
                               "current one."};
    return std::nullopt;
}

PasswordChangeVerdict ChangePassword(server::HostEngine& engine, int passwordLevel,
                                     const PasswordChangeAttempt& attempt) {
    const SignOnVerdict checked = CheckSignOn(engine, passwordLevel, attempt.signOn);
    if (checked.returnCode != 0 && checked.returnCode != ibmi::kSignonPasswordExpired)
        return Refused(checked.returnCode, "", checked.reason,
                       checked.returnCode != ibmi::kSignonPasswordIncorrect);
    const auto account = engine.User(attempt.signOn.user);
    if (!account) // gone since the check
        return Refused(ibmi::kSignonPasswordIncorrect, "", "unknown user", false);
    const auto scheme = ibmi::SchemeForLevel(passwordLevel);
    const std::string& stored = PasswordToken(account->passwords, scheme);
    const ibmi::Bytes oldToken(stored.begin(), stored.end());
    const auto& user = attempt.signOn.user;
    const auto& seeds = attempt.signOn;
    std::string newPassword, oldPassword;
    try {
        newPassword = ibmi::UnmaskNewPassword(scheme, user, oldToken, attempt.change,
                                              seeds.serverSeed, seeds.clientSeed);
    } catch (const ibmi::PasswordError& e) {
        return Refused(ibmi::kSignonProtectedNewNotValid,
                       "Password not changed: the new password cannot be used.", e.what());
    }
    try {
        // The old password, masked under the new one's token, must be the one we hold.
        oldPassword = ibmi::UnmaskOldPassword(scheme, user, newPassword, attempt.change,
                                              seeds.serverSeed, seeds.clientSeed);
        if (!ibmi::SameSubstitute(ibmi::ChangedPasswordToken(scheme, user, oldPassword), oldToken))
            throw ibmi::PasswordError("the masked old password is not the current one");
    } catch (const ibmi::PasswordError& e) {
        return Refused(ibmi::kSignonProtectedOldNotValid,
                       "Password not changed: the request does not carry the current password.",
                       e.what());
    }
    if (auto refusal = RefuseNewPassword(oldPassword, newPassword))
        return Refused(refusal->returnCode, refusal->text, refusal->text);
    std::string note;
    engine.SetUser(user, MakePasswords(user, newPassword, passwordLevel, note));
    return {0, true, "", note.empty() ? "password changed" : "password changed; " + note};
}

} // namespace tavo::hostd
