#include "Daemon.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <systemd/sd-daemon.h>

namespace tavo::hostd {

namespace {

bool IsLoopback(const std::string& host) {
    std::error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    return !ec && address.is_loopback();
}

} // namespace

Daemon::Daemon(server::HostEngine& engine, DaemonOptions options, Log& log)
    : engine_(engine), guard_(options.signOn), options_(std::move(options)), log_(log),
      signals_(io_, SIGINT, SIGTERM), worker_(engine),
      connections_(
          ConnectionLimits{.max = options_.maxConnections, .perUser = options_.maxUserConnections},
          &guard_),
      signOn_(io_, guard_, checks_, log_,
              [this](const Connection* c, const std::string& key) {
                  return connections_.SignedOn(c, key);
              }),
      context_{io_,
               worker_,
               signOn_,
               verified_,
               recent_,
               engine_,
               log_,
               options_.frameTimeout,
               options_.idleTimeout,
               [this](const Connection* gone) { connections_.Remove(gone); }},
      listener_(io_, connections_, log_,
                [this](asio::ip::tcp::socket socket) {
                    return HostProtocolHandler::Open(PlainStream(std::move(socket)), context_);
                }),
      tlsListener_(io_, connections_, log_, [this](asio::ip::tcp::socket socket) {
          return HostProtocolHandler::Open(TlsStream(std::move(socket), *tls_), context_);
      }) {
    // Read at once, so that a bad certificate or key stops the daemon before it serves.
    if (options_.tls)
        tls_ = ServerTlsContext(*options_.tls);
    if (options_.tlsListen && !tls_)
        throw std::runtime_error("--listen-tls needs --tls-cert and --tls-key");
    CheckPlainText(options_.host, "--listen");
    if (options_.ibmi) {
        // Under TLS, the plain servers are left out where the network could read them.
        if (options_.ibmi->tls)
            options_.ibmi->plain = options_.insecurePlaintext || IsLoopback(options_.ibmi->host);
        else
            CheckPlainText(options_.ibmi->host, "--ibmi");
    }
    if (options_.ibmi)
        ibmi_ = std::make_unique<IbmiServers>(io_, worker_, connections_, log_, signOn_,
                                              options_.frameTimeout, options_.idleTimeout,
                                              *options_.ibmi, tls_);
}

Daemon::~Daemon() {
    checks_.Join();
    worker_.Stop();
}

void Daemon::CheckPlainText(const std::string& host, const std::string& what) const {
    if (options_.insecurePlaintext || IsLoopback(host))
        return;
    throw std::runtime_error(
        what + " " + host + " is reachable from the network, and in plain text passwords and " +
        "messages cross it readable by anyone on the way: serve it under TLS (" +
        (what == "--ibmi" ? "--ibmi-tls" : "--listen-tls") +
        " with --tls-cert and --tls-key), or give --insecure-plaintext to serve it as it is");
}

void Daemon::Listen() {
    const auto port = listener_.Bind(options_.host, options_.port);
    log_.Line("listening on " + options_.host + ":" + std::to_string(port), Priority::Notice);
    std::optional<unsigned short> tlsPort;
    if (options_.tlsListen) {
        const auto& [host, wanted] = *options_.tlsListen;
        tlsPort = tlsListener_.Bind(host, wanted);
        log_.Line("listening under TLS on " + host + ":" + std::to_string(*tlsPort),
                  Priority::Notice);
    }
    std::optional<unsigned short> portMapper;
    if (ibmi_)
        portMapper = ibmi_->Listen();
    if (!options_.portFile.empty())
        WritePortFile(port, portMapper, tlsPort);
}

void Daemon::WritePortFile(unsigned short port, std::optional<unsigned short> portMapper,
                           std::optional<unsigned short> tlsPort) {
    // Written whole and then renamed, so a reader never sees half a number.
    const std::string partial = options_.portFile + ".part";
    {
        std::ofstream out(partial);
        out << port << '\n';
        if (portMapper || tlsPort)
            out << portMapper.value_or(0) << '\n';
        if (tlsPort)
            out << *tlsPort << '\n';
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
    TakeUnlocks();
    listener_.Start();
    if (options_.tlsListen)
        tlsListener_.Start();
    if (ibmi_)
        ibmi_->Start();
    // A Type=notify unit counts as started from here; without systemd this does nothing.
    sd_notify(0, "READY=1");
    io_.run();
    // Every session is closed and its reply sent: nothing more can reach the engine.
    checks_.Join();
    worker_.Stop();
    log_.Line("stopped");
}

void Daemon::TakeUnlocks() {
    unlockTimer_.expires_after(std::chrono::seconds(1));
    unlockTimer_.async_wait([this](std::error_code ec) {
        if (ec)
            return;
        worker_.Submit([this, guard = asio::make_work_guard(io_)](server::HostEngine& engine) {
            std::vector<std::string> users;
            try {
                users = engine.TakeUnlockRequests();
            } catch (const std::exception& e) {
                log_.Line(std::string("cannot read the unlock requests: ") + e.what(),
                          Priority::Warning);
            }
            asio::post(io_, [this, users = std::move(users)] {
                for (const auto& user : users)
                    log_.Line("user " + user +
                                  (guard_.Unlock(user) ? ": sign-on lock lifted"
                                                       : ": no sign-on lock to lift") +
                                  ", as tavo400-hostd user unlock or enable asked",
                              Priority::Notice);
                if (!stopping_)
                    TakeUnlocks();
            });
        });
    });
}

void Daemon::Shutdown() {
    stopping_ = true;
    unlockTimer_.cancel();
    listener_.Close();
    tlsListener_.Close();
    if (ibmi_)
        ibmi_->Close();
    connections_.StopAll();
}

} // namespace tavo::hostd
