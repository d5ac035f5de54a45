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
    const std::string user = ShownUser(attempt.user);
    auto self = std::static_pointer_cast<ServiceSession>(shared_from_this());
    const auto reply = [self, correlation = header.correlation](std::uint32_t code) {
        ibmi::StartServerReply out;
        out.serverId = self->serverId_;
        out.returnCode = code;
        self->Send(out.Encode(), correlation, true);
    };
    auto verdict = std::make_shared<SignOnVerdict>();
    const std::string sent = attempt.user; // before the check takes the attempt
    IbmiSession::SignOn(
        sent, user + " signed on",
        "sign-on as " + user + " refused: ", Checking(std::move(attempt), verdict),
        [reply](std::uint32_t code, const std::string&) { reply(code); },
        [self, verdict, user, correlation = header.correlation](const SignOnDecision& decision) {
            ibmi::StartServerReply out;
            out.serverId = self->serverId_;
            out.returnCode = ReturnCode(decision, verdict->returnCode);
            if (out.returnCode != 0)
                return self->Send(out.Encode(), correlation, true);
            self->started_ = true;
            self->user_ = user;
            out.user = user;
            out.jobName = self->context_.JobName(user, self->jobProgram_);
            self->Send(out.Encode(), correlation);
        });
}

} // namespace tavo::hostd
