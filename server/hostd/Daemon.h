#pragma once

#include <asio.hpp>
#include <chrono>
#include <memory>
#include <set>
#include <string>

#include "EngineWorker.h"
#include "HostEngine.h"
#include "Log.h"
#include "Session.h"

namespace tavo::hostd {

struct DaemonOptions {
    std::string host = "127.0.0.1";
    unsigned short port = 8475;
    std::string portFile; // written with the port once listening (useful with port 0)
    std::chrono::seconds frameTimeout{10};
    std::size_t maxConnections = 256; // more are closed at once: each costs memory and a descriptor
};

// tavo400-hostd serve: the host engine over TCP. Returns from Run on SIGTERM or SIGINT
// once the calls in flight have been answered; the caller then closes the database.
class Daemon {
  public:
    Daemon(server::HostEngine& engine, DaemonOptions options, Log& log);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Throws std::runtime_error when the address cannot be bound.
    void Listen();
    void Run();

  private:
    void Accept();
    void Shutdown();

    server::HostEngine& engine_;
    DaemonOptions options_;
    Log& log_;
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    asio::signal_set signals_;
    asio::steady_timer retry_;
    EngineWorker worker_;
    asio::thread_pool signOnPool_{1};
    SessionContext context_;
    std::set<std::shared_ptr<Session>> sessions_;
};

} // namespace tavo::hostd
