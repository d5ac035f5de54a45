#include "Listener.h"

#include <stdexcept>

namespace tavo::hostd {

Listener::Listener(asio::io_context& io, Connections& connections, Log& log, Factory make)
    : connections_(connections), log_(log), make_(std::move(make)), acceptor_(io), retry_(io) {}

unsigned short Listener::Bind(const std::string& host, unsigned short port) {
    std::error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    if (ec)
        throw std::runtime_error("'" + host + "' is not an IP address");
    const asio::ip::tcp::endpoint endpoint(address, port);
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind(endpoint, ec);
    if (ec)
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " +
                                 ec.message());
    acceptor_.listen(asio::socket_base::max_listen_connections);
    return acceptor_.local_endpoint().port();
}

void Listener::Start() {
    Accept();
}

void Listener::Close() {
    std::error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
}

void Listener::Accept() {
    acceptor_.async_accept([this](std::error_code ec, asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor_.is_open())
            return;
        if (ec) {
            // Out of descriptors, most likely: let the open connections finish first.
            log_.Line("cannot accept a connection: " + ec.message());
            retry_.expires_after(std::chrono::milliseconds(200));
            retry_.async_wait([this](std::error_code e) {
                if (!e)
                    Accept();
            });
            return;
        }
        std::error_code peerError;
        const auto peer = socket.remote_endpoint(peerError);
        const std::string address = peerError ? "unknown peer" : peer.address().to_string();
        if (const auto why = connections_.Refusal(address); !why.empty()) {
            log_.Line(address + ": " + why + "; connection closed", Priority::Info,
                      "connection refused at once");
            socket.close(ec);
            Accept();
            return;
        }
        if (const auto dropped = connections_.MakeRoom(this))
            log_.Line(*dropped + ": waited longest without signing on; closed to make room",
                      Priority::Info, "closed to make room");
        socket.set_option(asio::ip::tcp::no_delay(true), ec);
        auto connection = make_(std::move(socket));
        connections_.Add(connection, address, this);
        connection->Start();
        Accept();
    });
}

} // namespace tavo::hostd
