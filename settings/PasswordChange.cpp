#include "PasswordChange.h"

#include <mutex>
#include <set>

#include "MessagePresenter.h"
#include "ProcessState.h"
#include "Resource.h"
#include "Strings.h"
#include "cwbsignon.h"
#include "cwbsv.h"

namespace {

std::mutex askedMutex;
std::set<std::string> asked; // systems whose expiry warning was shown in this run

[[maybe_unused]] const bool registered = RegisterProcessReset([](KeepHosts) {
    std::lock_guard lock(askedMutex);
    asked.clear();
});

std::string ErrorTexts(cwbSV_ErrHandle errors) {
    std::string text;
    unsigned long count = 0;
    cwbSV_GetErrCount(errors, &count);
    for (unsigned long i = 1; i <= count; ++i) {
        std::string line(1024, '\0');
        unsigned long needed = 0;
        if (cwbSV_GetErrTextIndexed(errors, i, line.data(), line.size(), &needed) ==
            CWB_BUFFER_OVERFLOW) {
            line.resize(needed);
            cwbSV_GetErrTextIndexed(errors, i, line.data(), line.size(), &needed);
        }
        line.resize(line.find('\0') == std::string::npos ? line.size() : line.find('\0'));
        text += (text.empty() ? "" : " ") + line;
    }
    return text;
}

} // namespace

std::string SignOnUser(const std::string& system) {
    std::string user(4 * CWBCO_MAX_USER_ID + 1, '\0');
    unsigned long needed = 0;
    if (cwbCO_GetSignOnUserID(system.c_str(), user.data(), user.size(), &needed) != CWB_OK)
        return {};
    user.resize(user.find('\0'));
    return user;
}

std::string CheckPasswordChangeForm(const PasswordChangeForm& form) {
    if (form.user.empty() || form.oldPassword.empty() || form.newPassword.empty())
        return LoadString(IDS_PASSWORD_FIELDS_EMPTY);
    if (form.newPassword != form.confirmation)
        return LoadString(IDS_NEW_PASSWORDS_DIFFER);
    return {};
}

PasswordChangeResult ChangePassword(const PasswordChangeForm& form) {
    using Kind = PasswordChangeResult::Kind;
    if (auto why = CheckPasswordChangeForm(form); !why.empty())
        return {Kind::Invalid, 0, std::move(why)};
    cwbSV_ErrHandle errors = 0;
    cwbSV_CreateErrHandle(&errors);
    const unsigned rc =
        cwbCO_ChangePassword(form.system.c_str(), form.user.c_str(), form.oldPassword.c_str(),
                             form.newPassword.c_str(), errors);
    std::string text = ErrorTexts(errors);
    cwbSV_DeleteErrHandle(errors);
    if (rc == CWB_OK)
        return {Kind::Changed, rc, FormatString(LoadString(IDS_PASSWORD_CHANGED), {form.system})};
    const bool refused = rc == CWB_NEW_PASSWORD_REFUSED || rc == CWB_SECURITY_ERROR ||
                         (rc >= CWB_USER_UNKNOWN && rc <= CWB_SIGNON_REFUSED) ||
                         rc == CWB_INVALID_PARAMETER;
    if (text.empty())
        text = FormatString(LoadString(IDS_NO_CONNECTION), {form.system, std::to_string(rc)});
    return {refused ? Kind::Refused : Kind::Unreachable, rc, std::move(text)};
}

std::optional<std::string> PasswordExpiryQuestion(const std::string& system) {
    long days = -1;
    if (cwbCO_GetPasswordExpiry(system.c_str(), &days) != CWB_OK || days < 0)
        return std::nullopt;
    std::lock_guard lock(askedMutex);
    if (!asked.insert(system).second)
        return std::nullopt;
    return FormatString(LoadString(IDS_PASSWORD_EXPIRES_SOON), {system, std::to_string(days)});
}

bool CallsForPasswordChange(unsigned returnCode) {
    return returnCode == CWB_PASSWORD_EXPIRED;
}

PasswordChangeOffer PasswordChangeOfferAfter(const std::string& system, unsigned long returnCode) {
    if (CallsForPasswordChange(static_cast<unsigned>(returnCode)))
        return {true, "", FormatString(LoadString(IDS_PASSWORD_EXPIRED_CHANGE), {system})};
    if (auto question = PasswordExpiryQuestion(system))
        return {true, std::move(*question), ""};
    return {};
}

bool PutPasswordChangeOffer(const PasswordChangeOffer& offer) {
    if (!offer.offer)
        return false;
    if (offer.question.empty()) {
        ShowMessageBox(offer.reason);
        return true;
    }
    return MessagePresenter().AskYesNo(offer.question);
}

std::string PasswordChangeCaption(const std::string& system) {
    return FormatString(LoadString(IDS_CHANGE_PASSWORD_CAPTION), {system});
}

int PasswordFieldToRetry(const PasswordChangeResult& result) {
    switch (result.kind) {
    case PasswordChangeResult::Kind::Changed:
        return 0;
    case PasswordChangeResult::Kind::Invalid:
        return IDC_NEW_PASSWORD;
    default:
        return IDC_OLD_PASSWORD;
    }
}
