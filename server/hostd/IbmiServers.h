#pragma once

#include <asio.hpp>
#include <chrono>
#include <list>
#include <memory>
#include <string>

#include "Connection.h"
#include "EngineWorker.h"
#include "HostLevels.h"
#include "IbmiLink.h"
#include "Listener.h"
#include "Log.h"
#include "PortMapperSession.h"

namespace tavo::hostd {

struct IbmiOptions {
    std::string host = "127.0.0.1";
    unsigned short portMapperPort = 0; // 0: the system picks each of these
    unsigned short signonPort = 0;
    unsigned short remoteCommandPort = 0;
    unsigned short dataQueuePort = 0;
    int passwordLevel = 3;            // what the sign-on server reports, as QPWDLVL does
    std::uint32_t ccsid = 37;         // one EbcdicCodePage has
    int hostLevel = kNewestHostLevel; // the sign-on server's datastream level
    // The same three servers under TLS too, as as-signon-s, as-rmtcmd-s and as-dtaq-s.
    bool tls = false;
    bool plain = true; // false: only the TLS servers, behind the port mapper
    unsigned short signonTlsPort = 0;
    unsigned short remoteCommandTlsPort = 0;
    unsigned short dataQueueTlsPort = 0;
};

// The IBM i host servers a client of the real system talks to: the port mapper (always
// in the clear, as on IBM i), as-signon, as-rmtcmd and as-dtaq, and with TLS their "-s"
// twins, on the daemon's io thread and engine worker.
class IbmiServers {
  public:
    // `tls` is the daemon's TLS context; needed when options.tls is set.
    IbmiServers(asio::io_context& io, EngineWorker& worker, Connections& connections, Log& log,
                SignOnService& signOn, std::chrono::seconds frameTimeout,
                std::chrono::seconds idleTimeout, IbmiOptions options,
                std::shared_ptr<asio::ssl::context> tls = nullptr);

    // Binds them all; returns the port mapper's port. Throws std::runtime_error.
    unsigned short Listen();
    void Start();
    void Close();

  private:
    // A host server's listener, under the name the port mapper gives it out by.
    struct Server {
        Server(asio::io_context& io, Connections& connections, Log& log, std::string service,
               unsigned short port, Listener::Factory make)
            : service(std::move(service)), port(port),
              listener(io, connections, log, std::move(make)) {}
        std::string service;
        unsigned short port; // asked for; then bound
        Listener listener;
    };

    IbmiOptions options_;
    Log& log_;
    std::shared_ptr<asio::ssl::context> tls_;
    IbmiContext context_;
    ServicePorts ports_;
    Listener portMapper_;
    std::list<Server> servers_;
};

} // namespace tavo::hostd
