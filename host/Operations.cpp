#include "Operations.h"

#include <cctype>

#include "HostLink.h"
#include "HostOperation.h"
#include "Latin1Text.h"
#include "MessagePresenter.h"
#include "ProcessState.h"
#include "Records.h"
#include "cwbnl.h"
#include "cwbsignon.h"
#include "cwbsv.h"

Outcome Submit(const Submission& message) {
    CHostLink link;
    link.SubmitMessage(message.kind, message.count, message.addressList, message.body,
                       message.subject);
    return link.TakeOutcome();
}

ListOutcome FetchList(ListKind kind) {
    ListOutcome list;
    int count = 0;
    CHostLink link;
    const bool complete =
        link.RetrieveList(kind == ListKind::Recipients ? "*RCPL" : "*GRPL", list.entries, count);
    list.outcome = link.TakeOutcome();
    if (!complete)
        list.entries.clear(); // a list that broke off is no list
    for (auto& entry : list.entries)
        entry.name = tavo::text::DisplayName(entry.name);
    return list;
}

void ShowOutcome(const Outcome& outcome) {
    for (const auto& text : outcome.texts)
        ShowMessageBox(text);
    if (!outcome.status.empty())
        MessagePresenter().ShowStatus(outcome.status);
}

std::string SendProgress(const std::string& system) {
    return "Sending to " + system;
}

std::string ListProgress(ListKind kind, const std::string& system) {
    return std::string("Fetching the ") + (kind == ListKind::Recipients ? "recipient" : "group") +
           " list from " + system;
}

std::string PasswordChangeProgress(const std::string& system) {
    return "Changing the password on " + system;
}

std::string EmptyListText(ListKind kind, const std::string& system) {
    return "The directory on " + system + " holds no " +
           (kind == ListKind::Recipients ? "recipients." : "groups.");
}

std::vector<std::string> WindowTexts(const Outcome& outcome) {
    auto texts = outcome.texts;
    // A lowered level is explained by the question that follows.
    const char* meaning = outcome.returnCode == CWB_PASSWORD_LEVEL_LOWERED
                              ? nullptr
                              : ReturnCodeMeaning(outcome.returnCode);
    if (outcome.cause == Outcome::Cause::Connection && meaning && !texts.empty()) {
        std::string line = meaning;
        line.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(line.front())));
        texts.front() += "\n" + line + ".";
    }
    return texts;
}

namespace {

Outcome RunAndShowOnce(const std::string& progress, const std::function<Outcome()>& operation) {
    Outcome outcome = RunHostOperation(progress, operation);
    Outcome shown = outcome;
    shown.texts = WindowTexts(outcome);
    ShowOutcome(shown);
    return outcome;
}

} // namespace

Outcome RunAndShow(const std::string& progress, const std::function<Outcome()>& operation) {
    Outcome outcome = RunAndShowOnce(progress, operation);
    if (outcome.cause != Outcome::Cause::Connection ||
        outcome.returnCode != CWB_PASSWORD_LEVEL_LOWERED)
        return outcome;
    const std::string system = CurrentSystem;
    const bool accept = MessagePresenter().AskYesNo(
        system +
        " announced a lower password level than it used before, so nothing was sent: "
        "someone on the network may be trying to learn your password. Only if its "
        "administrators lowered the level on purpose, accept it.\n\nAccept the new "
        "password level for " +
        system + "?");
    if (!accept || cwbCO_AcceptPasswordLevel(system.c_str()) != CWB_OK)
        return outcome;
    return RunAndShowOnce(progress, operation);
}

const char* ReturnCodeMeaning(unsigned long rc) {
    switch (rc) {
    case CWB_CONFIG_ERROR:
        return "the systems file cannot be read or is malformed";
    case CWB_UNKNOWN_SYSTEM:
        return "no system of that name is configured";
    case CWB_COMMUNICATIONS_ERROR:
        return "the host cannot be reached, or the link broke";
    case CWB_SECURITY_ERROR:
        return "the host refused the sign-on (the user or password in the systems file)";
    case CWB_TIMEOUT:
        return "the host did not answer in time";
    case CWB_REPLY_LOST:
        return "the request reached the host, but its answer was lost";
    case CWB_CANCELLED:
        return "the wait for the host was cancelled before the request left";
    case CWB_SIGNON_CANCELLED:
        return "the sign-on was cancelled; the host was not asked";
    case CWB_CERTIFICATE_ERROR:
        return "the host's TLS certificate was not trusted (see ca_file in the systems file)";
    case CWB_USER_UNKNOWN:
        return "the host knows no user of that name (the user in the systems file)";
    case CWB_PASSWORD_INCORRECT:
        return "the host refused the password (the password in the systems file)";
    case CWB_PASSWORD_EXPIRED:
        return "the user's password has expired; change it with tavo400-send --change-password "
               "(or Change password in the window), then in the systems file";
    case CWB_USER_DISABLED:
        return "the user profile is disabled on the host; ask its security officer";
    case CWB_SIGNON_REFUSED:
        return "the host refused the sign-on for another reason";
    case CWB_USER_LOCKED_OUT:
        return "the host locked the user out for a while after too many failed sign-ons; wait, "
               "or ask its administrator to lift the lock";
    case CWB_SIGNON_DELAYED:
        return "the host wants a pause after failed sign-ons; try again in a minute";
    case CWB_HOST_BUSY:
        return "the host is busy checking other sign-ons; try again in a moment";
    case CWB_NEW_PASSWORD_REFUSED:
        return "the host refused the new password by its rules";
    case CWB_PASSWORD_LEVEL_LOWERED:
        return "the host announced a lower password level than it used before (or than the "
               "system's min_password_level), so nothing was sent: someone on the network may be "
               "trying to learn your password. Only if its administrators lowered the level on "
               "purpose, run again with --accept-password-level";
    case CWB_PASSWORD_COMMAND_FAILED:
        return "the system's password_command gave no password (run it by hand to see why)";
    default:
        return nullptr;
    }
}

std::optional<SendRecord> RecordOf(const Submission& message) {
    constexpr unsigned long kHostCodePage = 37;
    SendRecord record{std::string(records::kSendRecordLength, ' '), {}};
    if (!records::BuildSendRecord(message.kind, message.count, message.addressList,
                                  records::MessageText(message.subject, message.body),
                                  DeliveryModes, record.text.data()))
        return std::nullopt;
    cwbSV_ErrHandle errors = 0;
    cwbSV_CreateErrHandle(&errors);
    unsigned long codePage = 0;
    cwbNL_Converter converter = 0;
    record.wire.assign(record.text.size(), '\x40');
    unsigned long errorCount = 0, firstError = 0, required = 0;
    const bool ok =
        cwbNL_GetCodePage(&codePage, errors) == CWB_OK &&
        cwbNL_CreateConverterEx(codePage, kHostCodePage, &converter, errors, 0, 0, nullptr) ==
            CWB_OK &&
        cwbNL_Convert(converter, static_cast<unsigned long>(record.text.size()),
                      static_cast<unsigned long>(record.wire.size()), record.text.data(),
                      record.wire.data(), &errorCount, &firstError, &required, errors) == CWB_OK;
    if (converter)
        cwbNL_DeleteConverter(converter, errors);
    cwbSV_DeleteErrHandle(errors);
    if (!ok)
        return std::nullopt;
    return record;
}
