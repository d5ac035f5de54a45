#include "TerminalSignOn.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>
#include <string>

#include "CliText.h"
#include "Console.h"

namespace tavo::cli {
namespace {

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

std::size_t Characters(const std::string& utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

} // namespace

TerminalSignOn::TerminalSignOn(std::istream& in, std::ostream& err, bool ask)
    : in_(in), err_(err), ask_(ask) {
    SetSignOnPrompter(this);
}

TerminalSignOn::~TerminalSignOn() {
    SetSignOnPrompter(nullptr);
}

bool TerminalSignOn::AskSignOn(const std::string& systemName, const std::string& reason,
                               std::string& user, std::string& password) {
    if (!ask_) {
        declined_ = true;
        return false;
    }
    // The reason is the host's words: shown, but never as terminal commands.
    const auto system = EscapeControls(Latin1ToUtf8(systemName));
    if (!reason.empty())
        err_ << "tavo400-send: " << EscapeControls(Latin1ToUtf8(reason)) << '\n';
    if (user.empty() && !AskUser(system, user))
        return false;
    return AskSecret("Password for " + EscapeControls(user) + " on " + system, password);
}

bool TerminalSignOn::AskPasswordChange(const std::string& systemName, PasswordChangeForm& form) {
    const auto system = EscapeControls(Latin1ToUtf8(systemName));
    if (form.user.empty() && !AskUser(system, form.user))
        return false;
    const auto on = " for " + EscapeControls(form.user) + " on " + system;
    return AskSecret("Current password" + on, form.oldPassword) &&
           AskSecret("New password" + on, form.newPassword) &&
           AskSecret("New password again", form.confirmation);
}

bool TerminalSignOn::AskUser(const std::string& system, std::string& user) {
    err_ << "User ID for " << system << ": " << std::flush;
    if (!ReadLine(in_, user))
        return false;
    if (Characters(user) > kMaxUserId) {
        err_ << "tavo400-send: a user ID has at most " << kMaxUserId << " characters\n";
        return false;
    }
    return true;
}

bool TerminalSignOn::AskSecret(const std::string& prompt, std::string& secret) {
    err_ << prompt << ": " << std::flush;
    bool read = false;
    {
        platform::EchoOff quiet;
        read = ReadLine(in_, secret);
    }
    err_ << '\n'; // the Enter that was not echoed
    if (read && Characters(secret) > kMaxPassword) {
        err_ << "tavo400-send: a password has at most " << kMaxPassword << " characters\n";
        return false;
    }
    return read;
}

} // namespace tavo::cli
