#include "SignonSession.h"

#include "ChangePassword.h"
#include "HostLevels.h"
#include "PasswordChange.h"
#include "SignOnCheck.h"

namespace tavo::hostd {

namespace {
// What the sign-on server reports of itself besides its datastream level: V7R5M0.
constexpr std::uint32_t kVrm = 0x00070500;

// The message IBM i gives with a refusal, for a client that asked for messages: the
// same words for an unknown user as for a wrong password, as the return code is.
std::vector<ibmi::HostMessage> RefusalMessages(std::uint32_t returnCode, const std::string& user) {
    ibmi::HostMessage message;
    switch (returnCode) {
    case ibmi::kSignonPasswordIncorrect:
    case ibmi::kSignonPasswordIncorrectLast:
        message.id = "CPF22E2";
        message.text = "Password not correct for user profile " + user + ".";
        break;
    case ibmi::kSignonUserDisabled:
        message.id = "CPF22E3";
        message.text = "User profile " + user + " is disabled.";
        break;
    case ibmi::kSignonPasswordExpired:
        message.id = "CPF22E4";
        message.text = "Password for user profile " + user + " has expired.";
        break;
    default:
        return {};
    }
    // The message file's &1; a name no profile can have is left out rather than cut.
    if (user.size() <= 10)
        message.substitution = ibmi::ObjectName(user);
    return {message};
}

ibmi::HostMessage BusyMessage() {
    ibmi::HostMessage message;
    message.text = "The host is busy checking other sign-ons; try again in a moment.";
    return message;
}

} // namespace

SignonSession::SignonSession(std::shared_ptr<Stream> stream, IbmiContext& context)
    : IbmiSession(std::move(stream), context, ibmi::kSignonServer, "as-signon") {}

void SignonSession::Handle(const ibmi::Header& header, ibmi::ByteView datastream) {
    switch (header.requestId) {
    case ibmi::kSignonXchgAttributes:
        return ExchangeAttributes(header, datastream);
    case ibmi::kSignonInfo:
        return SignOn(datastream);
    case ibmi::kChangePassword:
        return ChangePassword(datastream);
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
    reply.serverLevel = static_cast<std::uint16_t>(context_.hostLevel);
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
    // A server below the level that offers messages does not know the item asking for them.
    const bool messages = request.returnMessages && context_.hostLevel >= kSignonMessagesLevel;
    if (const auto refused = Throttled(attempt.user)) {
        ibmi::SignonInfoReply reply;
        reply.returnCode = *refused;
        reply.serverCcsid = context_.ccsid;
        if (messages)
            reply.messages = ThrottledMessages();
        return Send(reply.Encode(), request.correlation);
    }
    auto self = std::static_pointer_cast<SignonSession>(shared_from_this());
    const auto busy = [self, messages, correlation = request.correlation] {
        ibmi::SignonInfoReply reply;
        reply.returnCode = ibmi::kSignonHostBusy;
        reply.serverCcsid = self->context_.ccsid;
        if (messages)
            reply.messages = {BusyMessage()};
        self->Send(reply.Encode(), correlation);
    };
    OnCheck(
        [self, attempt = std::move(attempt), level, messages,
         correlation = request.correlation](server::HostEngine& engine) -> Continuation {
            return [self, checked = CheckSignOn(engine, level, attempt), correlation, messages,
                    user = ShownUser(attempt.user)] {
                const SignOnVerdict verdict = self->Settle(user, checked);
                if (verdict.returnCode == 0) {
                    self->signedOn_ = true;
                    self->user_ = user;
                    self->Log(user + " signed on");
                } else {
                    self->Log("sign-on as " + user + " refused: " + verdict.reason,
                              "sign-on refused: " + verdict.reason);
                }
                ibmi::SignonInfoReply reply;
                reply.returnCode = verdict.returnCode;
                reply.serverCcsid = self->context_.ccsid;
                if (messages)
                    reply.messages = RefusalMessages(verdict.returnCode, user);
                if (verdict.returnCode == 0 && verdict.passwordExpires) {
                    reply.now = HostDateAt(SecondsNow());
                    reply.passwordExpires = HostDateAt(*verdict.passwordExpires);
                    reply.expiryWarningDays = kExpiryWarningDays;
                }
                self->Send(reply.Encode(), correlation);
            };
        },
        busy);
}

void SignonSession::ChangePassword(ibmi::ByteView datastream) {
    if (!clientSeed_)
        return Close("a change of password before the exchange of attributes");
    auto request = ibmi::ChangePasswordRequest::Decode(datastream);
    PasswordChangeAttempt attempt{{request.authenticationType, std::move(request.change.substitute),
                                   request.user, serverSeed_, *clientSeed_},
                                  std::move(request.change)};
    const bool messages = request.returnMessages && context_.hostLevel >= kSignonMessagesLevel;
    const auto reply = [this, correlation = request.correlation, messages,
                        user = ShownUser(request.user)](std::uint32_t code,
                                                        const std::string& text) {
        ibmi::ChangePasswordReply out{correlation, code, {}};
        if (messages && !text.empty()) {
            ibmi::HostMessage message;
            message.text = text;
            out.messages = {message};
        } else if (messages) {
            out.messages = RefusalMessages(code, user);
        }
        Send(out.Encode(), correlation);
    };
    if (const auto refused = Throttled(attempt.signOn.user))
        return reply(*refused, ThrottledMessages().front().text);
    auto self = std::static_pointer_cast<SignonSession>(shared_from_this());
    OnCheck(
        [self, attempt = std::move(attempt), level = context_.passwordLevel,
         reply](server::HostEngine& engine) -> Continuation {
            return [self, verdict = hostd::ChangePassword(engine, level, attempt), reply,
                    user = ShownUser(attempt.signOn.user)] {
                // The guard counts a wrong old password as it counts a wrong sign-on.
                const std::uint32_t proof = verdict.oldPasswordRight ? 0 : verdict.returnCode;
                const SignOnVerdict settled = self->Settle(user, {proof, verdict.reason});
                const std::uint32_t code =
                    settled.returnCode != 0 ? settled.returnCode : verdict.returnCode;
                if (code == 0) {
                    self->Log("password of " + user + " changed");
                } else {
                    self->Log("password change for " + user + " refused: " +
                              (settled.returnCode != 0 ? settled.reason : verdict.reason));
                }
                reply(code, settled.returnCode != 0 ? "" : verdict.text);
            };
        },
        [reply] { reply(ibmi::kSignonHostBusy, BusyMessage().text); });
}

} // namespace tavo::hostd
