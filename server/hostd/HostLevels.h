#pragma once

#include <array>
#include <cstdint>

namespace tavo::hostd {

// The datastream levels our sign-on server can report, oldest first. Each stands for a
// generation of IBM's host servers, and the remote command server beside it speaks the
// same generation: 2, a host that gives no messages with a refused sign-on and only the
// fixed 0x1102 form with a failed call; 10, one that gives sign-on messages (IBM's
// clients ask for them from level 5) and whose remote command server, at its level 10,
// describes messages in the 0x1106 form (message options 3 and 4); 18, a current one,
// whose remote command server reports 11, the level from which IBM's clients ask for the
// full 0x1107 form (options 5 and 6) and beyond which they change nothing.
inline constexpr std::array<int, 3> kHostLevels{2, 10, 18};
inline constexpr int kNewestHostLevel = kHostLevels.back();

// From this level on, a sign-on request may ask for the refusal's messages.
inline constexpr int kSignonMessagesLevel = 5;

constexpr bool IsHostLevel(int level) {
    for (const int known : kHostLevels)
        if (level == known)
            return true;
    return false;
}

// What the remote command server reports beside a sign-on server of `hostLevel`.
constexpr std::uint16_t RemoteCommandLevel(int hostLevel) {
    return hostLevel >= 18 ? 11 : hostLevel >= 10 ? 10 : 2;
}

} // namespace tavo::hostd
