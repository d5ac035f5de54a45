#include "SignonSession.h"

#include "SignOnCheck.h"

namespace tavo::hostd {

namespace {
// What the sign-on server reports of itself: V7R5M0, and a level below 5, so clients
// send no message-option item we would not use.
constexpr std::uint32_t kVrm = 0x00070500;
constexpr std::uint16_t kServerLevel = 2;
constexpr std::uint32_t kCcsid = 37;
} // namespace

SignonSession::SignonSession(std::shared_ptr<Stream> stream, IbmiContext& context)
    : IbmiSession(std::move(stream), context, ibmi::kSignonServer, "as-signon") {}

void SignonSession::Handle(const ibmi::Header& header, ibmi::ByteView datastream) {
    switch (header.requestId) {
    case ibmi::kSignonXchgAttributes:
        return ExchangeAttributes(header, datastream);
    case ibmi::kSignonInfo:
        return SignOn(datastream);
    case ibmi::kSignonEnd:
        return Close("");
    default:
        Close("unknown request ID " + Hex(header.requestId));
    }
}

void SignonSession::ExchangeAttributes(const ibmi::Header& header, ibmi::ByteView datastream) {
    clientSeed_ = ibmi::SignonXchgAttributesRequest::Decode(datastream).clientSeed;
    ibmi::SignonXchgAttributesReply reply;
    reply.vrm = kVrm;
    reply.serverLevel = kServerLevel;
    reply.serverSeed = serverSeed_;
    reply.passwordLevel = static_cast<std::uint8_t>(context_.passwordLevel);
    reply.jobName = context_.JobName("QUSER", "QZSOSIGN");
    Send(reply.Encode(), header.correlation);
}

void SignonSession::SignOn(ibmi::ByteView datastream) {
    if (!clientSeed_)
        return Close("a sign-on before the exchange of attributes");
    auto request = ibmi::SignonInfoRequest::Decode(datastream);
    SignOnAttempt attempt{request.authenticationType, std::move(request.substitute), request.user,
                          serverSeed_, *clientSeed_};
    const int level = context_.passwordLevel;
    if (const auto refused = Throttled(attempt.user)) {
        ibmi::SignonInfoReply reply;
        reply.returnCode = *refused;
        reply.serverCcsid = kCcsid;
        return Send(reply.Encode(), request.correlation);
    }
    auto self = std::static_pointer_cast<SignonSession>(shared_from_this());
    OnEngine([self, attempt = std::move(attempt), level,
              correlation = request.correlation](server::HostEngine& engine) -> Continuation {
        return [self, checked = CheckSignOn(engine, level, attempt), correlation,
                user = ShownUser(attempt.user)] {
            const SignOnVerdict verdict = self->Settle(user, checked);
            if (verdict.returnCode == 0) {
                self->signedOn_ = true;
                self->user_ = user;
                self->Log(user + " signed on");
            } else {
                self->Log("sign-on as " + user + " refused: " + verdict.reason);
            }
            ibmi::SignonInfoReply reply;
            reply.returnCode = verdict.returnCode;
            reply.serverCcsid = kCcsid;
            self->Send(reply.Encode(), correlation);
        };
    });
}

} // namespace tavo::hostd
