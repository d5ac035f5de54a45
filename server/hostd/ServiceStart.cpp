#include "ServiceStart.h"

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
    // The link calls these back while it keeps the connection, and so this, alive.
    const auto reply = [this, correlation = header.correlation](std::uint32_t code,
                                                                const std::string& user) {
        ibmi::StartServerReply out;
        out.serverId = link_.ServerId();
        out.returnCode = code;
        if (code != 0)
            return link_.Send(out.Encode(), correlation, true);
        started_ = true;
        out.user = user;
        out.jobName = link_.Context().JobName(user, jobProgram_);
        link_.Send(out.Encode(), correlation);
    };
    link_.SignOn(
        {request.authenticationType, std::move(request.substitute), request.user, serverSeed_,
         *clientSeed_},
        [reply](std::uint32_t code, const std::string&) { reply(code, {}); },
        [reply](std::uint32_t code, const SignOnVerdict&, const std::string& user) {
            reply(code, user);
        });
}

} // namespace tavo::hostd
