#include "Channel.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include "Cancel.h"

namespace cwb {

namespace {

// Why a certificate was not accepted, in the words a user can act on.
std::string CertificateProblem(SSL* ssl) {
    const long result = SSL_get_verify_result(ssl);
    switch (result) {
    case X509_V_OK:
        return "";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "its certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "its certificate is not valid yet";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "its certificate was issued for another host";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "its certificate was issued by an unknown authority (see ca_file)";
    default:
        return std::string("its certificate was refused: ") + X509_verify_cert_error_string(result);
    }
}

} // namespace

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

Status ClientTlsContext(const SystemConfig& system, std::shared_ptr<asio::ssl::context>& context) {
    if (!system.endpoint.tls || context)
        return Status::Ok();
    auto made = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
    SSL_CTX_set_min_proto_version(made->native_handle(), TLS1_2_VERSION);
    made->set_default_verify_paths();
    made->set_verify_mode(asio::ssl::verify_peer);
    std::error_code ec;
    if (!system.caFile.empty() && made->load_verify_file(system.caFile, ec))
        return Status::Fail(CWB_CONFIG_ERROR, "The CA file " + system.caFile + " of " +
                                                  system.name + " cannot be read: " + ec.message() +
                                                  ".");
    context = std::move(made);
    return Status::Ok();
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
    if (!socket.is_open())
        return false;
    const short closed = POLLRDHUP | POLLHUP | POLLERR;
    pollfd fd{socket.native_handle(), static_cast<short>(tls_ ? POLLRDHUP : POLLIN | POLLRDHUP), 0};
    return ::poll(&fd, 1, 0) == 0 || (tls_ && !(fd.revents & closed));
}

Status Channel::Dial(const std::string& host, unsigned short port,
                     std::shared_ptr<asio::ssl::context> tls, Deadline deadline, const Peer& peer) {
    Close();
    tls_.reset();
    tlsContext_ = std::move(tls);
    if (tlsContext_) {
        tls_ = std::make_unique<asio::ssl::stream<Socket>>(io_, *tlsContext_);
        SSL* ssl = tls_->native_handle();
        asio::error_code isAddress;
        asio::ip::make_address(host, isAddress);
        if (isAddress) {
            SSL_set_tlsext_host_name(ssl, host.c_str());
            SSL_set1_host(ssl, host.c_str());
        } else {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
        }
    }
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
                tls_->async_handshake(asio::ssl::stream_base::client,
                                      [&](std::error_code h) { result = h; });
            });
        });
    if (!RunUntil(deadline, &resolver))
        return TimedOut(peer);
    if (result) {
        const std::string certificate = tls_ ? CertificateProblem(tls_->native_handle()) : "";
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
