#pragma once

#include <asio.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "Connection.h"
#include "EngineWorker.h"
#include "HostEngine.h"
#include "IbmiServers.h"
#include "Listener.h"
#include "Log.h"
#include "Session.h"
#include "Stream.h"

namespace tavo::hostd {

struct DaemonOptions {
    std::string host = "127.0.0.1";
    unsigned short port = 7475;
    // Written once listening (useful with port 0): the port, then the port mapper's.
    std::string portFile;
    std::chrono::seconds frameTimeout{10};
    std::size_t maxConnections = 256; // more are closed at once: each costs memory and a descriptor
    std::optional<IbmiOptions> ibmi;  // also serve the IBM i host servers
    std::optional<TlsFiles> tls;      // what every TLS listener presents
};

// tavo400-hostd serve: the host engine over TCP. Returns from Run on SIGTERM or SIGINT
// once the calls in flight have been answered; the caller then closes the database.
class Daemon {
  public:
    Daemon(server::HostEngine& engine, DaemonOptions options, Log& log);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Throws std::runtime_error when an address cannot be bound.
    void Listen();
    void Run();

  private:
    void Shutdown();
    void WritePortFile(unsigned short port, std::optional<unsigned short> portMapper);

    server::HostEngine& engine_;
    DaemonOptions options_;
    Log& log_;
    asio::io_context io_;
    asio::signal_set signals_;
    EngineWorker worker_;
    asio::thread_pool signOnPool_{1};
    Connections connections_;
    SessionContext context_;
    Listener listener_;
    std::shared_ptr<asio::ssl::context> tls_;
    std::unique_ptr<IbmiServers> ibmi_;
};

} // namespace tavo::hostd
