#pragma once

#include <cstddef>
#include <string>

// How the program asks for a password that the systems file does not give: the window
// with its dialog, tavo400-send at the terminal. One prompter per process; the layer
// asks it on the caller's thread while it connects.
class ISignOnPrompter {
  public:
    virtual ~ISignOnPrompter() = default;
    // `reason` is why the host refused the last attempt, empty on the first ask. `user`
    // holds the user to show and receives the one chosen. False: cancelled.
    virtual bool AskSignOn(const std::string& system, const std::string& reason, std::string& user,
                           std::string& password) = 0;
};

// The longest user id and password, in characters.
inline constexpr std::size_t kMaxUserId = 128;
inline constexpr std::size_t kMaxPassword = 128;

// The sign-on dialog's caption for `system` (Latin-1).
std::string SignOnCaption(const std::string& system);

// The field a form asking for `user`'s secret starts in: the user's when none is known,
// else `secretField` (control ids).
int FirstFieldToFill(const std::string& user, int secretField);

// Null removes the prompter: a system without a password then fails to connect.
void SetSignOnPrompter(ISignOnPrompter* prompter);
