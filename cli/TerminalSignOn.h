#pragma once

#include <iosfwd>

// tavo400-send's sign-on prompt, registered with the Client Access layer for one run.
// At a terminal it asks for the password (and the user, when the systems file names
// none), the password typed without echo; elsewhere it declines every ask, so that a
// script fails at once instead of waiting for an answer nobody will type.
namespace tavo::cli {

class TerminalSignOn {
  public:
    // `ask`: stdin and stderr are a terminal and --no-prompt was not given.
    TerminalSignOn(std::istream& in, std::ostream& err, bool ask);
    ~TerminalSignOn();
    TerminalSignOn(const TerminalSignOn&) = delete;
    TerminalSignOn& operator=(const TerminalSignOn&) = delete;

    // A password was needed and could not be asked for.
    bool Declined() const { return declined_; }

  private:
    static int Prompt(const char* systemName, const char* reason, char* userId,
                      unsigned long userIdSize, char* password, unsigned long passwordSize,
                      void* context);
    bool Ask(const char* systemName, const char* reason, char* userId, unsigned long userIdSize,
             char* password, unsigned long passwordSize);

    std::istream& in_;
    std::ostream& err_;
    bool ask_;
    bool declined_ = false;
};

} // namespace tavo::cli
