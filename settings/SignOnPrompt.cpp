#include "SignOnPrompt.h"

#include <cstring>
#include <strings.h>

#include "ProcessState.h"
#include "Resource.h"
#include "Secrets.h"
#include "Strings.h"
#include "cwbsignon.h"

static_assert(kMaxUserId == CWBCO_MAX_USER_ID && kMaxPassword == CWBCO_MAX_PASSWORD);

namespace {

ISignOnPrompter* current = nullptr;

bool CopyOut(const std::string& text, char* area, unsigned long size) {
    if (text.size() >= size)
        return false; // never cut: a shortened password would be a wrong one
    std::memcpy(area, text.c_str(), text.size() + 1);
    return true;
}

int Ask(const char* systemName, const char* reason, char* userId, unsigned long userIdSize,
        char* password, unsigned long passwordSize, void*) {
    if (!current)
        return 0;
    std::string user = userId, typed;
    const bool ok = current->AskSignOn(systemName, reason, user, typed) &&
                    CopyOut(user, userId, userIdSize) && CopyOut(typed, password, passwordSize);
    tavo::platform::WipeSecret(typed);
    return ok ? 1 : 0;
}

// The layer forgets its end of the registration in its own reset.
[[maybe_unused]] const bool registered = RegisterProcessReset([](KeepHosts) { current = nullptr; });

} // namespace

void SetSignOnPrompter(ISignOnPrompter* prompter) {
    current = prompter;
    cwbCO_SetSignOnPrompt(prompter ? &Ask : nullptr, nullptr);
}

std::string SignOnCaption(const std::string& system) {
    return FormatString(LoadString(IDS_SIGN_ON_CAPTION), {system});
}

int FirstFieldToFill(const std::string& user, int secretField) {
    return user.empty() ? IDC_USER_ID : secretField;
}
