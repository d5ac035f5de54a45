#include "PasswordChange.h"

#include <chrono>
#include <ctime>

#include "Passwords.h"

namespace tavo::hostd {

using server::Status;

ibmi::HostDate HostDateAt(std::int64_t secondsSince1970) {
    return ibmi::HostDate::At(secondsSince1970, false);
}

std::int64_t SecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Status CheckNewPassword(const std::string& oldPassword, const std::string& newPassword) {
    const auto refused = [](std::uint32_t code, const std::string& text) {
        return Status::Fail(code, text, text);
    };
    if (Characters(newPassword) < kMinPasswordLength)
        return refused(ibmi::kSignonNewPasswordTooShort,
                       "Password not changed: the new password must be at least " +
                           std::to_string(kMinPasswordLength) + " characters long.");
    if (newPassword == oldPassword)
        return refused(ibmi::kSignonNewPasswordPreviouslyUsed,
                       "Password not changed: the new password must differ from the current one.");
    return Status::Ok();
}

Status ChangePassword(server::HostEngine& engine, int passwordLevel,
                      const PasswordChangeAttempt& attempt) {
    const Status checked = CheckSignOn(engine, passwordLevel, attempt.signOn).status;
    if (!checked.ok() && checked.code != ibmi::kSignonPasswordExpired)
        return checked;
    const auto account = engine.User(attempt.signOn.user);
    if (!account) // gone since the check
        return Status::Fail(ibmi::kSignonPasswordIncorrect, "", "unknown user");
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
        return Status::Fail(ibmi::kSignonProtectedNewNotValid,
                            "Password not changed: the new password cannot be used.", e.what());
    }
    try {
        // The old password, masked under the new one's token, must be the one we hold.
        oldPassword = ibmi::UnmaskOldPassword(scheme, user, newPassword, attempt.change,
                                              seeds.serverSeed, seeds.clientSeed);
        if (!ibmi::SameSubstitute(ibmi::ChangedPasswordToken(scheme, user, oldPassword), oldToken))
            throw ibmi::PasswordError("the masked old password is not the current one");
    } catch (const ibmi::PasswordError& e) {
        return Status::Fail(
            ibmi::kSignonProtectedOldNotValid,
            "Password not changed: the request does not carry the current password.", e.what());
    }
    if (Status refused = CheckNewPassword(oldPassword, newPassword); !refused.ok())
        return refused;
    std::string note;
    engine.SetUser(user, MakePasswords(user, newPassword, passwordLevel, note));
    return Status::Ok(note.empty() ? "password changed" : "password changed; " + note);
}

} // namespace tavo::hostd
