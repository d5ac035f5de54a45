#include "Daemon.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <systemd/sd-daemon.h>

namespace tavo::hostd {

Daemon::Daemon(server::HostEngine& engine, DaemonOptions options, Log& log)
    : engine_(engine), options_(std::move(options)), log_(log), signals_(io_, SIGINT, SIGTERM),
      worker_(engine),
      connections_(options_.maxConnections), context_{io_,
                                                      worker_,
                                                      signOnPool_,
                                                      engine_,
                                                      log_,
                                                      options_.frameTimeout,
                                                      [this](const Connection* gone) {
                                                          connections_.Remove(gone);
                                                      }},
      listener_(io_, connections_, log_, [this](asio::ip::tcp::socket socket) {
          return std::make_shared<Session>(std::move(socket), context_);
      }) {
    // Read at once, so that a bad certificate or key stops the daemon before it serves.
    if (options_.tls)
        tls_ = ServerTlsContext(*options_.tls);
    if (options_.ibmi)
        ibmi_ = std::make_unique<IbmiServers>(io_, worker_, connections_, log_,
                                              options_.frameTimeout, *options_.ibmi, tls_);
}

Daemon::~Daemon() {
    signOnPool_.join();
    worker_.Stop();
}

void Daemon::Listen() {
    const auto port = listener_.Bind(options_.host, options_.port);
    log_.Line("listening on " + options_.host + ":" + std::to_string(port), Priority::Notice);
    std::optional<unsigned short> portMapper;
    if (ibmi_)
        portMapper = ibmi_->Listen();
    if (!options_.portFile.empty())
        WritePortFile(port, portMapper);
}

void Daemon::WritePortFile(unsigned short port, std::optional<unsigned short> portMapper) {
    // Written whole and then renamed, so a reader never sees half a number.
    const std::string partial = options_.portFile + ".part";
    {
        std::ofstream out(partial);
        out << port << '\n';
        if (portMapper)
            out << *portMapper << '\n';
        if (!out)
            throw std::runtime_error("cannot write " + partial);
    }
    std::filesystem::rename(partial, options_.portFile);
}

void Daemon::Run() {
    signals_.async_wait([this](std::error_code ec, int signal) {
        if (!ec) {
            log_.Line(std::string("signal ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                          ": stopping",
                      Priority::Notice);
            sd_notify(0, "STOPPING=1");
            Shutdown();
        }
    });
    listener_.Start();
    if (ibmi_)
        ibmi_->Start();
    // A Type=notify unit counts as started from here; without systemd this does nothing.
    sd_notify(0, "READY=1");
    io_.run();
    // Every session is closed and its reply sent: nothing more can reach the engine.
    signOnPool_.join();
    worker_.Stop();
    log_.Line("stopped");
}

void Daemon::Shutdown() {
    listener_.Close();
    if (ibmi_)
        ibmi_->Close();
    connections_.StopAll();
}

} // namespace tavo::hostd
