#pragma once

#include <asio.hpp>
#include <chrono>
#include <string>

#include "Connection.h"
#include "EngineWorker.h"
#include "IbmiSession.h"
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
    int passwordLevel = 3; // what the sign-on server reports, as QPWDLVL does
};

// The IBM i host servers a client of the real system talks to: the port mapper,
// as-signon, as-rmtcmd and as-dtaq, on the daemon's io thread and engine worker.
class IbmiServers {
  public:
    IbmiServers(asio::io_context& io, EngineWorker& worker, Connections& connections, Log& log,
                std::chrono::seconds frameTimeout, IbmiOptions options);

    // Binds all four; returns the port mapper's port. Throws std::runtime_error.
    unsigned short Listen();
    void Start();
    void Close();

  private:
    IbmiOptions options_;
    Log& log_;
    IbmiContext context_;
    ServicePorts ports_;
    Listener portMapper_;
    Listener signon_;
    Listener remoteCommand_;
    Listener dataQueue_;
};

} // namespace tavo::hostd
