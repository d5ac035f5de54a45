#include "Sockets.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

namespace tavo::platform {

#ifdef _WIN32
// WSAPoll reports no half-closed peer: a peek tells a hang-up (0) from data waiting.
bool IdleSocketOpen(std::intptr_t socket, bool unaskedDataAllowed) {
    WSAPOLLFD fd{static_cast<SOCKET>(socket), POLLRDNORM, 0};
    const int ready = WSAPoll(&fd, 1, 0);
    if (ready == 0)
        return true;
    if (ready < 0 || (fd.revents & (POLLERR | POLLHUP | POLLNVAL)))
        return false;
    char first;
    const int n = recv(static_cast<SOCKET>(socket), &first, 1, MSG_PEEK);
    return n > 0 && unaskedDataAllowed;
}
#else
bool IdleSocketOpen(std::intptr_t socket, bool unaskedDataAllowed) {
    const short closed = POLLRDHUP | POLLHUP | POLLERR;
    pollfd fd{static_cast<int>(socket),
              static_cast<short>(unaskedDataAllowed ? POLLRDHUP : POLLIN | POLLRDHUP), 0};
    return ::poll(&fd, 1, 0) == 0 || (unaskedDataAllowed && !(fd.revents & closed));
}
#endif

} // namespace tavo::platform
