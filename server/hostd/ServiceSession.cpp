#include "ServiceSession.h"

#include "SignOnCheck.h"

namespace tavo::hostd {

ServiceSession::ServiceSession(std::shared_ptr<Stream> stream, IbmiContext& context,
                               std::uint16_t serverId, std::string service, std::string jobProgram)
    : IbmiSession(std::move(stream), context, serverId, std::move(service)),
      jobProgram_(std::move(jobProgram)) {}

void ServiceSession::Handle(const ibmi::Header& header, ibmi::ByteView datastream) {
    if (started_)
        return Serve(header, datastream);
    switch (header.requestId) {
    case ibmi::kXchgSeeds:
        return ExchangeSeeds(header, datastream);
    case ibmi::kStartServer:
        return StartServer(header, datastream);
    default:
        Close("request ID " + Hex(header.requestId) + " before a successful start");
    }
}

void ServiceSession::ExchangeSeeds(const ibmi::Header& header, ibmi::ByteView datastream) {
    clientSeed_ = ibmi::SeedsRequest::Decode(datastream).clientSeed;
    ibmi::SeedsReply reply;
    reply.serverId = serverId_;
    reply.serverSeed = serverSeed_;
    Send(reply.Encode(), header.correlation);
}

void ServiceSession::StartServer(const ibmi::Header& header, ibmi::ByteView datastream) {
    if (!clientSeed_)
        return Close("a start request before the exchange of seeds");
    auto request = ibmi::StartServerRequest::Decode(datastream);
    SignOnAttempt attempt{request.authenticationType, std::move(request.substitute), request.user,
                          serverSeed_, *clientSeed_};
    const int level = context_.passwordLevel;
    if (const auto refused = Throttled(attempt.user)) {
        ibmi::StartServerReply reply;
        reply.serverId = serverId_;
        reply.returnCode = *refused;
        return Send(reply.Encode(), header.correlation, true);
    }
    auto self = std::static_pointer_cast<ServiceSession>(shared_from_this());
    const auto busy = [self, correlation = header.correlation] {
        ibmi::StartServerReply reply;
        reply.serverId = self->serverId_;
        reply.returnCode = ibmi::kSignonHostBusy;
        self->Send(reply.Encode(), correlation, true);
    };
    OnCheck(
        [self, attempt = std::move(attempt), level,
         correlation = header.correlation](server::HostEngine& engine) -> Continuation {
            return [self, checked = CheckSignOn(engine, level, attempt), correlation,
                    user = ShownUser(attempt.user)] {
                const SignOnVerdict verdict = self->Settle(user, checked);
                ibmi::StartServerReply reply;
                reply.serverId = self->serverId_;
                reply.returnCode = verdict.returnCode;
                if (verdict.returnCode != 0) {
                    self->Log("sign-on as " + user + " refused: " + verdict.reason,
                              "sign-on refused: " + verdict.reason);
                    return self->Send(reply.Encode(), correlation, true);
                }
                self->started_ = true;
                self->user_ = user;
                self->Log(user + " signed on");
                reply.user = user;
                reply.jobName = self->context_.JobName(user, self->jobProgram_);
                self->Send(reply.Encode(), correlation);
            };
        },
        busy);
}

} // namespace tavo::hostd
