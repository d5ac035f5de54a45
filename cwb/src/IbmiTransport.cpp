// The transport of the ibmi backend: connections (plain or TLS) with deadlines, whole
// datastreams in and out, and the port mapper.
#include <functional>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "IbmiBackend.h"

namespace cwb {

namespace ib = tavo::ibmi;

std::string IbmiBackend::Where() const {
    return system_.name + " (" + host_ + ")";
}

IbmiBackend::Deadline IbmiBackend::NextDeadline() const {
    return std::chrono::steady_clock::now() + std::chrono::seconds(system_.timeoutSeconds);
}

void IbmiBackend::Close(Channel& channel) {
    std::error_code ignored;
    channel.Lowest().shutdown(Socket::shutdown_both, ignored);
    channel.Lowest().close(ignored);
}

Status IbmiBackend::TimedOut() const {
    return Status::Fail(CWB_TIMEOUT, "No answer from " + Where() + " within " +
                                         std::to_string(system_.timeoutSeconds) +
                                         " s; the connection was closed.");
}

Status IbmiBackend::Unreadable(Channel& channel, const std::string& why) {
    Close(channel);
    return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The host " + Where() +
                                                      " sent a reply this program cannot read (" +
                                                      why + "); the connection was closed.");
}

bool IbmiBackend::RunUntil(Deadline deadline, Channel& channel, asio::ip::tcp::resolver* resolver) {
    asio::io_context& io = channel.io;
    io.restart();
    io.run_until(deadline);
    if (io.stopped())
        return true;
    // Time is up: closing the socket completes its pending operations as aborted.
    if (resolver)
        resolver->cancel();
    std::error_code ignored;
    channel.Lowest().close(ignored);
    io.restart();
    io.run();
    return false;
}

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

Status IbmiBackend::TlsReady() {
    if (!tls_ || tlsContext_)
        return Status::Ok();
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
    SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_2_VERSION);
    context->set_default_verify_paths();
    context->set_verify_mode(asio::ssl::verify_peer);
    std::error_code ec;
    if (!system_.caFile.empty() && context->load_verify_file(system_.caFile, ec))
        return Status::Fail(CWB_CONFIG_ERROR, "The CA file " + system_.caFile + " of " +
                                                  system_.name + " cannot be read: " +
                                                  ec.message() + ".");
    tlsContext_ = std::move(context);
    return Status::Ok();
}

Status IbmiBackend::Dial(Channel& channel, const std::string& port, bool tls, Deadline deadline) {
    Close(channel);
    channel.tls.reset();
    if (tls) {
        // Made before any thread dials, so threads only read it.
        if (!tlsContext_)
            return Status::Fail(CWB_CONFIG_ERROR, "TLS was not prepared for " + Where() + ".");
        channel.tls = std::make_unique<asio::ssl::stream<Socket>>(channel.io, *tlsContext_);
        SSL* ssl = channel.tls->native_handle();
        asio::error_code isAddress;
        asio::ip::make_address(host_, isAddress);
        if (isAddress) {
            SSL_set_tlsext_host_name(ssl, host_.c_str());
            SSL_set1_host(ssl, host_.c_str());
        } else {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host_.c_str());
        }
    }
    Socket& socket = channel.Lowest();
    std::error_code result = asio::error::would_block;
    asio::ip::tcp::resolver resolver(channel.io);
    resolver.async_resolve(
        host_, port, [&](std::error_code ec, asio::ip::tcp::resolver::results_type found) {
            if (ec) {
                result = ec;
                return;
            }
            asio::async_connect(socket, found, [&](std::error_code e, const auto&) {
                if (e || !channel.tls) {
                    result = e;
                    return;
                }
                channel.tls->async_handshake(asio::ssl::stream_base::client,
                                             [&](std::error_code h) { result = h; });
            });
        });
    if (!RunUntil(deadline, channel, &resolver))
        return TimedOut();
    if (result) {
        const std::string certificate =
            channel.tls ? CertificateProblem(channel.tls->native_handle()) : "";
        Close(channel);
        if (!certificate.empty())
            return Status::Fail(CWB_CERTIFICATE_ERROR,
                                "The host " + Where() + " was not trusted: " + certificate + ".");
        return Status::Fail(CWB_COMMUNICATIONS_ERROR, "Cannot connect to " + Where() + " port " +
                                                          port + ": " + result.message() + ".");
    }
    std::error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    return Status::Ok();
}

