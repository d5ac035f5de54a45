#pragma once

#include <cstdint>

namespace tavo::platform {

// Whether a connection kept idle between requests can still carry one, looking without
// waiting. Our servers never speak unasked, so something to read means the other end
// closed; but a TLS server may send session tickets unasked (`unaskedDataAllowed`), and
// there only a hang-up counts.
bool IdleSocketOpen(std::intptr_t socket, bool unaskedDataAllowed);

} // namespace tavo::platform
