#include "Channel.h"

#include "Cancel.h"
#include "Sockets.h"

namespace cwb {

Peer Peer::Of(const SystemConfig& system, bool withPort) {
    const Endpoint& at = system.endpoint;
    return {system.name + " (" + at.host + (withPort ? ":" + std::to_string(at.port) : "") + ")",
            system.timeoutSeconds};
}

Status TimedOut(const Peer& peer) {
    if (Cancelled())
        return Status::Fail(CWB_CANCELLED, "The wait for " + peer.where + " was cancelled.");
    return Status::Fail(CWB_TIMEOUT, "No answer from " + peer.where + " within " +
                                         std::to_string(peer.timeoutSeconds) +
                                         " s; the connection was closed.");
}

void Channel::Close() {
    std::error_code ignored;
    Lowest().shutdown(Socket::shutdown_both, ignored);
    Lowest().close(ignored);
}

bool Channel::RunUntil(Deadline deadline, asio::ip::tcp::resolver* resolver) {
    io_.restart();
    // In slices, so that a cancel from another thread or a signal ends the wait soon.
    while (!Cancelled()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            break;
        io_.run_until(std::min(deadline, now + kCancelCheck));
        if (io_.stopped())
            return true;
    }
    // Closing the socket completes its pending operations as aborted.
    if (resolver)
        resolver->cancel();
    std::error_code ignored;
    Lowest().close(ignored);
    io_.restart();
    io_.run();
    return false;
}

bool Channel::StillOpen() {
    Socket& socket = Lowest();
    return socket.is_open() &&
           tavo::platform::IdleSocketOpen(static_cast<std::intptr_t>(socket.native_handle()),
                                          tls_ != nullptr);
}

Status Channel::Dial(const std::string& host, unsigned short port, std::shared_ptr<TlsContext> tls,
                     Deadline deadline, const Peer& peer) {
    Close();
    tls_.reset();
    tlsContext_ = std::move(tls);
    if (tlsContext_)
        tls_ = NewTlsStream(io_, plain_, tlsContext_, host);
    Socket& socket = Lowest();
    std::error_code result = asio::error::would_block;
    asio::ip::tcp::resolver resolver(io_);
    const std::string service = std::to_string(port);
    resolver.async_resolve(
        host, service, [&](std::error_code ec, asio::ip::tcp::resolver::results_type found) {
            if (ec) {
                result = ec;
                return;
            }
            asio::async_connect(socket, found, [&](std::error_code e, const auto&) {
                if (e || !tls_) {
                    result = e;
                    return;
                }
                StartHandshake(*tls_, host, [&](std::error_code h) { result = h; });
            });
        });
    if (!RunUntil(deadline, &resolver))
        return TimedOut(peer);
    if (result) {
        const std::string certificate = tls_ ? CertificateProblem(*tls_) : "";
        Close();
        if (!certificate.empty())
            return Status::Fail(CWB_CERTIFICATE_ERROR, "The host " + peer.where +
                                                           " was not trusted: " + certificate +
                                                           ".");
        return Status::Fail(CWB_COMMUNICATIONS_ERROR, "Cannot connect to " + peer.where + " port " +
                                                          service + ": " + result.message() + ".");
    }
    std::error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    return Status::Ok();
}

} // namespace cwb
