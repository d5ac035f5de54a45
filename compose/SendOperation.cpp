#include "SendOperation.h"

#include "Operations.h"
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
