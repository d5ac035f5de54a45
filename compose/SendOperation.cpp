#include "SendOperation.h"

#include "MessagePresenter.h"
#include "Operations.h"
#include "ProcessState.h"
#include "SendRules.h"

Outcome SendFields(std::string_view to, std::string_view subject, std::string_view body,
                   bool recipients) {
    auto prepared = PrepareSend(to, subject, body, recipients);
    if (!prepared.submission) {
        Outcome refused;
        refused.NotDoneBecause(Outcome::Cause::Input, std::move(prepared.refusal));
        return refused;
    }
    return Submit(*prepared.submission);
}

Outcome SendCommand(std::string_view to, std::string_view subject, std::string_view body,
                    bool recipients) {
    const std::string fields[] = {std::string(to), std::string(subject), std::string(body)};
    const auto outcome = RunAndShow(SendProgress(CurrentSystem), [&] {
        return SendFields(fields[0], fields[1], fields[2], recipients);
    });
    if (outcome.Done())
        ShowMessageBox("Message Successfully Delivered to TAVO/400");
    return outcome;
}
