// Changing a password through the IBM i sign-on server, and the expiry warning its
// sign-on information gives.
#include <chrono>
#include <cstdio>
#include <ctime>

#include "ChangePassword.h"
#include "IbmiBackend.h"
#include "PasswordLevels.h"
#include "cwbsignon.h"

namespace cwb {

namespace ib = tavo::ibmi;

namespace {

// IBM i's shipped QPWDEXPWRN, for a host that does not say.
constexpr std::uint32_t kDefaultWarningDays = 7;

ib::HostDate Today() {
    return ib::HostDate::At(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()),
                            true);
}

bool IsNewPasswordRule(std::uint32_t code) {
    // 0x0003xxxx are the password rules; 000B-000D are about the current password.
    const bool rule = (code >> 16) == 0x0003 && code != ib::kSignonPasswordIncorrect &&
                      code != ib::kSignonPasswordIncorrectLast &&
                      code != ib::kSignonPasswordExpired;
    return rule || code == ib::kSignonProtectedNewNotValid;
}

} // namespace

std::optional<int> ExpiryWarning(const ib::SignonInfoReply& info) {
    if (!info.passwordExpires)
        return std::nullopt;
    // The host's clock where it gives it: its dates are in its own local time.
    const int days = ib::DaysUntil(info.now.value_or(Today()), *info.passwordExpires);
    const auto warning = info.expiryWarningDays.value_or(kDefaultWarningDays);
    if (days < 0 || static_cast<std::uint32_t>(days) > warning)
        return std::nullopt;
    return days;
}

Status IbmiBackend::OpenSignon(IbmiConnection& signon, ib::Seed& clientSeed,
                               ib::SignonXchgAttributesReply& attributes, Deadline deadline) {
    if (auto status = signon.Dial(ib::kSignonService, system_.signonPort, deadline); !status.ok())
        return status;
    ib::SignonXchgAttributesRequest hello;
    hello.clientSeed = clientSeed = NewSeed();
    ib::Bytes reply;
    if (auto status = signon.Exchange(hello.Encode(), &reply, deadline); !status.ok())
        return status;
    attributes = ib::SignonXchgAttributesReply::Decode(reply);
    if (attributes.returnCode != 0) {
        signon.Close();
        return SignOnRefused(attributes.returnCode);
    }
    // Before anything is computed from the password: the level is the host's word alone.
    auto levelAllowed =
        PasswordLevels::OfUser().Check(system_, system_.user, attributes.passwordLevel);
    if (!levelAllowed.ok())
        signon.Close();
    return levelAllowed;
}

Status IbmiBackend::ChangePassword(std::string_view user, std::string_view oldPassword,
                                   std::string_view newPassword) {
    if (auto status = ClientTlsContext(system_, tlsContext_); !status.ok())
        return status;
    system_.user = std::string(user);
    const Deadline deadline = peer_.Next();
    IbmiConnection signon(ib::kSignonServer, system_, tlsContext_);
    try {
        ib::Seed clientSeed{};
        ib::SignonXchgAttributesReply attributes;
        if (auto status = OpenSignon(signon, clientSeed, attributes, deadline); !status.ok())
            return status;
        const auto scheme = ib::SchemeForLevel(attributes.passwordLevel);
        ib::ChangePasswordRequest request;
        request.authenticationType = ib::AuthenticationType(scheme);
        request.user = system_.user;
        try {
            request.change = ib::ProtectPasswordChange(scheme, user, oldPassword, newPassword,
                                                       attributes.serverSeed, clientSeed);
        } catch (const ib::PasswordError& e) {
            signon.Close();
            return Status::Fail(CWB_NEW_PASSWORD_REFUSED,
                                "The password of " + system_.user + " on " + peer_.where +
                                    " cannot be changed at its password level " +
                                    std::to_string(attributes.passwordLevel) + ": " + e.what());
        }
        request.returnMessages = attributes.serverLevel >= 5;
        ib::Bytes bytes;
        if (auto status = signon.Exchange(request.Encode(), &bytes, deadline); !status.ok())
            return status;
        const auto reply = ib::ChangePasswordReply::Decode(bytes);
        if (reply.correlation != request.correlation)
            return signon.Unreadable("a reply to another request");
        signon.Exchange(ib::EncodeSignonEnd(2), nullptr, deadline);
        signon.Close();
        if (reply.returnCode == 0) {
            // The password has changed whatever becomes of the level: a file that cannot
            // keep it fails the next sign-on, which says why.
            PasswordLevels::OfUser().Remember(system_, system_.user, attributes.passwordLevel);
            return Status::Ok();
        }
        if (!IsNewPasswordRule(reply.returnCode))
            return SignOnRefused(reply.returnCode, reply.messages);
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", reply.returnCode);
        Status refused = Status::Fail(CWB_NEW_PASSWORD_REFUSED,
                                      "The host " + peer_.where + " refused the new password of " +
                                          system_.user + " (" + code + ").");
        for (const auto& m : reply.messages)
            refused.messages.push_back(m.Display());
        return refused;
    } catch (const ib::DatastreamError& e) {
        return signon.Unreadable(e.what());
    } catch (const ib::SubstituteError& e) {
        signon.Close();
        return Status::Fail(CWB_SECURITY_ERROR,
                            "Cannot change the password on " + peer_.where + ": " + e.what());
    }
}

} // namespace cwb
