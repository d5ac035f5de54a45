#include "IbmiConnection.h"

#include <array>
#include <functional>
#include <optional>

#include "Messages.h"

namespace cwb {

namespace ib = tavo::ibmi;

IbmiConnection::IbmiConnection(std::uint16_t server, const SystemConfig& system,
                               std::shared_ptr<TlsContext> tls)
    : serverId(server), endpoint_(system.endpoint), peer_(Peer::Of(system)), tls_(std::move(tls)) {}

IbmiConnection::~IbmiConnection() {
    if (serverId == ib::kRemoteCommandServer && started_ && IsOpen()) {
        static const ib::Bytes endJob = ib::EncodeEndJob();
        channel_.With([&](auto& stream) {
            asio::async_write(stream, asio::buffer(endJob), [](std::error_code, std::size_t) {});
        });
        channel_.RunUntil(std::chrono::steady_clock::now() + std::chrono::seconds(1));
    }
    channel_.Close();
}

void IbmiConnection::Started() {
    started_ = true;
    correlation_ = 1;
}

Status IbmiConnection::Unreadable(const std::string& why) {
    channel_.Close();
    return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The host " + peer_.where +
                                                      " sent a reply this program cannot read (" +
                                                      why + "); the connection was closed.");
}

Status IbmiConnection::Broken(std::error_code error) {
    channel_.Close();
    return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The connection to " + peer_.where +
                                                      " broke during the call (" + error.message() +
                                                      ").");
}

Status IbmiConnection::Dial(std::string_view service, unsigned short fixedPort, Deadline deadline) {
    unsigned short port = fixedPort;
    if (port == 0)
        if (auto status = PortOf(service, port, deadline); !status.ok())
            return status;
    return channel_.Dial(endpoint_.host, port, tls_, deadline, peer_);
}

Status IbmiConnection::Transfer(const ib::Bytes* request, std::vector<ib::Bytes>& replies,
                                Deadline deadline, bool* sent, std::uint32_t most) {
    // The replies are read while the request still goes out: with many requests in one
    // write, neither side may wait for the other to drain its socket.
    std::error_code wrote{}, read = asio::error::would_block;
    std::string broken;
    std::array<std::uint8_t, ib::kHeaderLength> header{};
    std::size_t got = 0;
    std::function<void()> readNext;
    channel_.With([&](auto& stream) {
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
    const bool finished = channel_.RunUntil(deadline);
    if (sent)
        *sent = request && !wrote;
    if (!finished)
        return TimedOut(peer_);
    if (!broken.empty())
        return Unreadable(broken);
    if (wrote || read)
        return Broken(wrote ? wrote : read);
    return Status::Ok();
}

Status IbmiConnection::Exchange(const ib::Bytes& request, ib::Bytes* reply, Deadline deadline,
                                bool* sent) {
    std::vector<ib::Bytes> replies(reply ? 1 : 0);
    auto status = Transfer(&request, replies, deadline, sent);
    if (status.ok() && reply)
        *reply = std::move(replies.front());
    return status;
}

Status IbmiConnection::Request(ib::Bytes request, ib::Bytes& reply, bool* sent) {
    const std::uint32_t correlation = ++correlation_;
    ib::SetCorrelation(request, correlation);
    if (auto status = Exchange(request, &reply, peer_.Next(), sent); !status.ok())
        return status;
    if (ib::ReadHeader(reply).correlation != correlation)
        return Unreadable("a reply to another request");
    return Status::Ok();
}

Status IbmiConnection::RequestMany(const ib::Bytes& request, std::size_t count,
                                   std::vector<ib::Bytes>& replies, std::uint32_t most) {
    ib::Bytes one = request;
    ib::Bytes batch;
    batch.reserve(one.size() * count);
    const std::uint32_t first = correlation_ + 1;
    for (std::size_t i = 0; i < count; ++i) {
        ib::SetCorrelation(one, ++correlation_);
        batch.insert(batch.end(), one.begin(), one.end());
    }
    replies.assign(count, {});
    if (auto status = Transfer(&batch, replies, peer_.Next(), nullptr, most); !status.ok())
        return status;
    for (std::size_t i = 0; i < count; ++i)
        if (ib::ReadHeader(replies[i]).correlation != first + i)
            return Unreadable("replies out of order");
    return Status::Ok();
}

Status IbmiConnection::PortOf(std::string_view name, unsigned short& port, Deadline deadline) {
    // The port mapper speaks plain TCP even for TLS servers, which it knows by a "-s".
    const std::string service = std::string(name) + (endpoint_.tls ? "-s" : "");
    Channel channel;
    if (auto status = channel.Dial(endpoint_.host, endpoint_.port, nullptr, deadline, peer_);
        !status.ok())
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
        return TimedOut(peer_);
    channel.Close();
    if (result)
        return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The port mapper of " + peer_.where +
                                                          " did not answer for " + service + " (" +
                                                          result.message() + ").");
    std::optional<std::uint16_t> found;
    try {
        found = ib::DecodePortMapperReply(answer);
    } catch (const ib::DatastreamError& e) {
        // Plain TCP even under TLS: anyone on the path can write this answer.
        return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The port mapper of " + peer_.where +
                                                          " gave no usable port for " + service +
                                                          " (" + e.what() + ").");
    }
    if (!found)
        return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                            "The host " + peer_.where + " does not serve " + service + ".");
    port = *found;
    return Status::Ok();
}

} // namespace cwb
