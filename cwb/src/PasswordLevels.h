#pragma once

#include <string>
#include <string_view>

#include "Backend.h"
#include "SystemsFile.h"

namespace cwb {

// The highest password level each IBM i has used, by system and user, in a small file of
// ours in the user's state directory. Someone between us and the host can rewrite the
// level its sign-on server announces; at level 0 or 1 the substitute we would send is
// DES, which a word list breaks offline. So a level below the one a host used before, or
// below the system's min_password_level, is refused before anything is computed from the
// password.
class PasswordLevels {
  public:
    // The file "password-levels" in `directory` (empty: none can be had).
    explicit PasswordLevels(std::string directory);
    // $XDG_STATE_HOME/tavo400, default ~/.local/state/tavo400.
    static PasswordLevels OfUser();

    // Whether `announced` may be used to sign `user` on to `system`. Reads, never writes.
    Status Check(const SystemConfig& system, std::string_view user, int announced) const;
    // After the host accepted a sign-on at `level`: kept when higher than the one kept
    // before, or in its place when this run accepted the system's new level.
    Status Remember(const SystemConfig& system, std::string_view user, int level);

    // This run takes whatever level the system's host announces next (never below its
    // min_password_level), and remembers it once a sign-on at it has succeeded.
    static void Accept(std::string_view system);
    static void ForgetAccepted();

    const std::string& Path() const { return path_; }

  private:
    std::string directory_;
    std::string path_;
};

} // namespace cwb
