#include "Daemon.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace tavo::hostd {

Daemon::Daemon(server::HostEngine& engine, DaemonOptions options, Log& log)
    : engine_(engine), options_(std::move(options)), log_(log), acceptor_(io_),
      signals_(io_, SIGINT, SIGTERM), retry_(io_),
      worker_(engine), context_{io_,
                                worker_,
                                signOnPool_,
                                engine_,
                                log_,
                                options_.frameTimeout,
                                [this](const Session* gone) {
                                    std::erase_if(sessions_, [gone](const auto& s) {
                                        return s.get() == gone;
                                    });
                                }} {}

Daemon::~Daemon() {
    signOnPool_.join();
    worker_.Stop();
}

void Daemon::Listen() {
    std::error_code ec;
    const auto address = asio::ip::make_address(options_.host, ec);
    if (ec)
        throw std::runtime_error("'" + options_.host + "' is not an IP address");
    const asio::ip::tcp::endpoint endpoint(address, options_.port);
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind(endpoint, ec);
    if (ec)
        throw std::runtime_error("cannot listen on " + options_.host + ":" +
                                 std::to_string(options_.port) + ": " + ec.message());
    acceptor_.listen(asio::socket_base::max_listen_connections);
    const auto port = acceptor_.local_endpoint().port();
    if (!options_.portFile.empty()) {
        // Written whole and then renamed, so a reader never sees half a number.
        const std::string partial = options_.portFile + ".part";
        {
            std::ofstream out(partial);
            out << port << '\n';
            if (!out)
                throw std::runtime_error("cannot write " + partial);
        }
        std::filesystem::rename(partial, options_.portFile);
    }
    log_.Line("listening on " + options_.host + ":" + std::to_string(port));
}

void Daemon::Run() {
    signals_.async_wait([this](std::error_code ec, int signal) {
        if (!ec) {
            log_.Line(std::string("signal ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                      ": stopping");
            Shutdown();
        }
    });
    Accept();
    io_.run();
    // Every session is closed and its reply sent: nothing more can reach the engine.
    signOnPool_.join();
    worker_.Stop();
    log_.Line("stopped");
}

void Daemon::Accept() {
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
        if (sessions_.size() >= options_.maxConnections) {
            std::error_code peerError;
            const auto peer = socket.remote_endpoint(peerError);
            log_.Line((peerError ? std::string("a client")
                                 : peer.address().to_string() + ":" + std::to_string(peer.port())) +
                      ": already serving " + std::to_string(sessions_.size()) +
                      " connections; connection closed");
            socket.close(ec);
            Accept();
            return;
        }
        socket.set_option(asio::ip::tcp::no_delay(true), ec);
        auto session = std::make_shared<Session>(std::move(socket), context_);
        sessions_.insert(session);
        session->Start();
        Accept();
    });
}

void Daemon::Shutdown() {
    std::error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
    const std::vector<std::shared_ptr<Session>> open(sessions_.begin(), sessions_.end());
    for (const auto& session : open)
        session->Stop();
}

} // namespace tavo::hostd
