#pragma once

#include <iosfwd>

#include "PasswordChange.h"
#include "SignOnPrompt.h"

// tavo400-send's sign-on prompt, registered for one run.
// At a terminal it asks for the password (and the user, when the systems file names
// none), the password typed without echo; elsewhere it declines every ask, so that a
// script fails at once instead of waiting for an answer nobody will type.
namespace tavo::cli {

class TerminalSignOn final : public ISignOnPrompter {
  public:
    // `ask`: stdin and stderr are a terminal and --no-prompt was not given.
    TerminalSignOn(std::istream& in, std::ostream& err, bool ask);
    ~TerminalSignOn() override;
    TerminalSignOn(const TerminalSignOn&) = delete;
    TerminalSignOn& operator=(const TerminalSignOn&) = delete;

    // A password was needed and could not be asked for.
    bool Declined() const { return declined_; }

    bool AskSignOn(const std::string& system, const std::string& reason, std::string& user,
                   std::string& password) override;

    // The user (when `form.user` is empty), the current password, and the new one twice.
    // False at the end of input, or for an answer longer than the layer takes.
    bool AskPasswordChange(const std::string& system, PasswordChangeForm& form);

  private:
    bool AskUser(const std::string& system, std::string& user);
    bool AskSecret(const std::string& prompt, std::string& secret);

    std::istream& in_;
    std::ostream& err_;
    bool ask_;
    bool declined_ = false;
};

} // namespace tavo::cli
