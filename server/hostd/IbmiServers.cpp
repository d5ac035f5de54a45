#include "IbmiServers.h"

#include "DataQueueSession.h"
#include "Messages.h"
#include "RemoteCommandSession.h"
#include "SignonSession.h"

namespace tavo::hostd {

namespace {

template <typename S> Listener::Factory Make(IbmiContext& context) {
    return [&context](asio::ip::tcp::socket socket) {
        return std::make_shared<S>(std::move(socket), context);
    };
}

} // namespace

IbmiServers::IbmiServers(asio::io_context& io, EngineWorker& worker, Connections& connections,
                         Log& log, std::chrono::seconds frameTimeout, IbmiOptions options)
    : options_(std::move(options)),
      log_(log), context_{io,
                          worker,
                          log,
                          frameTimeout,
                          options_.passwordLevel,
                          [&connections](const Connection* gone) { connections.Remove(gone); }},
      portMapper_(io, connections, log,
                  [this](asio::ip::tcp::socket socket) {
                      return std::make_shared<PortMapperSession>(std::move(socket), context_,
                                                                 ports_);
                  }),
      signon_(io, connections, log, Make<SignonSession>(context_)),
      remoteCommand_(io, connections, log, Make<RemoteCommandSession>(context_)),
      dataQueue_(io, connections, log, Make<DataQueueSession>(context_)) {}

unsigned short IbmiServers::Listen() {
    const std::string& host = options_.host;
    ports_[std::string(ibmi::kSignonService)] = signon_.Bind(host, options_.signonPort);
    ports_[std::string(ibmi::kRemoteCommandService)] =
        remoteCommand_.Bind(host, options_.remoteCommandPort);
    ports_[std::string(ibmi::kDataQueueService)] = dataQueue_.Bind(host, options_.dataQueuePort);
    const unsigned short mapper = portMapper_.Bind(host, options_.portMapperPort);
    log_.Line("IBM i host servers on " + host + ": port mapper " + std::to_string(mapper) +
              ", as-signon " + std::to_string(ports_.at(std::string(ibmi::kSignonService))) +
              ", as-rmtcmd " + std::to_string(ports_.at(std::string(ibmi::kRemoteCommandService))) +
              ", as-dtaq " + std::to_string(ports_.at(std::string(ibmi::kDataQueueService))) +
              "; password level " + std::to_string(options_.passwordLevel));
    return mapper;
}

void IbmiServers::Start() {
    for (Listener* listener : {&portMapper_, &signon_, &remoteCommand_, &dataQueue_})
        listener->Start();
}

void IbmiServers::Close() {
    for (Listener* listener : {&portMapper_, &signon_, &remoteCommand_, &dataQueue_})
        listener->Close();
}

} // namespace tavo::hostd
