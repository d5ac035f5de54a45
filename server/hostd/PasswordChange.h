#pragma once

#include <cstdint>
#include <optional>
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

// Why a host refuses a new password, whatever the protocol: the IBM i return code and the
// text the user sees. Nullopt when the new password is acceptable.
struct PasswordRefusal {
    std::uint32_t returnCode;
    std::string text;
};
std::optional<PasswordRefusal> RefuseNewPassword(const std::string& oldPassword,
                                                 const std::string& newPassword);

// A change of password as the sign-on server receives it: the substitute that proves the
// old password, with the seeds of its connection, and both passwords masked.
struct PasswordChangeAttempt {
    SignOnAttempt signOn;
    ibmi::PasswordChange change;
};

struct PasswordChangeVerdict {
    std::uint32_t returnCode = 0; // 0: changed
    bool oldPasswordRight = false;
    std::string text;   // the refusal as the user sees it; empty when changed
    std::string reason; // for the daemon's log
};

// Checks the old password as a sign-on does (an expired one may be changed, a disabled
// user may not), unmasks the new one, applies the host's rules and stores the new
// password with a token for every scheme it qualifies for, which ends any expiry.
// Runs on the engine's thread.
PasswordChangeVerdict ChangePassword(server::HostEngine& engine, int passwordLevel,
                                     const PasswordChangeAttempt& attempt);

} // namespace tavo::hostd
