#pragma once

// What the client makes of the host servers' replies once they have arrived: no socket,
// so each form a host may choose can be tried on its own. Return codes are looked at
// before contents, and only the items a reply is read for are required.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Backend.h"
#include "Datastream.h"
#include "Messages.h"

namespace cwb::ibmireplies {

// A program call's reply. The call has left, so a reply that cannot be used is
// CWB_REPLY_LOST: the host may have run the program. The caller's areas are written only
// when every output is there; an output longer or shorter than its area is cut or
// zero-filled. `closeLink` says that nothing more can be read on the connection. The
// host's messages are read in `ccsid`, the job's.
Status ReadCallReply(tavo::ibmi::ByteView reply, std::span<BoundParm> parms,
                     std::string_view program, std::string_view library, const std::string& where,
                     bool& closeLink, std::uint32_t ccsid = 37);
// The text of a call whose answer was lost, for `why`.
Status ReplyLost(std::string_view program, const std::string& where, const std::string& why);

// The remote command server's exchange of attributes: its datastream level, or a refusal.
Status ReadRcAttributes(tavo::ibmi::ByteView reply, const std::string& where,
                        std::uint16_t& serverLevel);
// The data queue server's exchange of attributes, which a host may answer with its
// common reply and a reason.
Status ReadDqAttributes(tavo::ibmi::ByteView reply, const std::string& where);

std::string Hex16(std::uint16_t code);
// The host's messages as one text, as a failure quotes them.
std::string Joined(const std::vector<tavo::ibmi::HostMessage>& messages);

} // namespace cwb::ibmireplies
