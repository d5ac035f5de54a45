#include "ServiceStart.h"

#include "SignOnCheck.h"

namespace tavo::hostd {

ServiceStart::ServiceStart(IbmiLink& link, std::string jobProgram)
    : link_(link), jobProgram_(std::move(jobProgram)) {}

void ServiceStart::Handle(const ibmi::Header& header, ibmi::ByteView datastream) {
    switch (header.requestId) {
    case ibmi::kXchgSeeds:
        return ExchangeSeeds(header, datastream);
    case ibmi::kStartServer:
        return StartServer(header, datastream);
    default:
        link_.Close("request ID " + IbmiLink::Hex(header.requestId) + " before a successful start");
    }
}

void ServiceStart::ExchangeSeeds(const ibmi::Header& header, ibmi::ByteView datastream) {
    clientSeed_ = ibmi::SeedsRequest::Decode(datastream).clientSeed;
    ibmi::SeedsReply reply;
    reply.serverId = link_.ServerId();
    reply.serverSeed = serverSeed_;
    link_.Send(reply.Encode(), header.correlation);
}

void ServiceStart::StartServer(const ibmi::Header& header, ibmi::ByteView datastream) {
    if (!clientSeed_)
        return link_.Close("a start request before the exchange of seeds");
    auto request = ibmi::StartServerRequest::Decode(datastream);
    SignOnAttempt attempt{request.authenticationType, std::move(request.substitute), request.user,
                          serverSeed_, *clientSeed_};
    const std::string user = IbmiLink::ShownUser(attempt.user);
    // The link calls these back while it keeps the connection, and so this, alive.
    const auto reply = [this, correlation = header.correlation](std::uint32_t code) {
        ibmi::StartServerReply out;
        out.serverId = link_.ServerId();
        out.returnCode = code;
        link_.Send(out.Encode(), correlation, true);
    };
    auto verdict = std::make_shared<SignOnVerdict>();
    const std::string sent = attempt.user; // before the check takes the attempt
    link_.SignOn(
        sent, user + " signed on",
        "sign-on as " + user + " refused: ", link_.Checking(std::move(attempt), verdict),
        [reply](std::uint32_t code, const std::string&) { reply(code); },
        [this, verdict, user, correlation = header.correlation](const SignOnDecision& decision) {
            ibmi::StartServerReply out;
            out.serverId = link_.ServerId();
            out.returnCode = IbmiLink::ReturnCode(decision, verdict->returnCode);
            if (out.returnCode != 0)
                return link_.Send(out.Encode(), correlation, true);
            started_ = true;
            link_.SignedOnAs(user);
            out.user = user;
            out.jobName = link_.Context().JobName(user, jobProgram_);
            link_.Send(out.Encode(), correlation);
        });
}

} // namespace tavo::hostd
