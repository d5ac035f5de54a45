// The transport of the ibmi backend: connections (plain or TLS) with deadlines, whole
// datastreams in and out, and the port mapper.
#include <functional>
#include <optional>

#include "IbmiBackend.h"

namespace cwb {

namespace ib = tavo::ibmi;

std::string IbmiBackend::Where() const {
    return system_.name + " (" + host_ + ")";
}

Deadline IbmiBackend::NextDeadline() const {
    return std::chrono::steady_clock::now() + std::chrono::seconds(system_.timeoutSeconds);
}

Peer IbmiBackend::ThePeer() const {
    return {Where(), system_.timeoutSeconds};
}

Status IbmiBackend::Unreadable(Channel& channel, const std::string& why) {
    channel.Close();
    return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The host " + Where() +
                                                      " sent a reply this program cannot read (" +
                                                      why + "); the connection was closed.");
}

Status IbmiBackend::TlsReady() {
    if (!tls_ || tlsContext_)
        return Status::Ok();
    return ClientTlsContext(system_, tlsContext_);
}

Status IbmiBackend::Dial(Channel& channel, unsigned short port, Deadline deadline) {
    // The context is made before any thread dials, so threads only read it.
    return channel.Dial(host_, std::to_string(port), tls_ ? tlsContext_.get() : nullptr, deadline,
                        ThePeer());
}

Status IbmiBackend::Broken(Channel& channel, std::error_code error) {
    channel.Close();
    return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The connection to " + Where() +
                                                      " broke during the call (" + error.message() +
                                                      ").");
}

Status IbmiBackend::Transfer(Channel& channel, const ib::Bytes* request,
                             std::vector<ib::Bytes>& replies, Deadline deadline, bool* sent,
                             std::uint32_t most) {
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
                if (length < ib::kHeaderLength || length > most) {
                    broken = "a datastream of " + std::to_string(length) + " bytes";
                    read = asio::error::invalid_argument;
                    return;
                }
                ib::Bytes& reply = replies[got];
                reply.assign(header.begin(), header.end());
                reply.resize(length);
                asio::async_read(
                    stream,
                    asio::buffer(reply.data() + ib::kHeaderLength, length - ib::kHeaderLength),
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
    const bool finished = channel.RunUntil(deadline);
    if (sent)
        *sent = request && !wrote;
    if (!finished)
        return TimedOut(ThePeer());
    if (!broken.empty())
        return Unreadable(channel, broken);
    if (wrote || read)
        return Broken(channel, wrote ? wrote : read);
    return Status::Ok();
}

Status IbmiBackend::Exchange(Channel& channel, const ib::Bytes& request, ib::Bytes* reply,
                             Deadline deadline, bool* sent) {
    std::vector<ib::Bytes> replies(reply ? 1 : 0);
    auto status = Transfer(channel, &request, replies, deadline, sent);
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
    if (auto status = channel.Dial(host_, mapperPort_, nullptr, deadline, ThePeer()); !status.ok())
        return status;
    asio::ip::tcp::socket& mapper = channel.Lowest();
    std::error_code result = asio::error::would_block;
    std::array<std::uint8_t, 5> answer{};
    asio::async_write(mapper, asio::buffer(service), [&](std::error_code ec, std::size_t) {
        if (ec) {
            result = ec;
            return;
        }
        asio::async_read(mapper, asio::buffer(answer),
                         [&](std::error_code e, std::size_t) { result = e; });
    });
    if (!channel.RunUntil(deadline))
        return TimedOut(ThePeer());
    channel.Close();
    if (result)
        return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The port mapper of " + Where() +
                                                          " did not answer for " + service + " (" +
                                                          result.message() + ").");
    std::optional<std::uint16_t> found;
    try {
        found = ib::DecodePortMapperReply(answer);
    } catch (const ib::DatastreamError& e) {
        // Plain TCP even under TLS: anyone on the path can write this answer.
        return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The port mapper of " + Where() +
                                                          " gave no usable port for " + service +
                                                          " (" + e.what() + ").");
    }
    if (!found)
        return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                            "The host " + Where() + " does not serve " + service + ".");
    port = *found;
    return Status::Ok();
}

} // namespace cwb
