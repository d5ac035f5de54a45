#pragma once

// The sign-on server's change of password (request 0x7005, reply 0xF005), and the days a
// password has left by the dates the sign-on information gives.

#include <cstdint>
#include <string>
#include <vector>

#include "Messages.h"
#include "PasswordSubstitute.h"

namespace tavo::ibmi {

struct ChangePasswordRequest {
    std::uint32_t correlation = 1;
    std::uint8_t authenticationType = 3; // as a sign-on's: 1 DES, 3 SHA-1, 7 PBKDF2
    std::string user;
    // The lengths go on the wire only above levels 0-1 (authentication type 1).
    PasswordChange change;
    bool returnMessages = false; // sent to servers of level 5 and up
    Bytes Encode() const;
    static ChangePasswordRequest Decode(ByteView data);
};

struct ChangePasswordReply {
    std::uint32_t correlation = 1;
    std::uint32_t returnCode = 0; // 0 changed, else a SignonReturnCode
    std::vector<HostMessage> messages;
    Bytes Encode() const;
    static ChangePasswordReply Decode(ByteView data);
};

// Days from `now` until `expires`, a day begun counted whole (1 on the last day);
// negative once it has passed.
int DaysUntil(const HostDate& now, const HostDate& expires);

} // namespace tavo::ibmi