Status IbmiBackend::Broken(Channel& channel, std::error_code error) {
    Close(channel);
    return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The connection to " + Where() +
                                                      " broke during the call (" +
                                                      error.message() + ").");
}

Status IbmiBackend::Transfer(Channel& channel, const ib::Bytes* request,
                             std::vector<ib::Bytes>& replies, Deadline deadline) {
    // The replies are read while the request still goes out: with many requests in one
    // write, neither side may wait for the other to drain its socket.
    std::error_code wrote{}, read = asio::error::would_block;
    std::string broken;
    std::array<std::uint8_t, ib::kHeaderLength> header{};
    std::size_t got = 0;
    std::function<void()> readNext;
    channel.With([&](auto& stream) {
        if (request) {
            wrote = asio::error::would_block;
            asio::async_write(stream, asio::buffer(*request),
                              [&](std::error_code ec, std::size_t) { wrote = ec; });
        }
        readNext = [&] {
            if (got == replies.size()) {
                read = {};
                return;
            }
            asio::async_read(stream, asio::buffer(header), [&](std::error_code e, std::size_t) {
                if (e) {
                    read = e;
                    return;
                }
                const std::uint32_t length = ib::Reader(header).U32();
                if (length < ib::kHeaderLength || length > ib::kMaxDatastreamLength) {
                    broken = "a datastream of " + std::to_string(length) + " bytes";
                    read = asio::error::invalid_argument;
                    return;
                }
                ib::Bytes& reply = replies[got];
                reply.assign(header.begin(), header.end());
                reply.resize(length);
                asio::async_read(stream,
                                 asio::buffer(reply.data() + ib::kHeaderLength,
                                              length - ib::kHeaderLength),
                                 [&](std::error_code last, std::size_t) {
                                     if (last) {
                                         read = last;
                                         return;
                                     }
                                     ++got;
                                     readNext();
                                 });
            });
        };
        readNext();
    });
    if (!RunUntil(deadline, channel))
        return TimedOut();
    if (!broken.empty())
        return Unreadable(channel, broken);
    if (wrote || read)
        return Broken(channel, wrote ? wrote : read);
    return Status::Ok();
}

Status IbmiBackend::Exchange(Channel& channel, const ib::Bytes& request, ib::Bytes* reply,
                             Deadline deadline) {
    std::vector<ib::Bytes> replies(reply ? 1 : 0);
    auto status = Transfer(channel, &request, replies, deadline);
    if (status.ok() && reply)
        *reply = std::move(replies.front());
    return status;
}

Status IbmiBackend::PortOf(asio::io_context& io, std::string_view name, unsigned short fixed,
                           unsigned short& port, Deadline deadline) {
    if (fixed != 0) {
        port = fixed;
        return Status::Ok();
    }
    // The port mapper speaks plain TCP even for TLS servers, which it knows by a "-s".
    const std::string service = std::string(name) + (tls_ ? "-s" : "");
    Channel channel(io);
    if (auto status = Dial(channel, mapperPort_, false, deadline); !status.ok())
        return status;
    Socket& mapper = channel.plain;
    std::error_code result = asio::error::would_block;
    std::array<std::uint8_t, 5> answer{};
    asio::async_write(mapper, asio::buffer(service),
                      [&](std::error_code ec, std::size_t) {
                          if (ec) {
                              result = ec;
                              return;
                          }
                          asio::async_read(mapper, asio::buffer(answer),
                                           [&](std::error_code e, std::size_t) { result = e; });
                      });
    if (!RunUntil(deadline, channel))
        return TimedOut();
    Close(channel);
    if (result)
        return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The port mapper of " + Where() +
                                                          " did not answer for " + service + " (" +
                                                          result.message() + ").");
    const auto found = ib::DecodePortMapperReply(answer);
    if (!found)
        return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                            "The host " + Where() + " does not serve " + service + ".");
    port = *found;
    return Status::Ok();
}

} // namespace cwb
