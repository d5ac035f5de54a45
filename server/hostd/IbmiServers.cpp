#include "IbmiServers.h"

#include <stdexcept>

#include "DataQueueHandler.h"
#include "Messages.h"
#include "RemoteCommandHandler.h"
#include "SignonHandler.h"

namespace tavo::hostd {

namespace {

template <typename H>
Listener::Factory Make(IbmiContext& context, asio::ssl::context* tls, std::uint16_t serverId,
                       std::string_view service) {
    return [&context, tls, serverId, service](asio::ip::tcp::socket socket) {
        return IbmiLink::Open(
            tls ? TlsStream(std::move(socket), *tls) : PlainStream(std::move(socket)), context,
            serverId, service, [](IbmiLink& link) { return std::make_unique<H>(link); });
    };
}

} // namespace

IbmiServers::IbmiServers(asio::io_context& io, EngineWorker& worker, Connections& connections,
                         Log& log, SignOnService& signOn, std::chrono::seconds frameTimeout,
                         std::chrono::seconds idleTimeout, IbmiOptions options,
                         std::shared_ptr<asio::ssl::context> tls)
    : options_(std::move(options)), log_(log),
      tls_(std::move(tls)), context_{io,
                                     worker,
                                     log,
                                     signOn,
                                     frameTimeout,
                                     idleTimeout,
                                     options_.passwordLevel,
                                     options_.hostLevel,
                                     [&connections](const Connection* gone) {
                                         connections.Remove(gone);
                                     }},
      portMapper_(io, connections, log, [this](asio::ip::tcp::socket socket) {
          return std::make_shared<PortMapperSession>(std::move(socket), context_, ports_);
      }) {
    context_.ccsid = options_.ccsid;
    if (options_.tls && !tls_)
        throw std::runtime_error("the IBM i host servers under TLS need a certificate and key");
    // The same handlers either way; only the stream under them differs.
    const auto add = [&](asio::ssl::context* secure) {
        const std::string suffix(secure ? kTlsServiceSuffix : "");
        servers_.emplace_back(
            io, connections, log, std::string(ibmi::kSignonService) + suffix,
            secure ? options_.signonTlsPort : options_.signonPort,
            Make<SignonHandler>(context_, secure, ibmi::kSignonServer, ibmi::kSignonService));
        servers_.emplace_back(
            io, connections, log, std::string(ibmi::kRemoteCommandService) + suffix,
            secure ? options_.remoteCommandTlsPort : options_.remoteCommandPort,
            Make<RemoteCommandHandler>(context_, secure, ibmi::kRemoteCommandServer,
                                       ibmi::kRemoteCommandService));
        servers_.emplace_back(io, connections, log, std::string(ibmi::kDataQueueService) + suffix,
                              secure ? options_.dataQueueTlsPort : options_.dataQueuePort,
                              Make<DataQueueHandler>(context_, secure, ibmi::kDataQueueServer,
                                                     ibmi::kDataQueueService));
    };
    if (options_.plain)
        add(nullptr);
    if (options_.tls)
        add(tls_.get());
}

unsigned short IbmiServers::Listen() {
    const std::string& host = options_.host;
    std::string bound;
    for (Server& server : servers_) {
        server.port = server.listener.Bind(host, server.port);
        ports_[server.service] = server.port;
        bound += ", " + server.service + " " + std::to_string(server.port);
    }
    const unsigned short mapper = portMapper_.Bind(host, options_.portMapperPort);
    log_.Line("IBM i host servers on " + host + ": port mapper " + std::to_string(mapper) + bound +
              "; password level " + std::to_string(options_.passwordLevel) + "; datastream level " +
              std::to_string(options_.hostLevel) + "; CCSID " + std::to_string(options_.ccsid));
    return mapper;
}

void IbmiServers::Start() {
    portMapper_.Start();
    for (Server& server : servers_)
        server.listener.Start();
}

void IbmiServers::Close() {
    portMapper_.Close();
    for (Server& server : servers_)
        server.listener.Close();
}

} // namespace tavo::hostd
