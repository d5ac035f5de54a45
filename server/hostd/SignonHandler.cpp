#include "SignonHandler.h"

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

} // namespace

SignonHandler::SignonHandler(IbmiLink& link) : link_(link) {}

void SignonHandler::Handle(const ibmi::Header& header, ibmi::ByteView datastream) {
    switch (header.requestId) {
    case ibmi::kSignonXchgAttributes:
        return ExchangeAttributes(header, datastream);
    case ibmi::kSignonInfo:
        return SignOn(datastream);
    case ibmi::kChangePassword:
        return ChangePassword(datastream);
    case ibmi::kSignonEnd:
        return link_.Close("");
    default:
        link_.Close("unknown request ID " + IbmiLink::Hex(header.requestId));
    }
}

void SignonHandler::ExchangeAttributes(const ibmi::Header& header, ibmi::ByteView datastream) {
    clientSeed_ = ibmi::SignonXchgAttributesRequest::Decode(datastream).clientSeed;
    ibmi::SignonXchgAttributesReply reply;
    reply.vrm = kVrm;
    reply.serverLevel = static_cast<std::uint16_t>(link_.Context().hostLevel);
    reply.serverSeed = serverSeed_;
    reply.passwordLevel = static_cast<std::uint8_t>(link_.Context().passwordLevel);
    reply.jobName = link_.Context().JobName("QUSER", "QZSOSIGN");
    link_.Send(reply.Encode(), header.correlation);
}

void SignonHandler::SignOn(ibmi::ByteView datastream) {
    if (!clientSeed_)
        return link_.Close("a sign-on before the exchange of attributes");
    auto request = ibmi::SignonInfoRequest::Decode(datastream);
    // A server below the level that offers messages does not know the item asking for them.
    const bool messages =
        request.returnMessages && link_.Context().hostLevel >= kSignonMessagesLevel;
    const auto refused = [this, messages, correlation = request.correlation](
                             std::uint32_t code, const std::string& text) {
        ibmi::SignonInfoReply reply;
        reply.returnCode = code;
        reply.serverCcsid = link_.Context().ccsid;
        if (messages) {
            ibmi::HostMessage message;
            message.text = text;
            reply.messages = {message};
        }
        link_.Send(reply.Encode(), correlation);
    };
    link_.SignOn({request.authenticationType, std::move(request.substitute), request.user,
                  serverSeed_, *clientSeed_},
                 refused,
                 [this, messages, correlation = request.correlation](
                     std::uint32_t code, const SignOnVerdict& verdict, const std::string& user) {
                     ibmi::SignonInfoReply reply;
                     reply.returnCode = code;
                     reply.serverCcsid = link_.Context().ccsid;
                     if (messages)
                         reply.messages = RefusalMessages(code, user);
                     if (code == 0) {
                         signedOn_ = true;
                         if (verdict.passwordExpires) {
                             reply.now = HostDateAt(SecondsNow());
                             reply.passwordExpires = HostDateAt(*verdict.passwordExpires);
                             reply.expiryWarningDays = kExpiryWarningDays;
                         }
                     }
                     link_.Send(reply.Encode(), correlation);
                 });
}

void SignonHandler::ChangePassword(ibmi::ByteView datastream) {
    if (!clientSeed_)
        return link_.Close("a change of password before the exchange of attributes");
    auto request = ibmi::ChangePasswordRequest::Decode(datastream);
    PasswordChangeAttempt attempt{{request.authenticationType, std::move(request.change.substitute),
                                   request.user, serverSeed_, *clientSeed_},
                                  std::move(request.change)};
    const bool messages =
        request.returnMessages && link_.Context().hostLevel >= kSignonMessagesLevel;
    const std::string user = IbmiLink::ShownUser(request.user);
    const auto reply = [this, correlation = request.correlation, messages,
                        user](std::uint32_t code, const std::string& text) {
        ibmi::ChangePasswordReply out{correlation, code, {}};
        if (messages && !text.empty()) {
            ibmi::HostMessage message;
            message.text = text;
            out.messages = {message};
        } else if (messages) {
            out.messages = RefusalMessages(code, user);
        }
        link_.Send(out.Encode(), correlation);
    };
    link_.SignOn(
        request.user, "password of " + user + " changed",
        "password change for " + user + " refused: ",
        [attempt = std::move(attempt),
         level = link_.Context().passwordLevel](server::HostEngine& engine) {
            const server::Status changed = hostd::ChangePassword(engine, level, attempt);
            // The guard counts a wrong old password as it counts a wrong sign-on; a right
            // one signs the connection on, whether or not the new password is taken.
            const bool right = changed.code != ibmi::kSignonPasswordIncorrect;
            return SignOnFinding{right, right, changed};
        },
        reply,
        [reply](const SignOnDecision& decision) {
            const bool proven = decision.kind == SignOnDecision::Kind::Checked &&
                                decision.status.code != ibmi::kSignonPasswordIncorrect;
            reply(IbmiLink::ReturnCode(decision), proven ? decision.status.text : "");
        });
}

} // namespace tavo::hostd
