#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "Connection.h"
#include "EngineWorker.h"
#include "HostEngine.h"
#include "HostProtocolHandler.h"
#include "IbmiServers.h"
#include "Listener.h"
#include "Log.h"
#include "SignOnChecks.h"
#include "Stream.h"

namespace tavo::hostd {

struct DaemonOptions {
    std::string host = "127.0.0.1";
    unsigned short port = 7475;
    // Written once listening (useful with port 0): the port, then the port mapper's.
    std::string portFile;
    std::chrono::seconds frameTimeout{10};
    std::chrono::seconds idleTimeout{900}; // a signed-on connection between requests
    std::size_t maxConnections = 256; // more are closed at once: each costs memory and a descriptor
    std::size_t maxUserConnections = 16; // signed on as one user from one address
    std::optional<IbmiOptions> ibmi;     // also serve the IBM i host servers
    std::optional<TlsFiles> tls;         // what every TLS listener presents
    // Our protocol under TLS too, on this address and port.
    std::optional<std::pair<std::string, unsigned short>> tlsListen;
    // Plain text on an address other hosts can reach carries passwords in the clear:
    // served only when asked for by name.
    bool insecurePlaintext = false;
    SignOnLimits signOn;
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
    void WritePortFile(unsigned short port, std::optional<unsigned short> portMapper,
                       std::optional<unsigned short> tlsPort);
    // Throws unless `host` is a loopback address or plain text on the network was allowed.
    void CheckPlainText(const std::string& host, const std::string& what) const;
    // Lifts the locks that `tavo400-hostd user unlock` asked for, every second.
    void TakeUnlocks();

    server::HostEngine& engine_;
    // Before the io context and the sessions: a check under way holds a ticket of it.
    SignOnGuard guard_;
    DaemonOptions options_;
    Log& log_;
    asio::io_context io_;
    asio::steady_timer unlockTimer_{io_};
    bool stopping_ = false; // io thread only
    asio::signal_set signals_;
    EngineWorker worker_;
    SignOnChecks checks_{io_, engine_};
    VerifiedPasswords verified_;
    RecentReplies recent_;
    Connections connections_;
    SignOnService signOn_;
    SessionContext context_;
    Listener listener_;
    Listener tlsListener_;
    std::shared_ptr<asio::ssl::context> tls_;
    std::unique_ptr<IbmiServers> ibmi_;
};

} // namespace tavo::hostd
