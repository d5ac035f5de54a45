#include "TerminalSignOn.h"

#include <csignal>
#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "CliText.h"
#include "cwbsignon.h"

namespace tavo::cli {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

termios savedTerminal;
volatile std::sig_atomic_t echoIsOff = 0;

// Ctrl+C while the password is typed must not leave the terminal without echo.
void RestoreAndRaise(int signal) {
    if (echoIsOff)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Echo off on the terminal for as long as this lives; nothing when stdin is no terminal.
class NoEcho {
  public:
    NoEcho() {
        if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
            return;
        struct sigaction restore {};
        restore.sa_handler = RestoreAndRaise;
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &restore, &previous_[i]);
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        echoIsOff = 1;
        active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~NoEcho() {
        if (!echoIsOff)
            return;
        if (active_)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        echoIsOff = 0;
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &previous_[i], nullptr);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

  private:
    struct sigaction previous_[std::size(kSignals)]{};
    bool active_ = false;
};

// One typed line; false at the end of input. The body may have been read to its end
// already, and a terminal gives more after that.
bool ReadLine(std::istream& in, std::string& line) {
    in.clear();
    if (!std::getline(in, line))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

bool Fits(const std::string& text, unsigned long size) {
    return text.size() < size;
}

} // namespace

TerminalSignOn::TerminalSignOn(std::istream& in, std::ostream& err, bool ask)
    : in_(in), err_(err), ask_(ask) {
    cwbCO_SetSignOnPrompt(&TerminalSignOn::Prompt, this);
}

TerminalSignOn::~TerminalSignOn() {
    cwbCO_SetSignOnPrompt(nullptr, nullptr);
}

int TerminalSignOn::Prompt(const char* systemName, const char* reason, char* userId,
                           unsigned long userIdSize, char* password, unsigned long passwordSize,
                           void* context) {
    auto* self = static_cast<TerminalSignOn*>(context);
    if (!self->ask_) {
        self->declined_ = true;
        return 0;
    }
    return self->Ask(systemName, reason, userId, userIdSize, password, passwordSize) ? 1 : 0;
}

bool TerminalSignOn::Ask(const char* systemName, const char* reason, char* userId,
                         unsigned long userIdSize, char* password, unsigned long passwordSize) {
    // The reason is the host's words: shown, but never as terminal commands.
    const auto system = EscapeControls(Latin1ToUtf8(systemName));
    if (*reason)
        err_ << "tavo400-send: " << EscapeControls(Latin1ToUtf8(reason)) << '\n';
    std::string user = userId;
    if (user.empty()) {
        err_ << "User ID for " << system << ": " << std::flush;
        if (!ReadLine(in_, user))
            return false;
        if (!Fits(user, userIdSize)) {
            err_ << "tavo400-send: a user ID has at most " << CWBCO_MAX_USER_ID << " characters\n";
            return false;
        }
        std::memcpy(userId, user.c_str(), user.size() + 1);
    }
    err_ << "Password for " << EscapeControls(user) << " on " << system << ": " << std::flush;
    std::string typed;
    bool read = false;
    {
        NoEcho quiet;
        read = ReadLine(in_, typed);
    }
    err_ << '\n'; // the Enter that was not echoed
    const bool ok = read && Fits(typed, passwordSize);
    if (read && !ok)
        err_ << "tavo400-send: a password has at most " << CWBCO_MAX_PASSWORD << " characters\n";
    if (ok)
        std::memcpy(password, typed.c_str(), typed.size() + 1);
    explicit_bzero(typed.data(), typed.size());
    return ok;
}

} // namespace tavo::cli
