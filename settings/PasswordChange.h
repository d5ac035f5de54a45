#pragma once

#include <optional>
#include <string>

// The decisions of changing a password, shared by the window's dialog and tavo400-send:
// what the form must hold before the host is asked, how the host's answer reads, and when
// a change is offered. The front ends only draw, read and forward.

struct PasswordChangeForm {
    std::string system;      // as the program keeps system names (Latin-1)
    std::string user;        // UTF-8, as typed
    std::string oldPassword; // UTF-8
    std::string newPassword;
    std::string confirmation; // the new password typed again
};

struct PasswordChangeResult {
    enum class Kind {
        Changed,
        Invalid,     // the form is incomplete; the host was not asked
        Refused,     // the host refused: the old password, or its rules for the new one
        Unreachable, // the host could not be asked
    };
    Kind kind = Kind::Changed;
    unsigned returnCode = 0;
    std::string text; // Latin-1, for a message box: why, or that it was changed
};

// The user the form starts with: the one the system signs on as in this run, else the
// systems file's (UTF-8); empty when neither names one.
std::string SignOnUser(const std::string& system);

// Why the form cannot go to the host yet (Latin-1), or empty when it may.
std::string CheckPasswordChangeForm(const PasswordChangeForm& form);

// Checks the form, then asks the host. Blocks: the window runs it off its thread.
PasswordChangeResult ChangePassword(const PasswordChangeForm& form);

// "Your password on SYSTEM expires in N days. Change it now?" when the last sign-on to
// `system` was warned; asked once per run and system, so nullopt after the first time.
std::optional<std::string> PasswordExpiryQuestion(const std::string& system);

// Whether a connect that failed with `returnCode` calls for a change of password.
bool CallsForPasswordChange(unsigned returnCode);

// What the window does about the password after a host call to `system` that ended with
// `returnCode`: offer the change at once when the password has expired; when it expires
// soon, ask first (`question`), once per run and system; else nothing.
struct PasswordChangeOffer {
    bool offer = false;
    std::string question; // Latin-1; empty: offer without asking
    std::string reason;   // Latin-1, for the dialog; empty when there is none
};
PasswordChangeOffer PasswordChangeOfferAfter(const std::string& system, unsigned long returnCode);

// Puts an offer to the user: an expired password's reason is shown, a password that
// expires soon is asked about. True when the change-password dialog is to open.
bool PutPasswordChangeOffer(const PasswordChangeOffer& offer);

// The change-password dialog's caption for `system` (Latin-1).
std::string PasswordChangeCaption(const std::string& system);

// After OK in the dialog: 0 when it closes (the host took the new password), else the
// field (control id) to try again from; every field keeps what was typed.
int PasswordFieldToRetry(const PasswordChangeResult& result);
