#pragma once

#include <cstdint>
#include <string>

#include "HostEngine.h"
#include "Messages.h"
#include "PasswordSubstitute.h"
#include "SignOnCheck.h"

namespace tavo::hostd {

// What the sign-on server tells a client about its password's expiry: the host's warning
// period, as IBM i ships its QPWDEXPWRN.
inline constexpr std::uint32_t kExpiryWarningDays = 7;

// A time as the sign-on server reports it (the daemon's host time is UTC).
ibmi::HostDate HostDateAt(std::int64_t secondsSince1970);
std::int64_t SecondsNow();

// Whether a host takes a new password, whatever the protocol. Refused: the IBM i return
// code, and the text the user sees, which the log shows too.
server::Status CheckNewPassword(const std::string& oldPassword, const std::string& newPassword);

// A change of password as the sign-on server receives it: the substitute that proves the
// old password, with the seeds of its connection, and both passwords masked.
struct PasswordChangeAttempt {
    SignOnAttempt signOn;
    ibmi::PasswordChange change;
};

// Checks the old password as a sign-on does (an expired one may be changed, a disabled
// user may not), unmasks the new one, applies the host's rules and stores the new
// password with a token for every scheme it qualifies for, which ends any expiry.
// The status's code is 0 (changed) or the sign-on server's return code; only
// kSignonPasswordIncorrect says the old password was not proven. Runs on the engine's thread.
server::Status ChangePassword(server::HostEngine& engine, int passwordLevel,
                              const PasswordChangeAttempt& attempt);

} // namespace tavo::hostd
