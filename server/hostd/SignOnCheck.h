#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "HostEngine.h"
#include "Messages.h"

namespace tavo::hostd {

// A password substitute as the sign-on and start-server requests carry it, with the
// seeds of the connection it came on.
struct SignOnAttempt {
    std::uint8_t authenticationType = 0;
    ibmi::Bytes substitute;
    std::string user;
    ibmi::Seed serverSeed{};
    ibmi::Seed clientSeed{};
};

struct SignOnVerdict {
    // Its code is 0 (signed on) or one of ibmi::SignonReturnCode; it has no text.
    server::Status status;
    // When a signed-on user's password expires, seconds since 1970 (UTC); none: never.
    std::optional<std::int64_t> passwordExpires = std::nullopt;
};

// Checks `attempt` against the user's token for the scheme of `passwordLevel`. A wrong
// password, an unknown user and a user without a token for this level get the same
// code after the same work, so neither the answer nor its timing tells user names
// apart; whether the user is disabled or expired is told only after a right password.
// Runs on the engine's thread.
SignOnVerdict CheckSignOn(server::HostEngine& engine, int passwordLevel,
                          const SignOnAttempt& attempt);

} // namespace tavo::hostd
