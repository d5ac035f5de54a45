#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cwb {

// A user and password for one system; the password is wiped when this goes.
struct Credentials {
    std::string user;
    std::string password;
    ~Credentials();
};

// The refusals that another user or password may cure.
bool IsSignOnRefusal(unsigned rc);

bool CanAskSignOn();
// Asks the registered prompt (one ask at a time); nullopt for Cancel or no prompt.
std::optional<Credentials> AskSignOn(std::string_view systemName, const std::string& user,
                                     const std::string& reason);

// What a host accepted in this run, by the system's configured name; memory only.
std::optional<Credentials> CachedSignOn(const std::string& system);
void CacheSignOn(const std::string& system, const Credentials& credentials);
void ForgetSignOn(const std::string& system);
// A password changed in this run, which then stands before the systems file's own.
void CacheChangedPassword(const std::string& system, const Credentials& credentials);
std::optional<Credentials> ChangedPassword(const std::string& system);

// The days the password of the last sign-on to a system has left, once the host's
// warning period has begun; nullopt when no warning is due.
void NotePasswordExpiry(const std::string& system, std::optional<int> daysLeft);
std::optional<int> PasswordExpiry(const std::string& system);

// Wipes what was cached and removes the prompt, as a new process finds them.
void ResetSignOns();

} // namespace cwb
