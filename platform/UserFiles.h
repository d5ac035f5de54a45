#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavo::platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// An environment variable as UTF-8; empty when it is not set.
std::string Environment(const char* name);
// Sets a variable for this process and the programs it starts.
void SetEnvironment(const char* name, const std::string& value);

// This user's directories for a program's configuration and data: $XDG_CONFIG_HOME, else
// $HOME/.config, and $XDG_DATA_HOME, else $HOME/.local/share (under "." without HOME);
// %APPDATA% and %LOCALAPPDATA% on Windows.
std::string ConfigHome();
std::string DataHome();
// `program`'s state kept between runs: $XDG_STATE_HOME/program, else
// ~/.local/state/program (absolute paths only; HOME, else the password database);
// %LOCALAPPDATA%\program on Windows. Empty when there is none.
std::string StateDirectory(std::string_view program);
// Where this user's processes meet at a lock: $XDG_RUNTIME_DIR/program, else
// /run/user/UID/program while they have a session, else the state directory. Windows
// has no such place, nor needs one: the state directory.
std::string RuntimeDirectory(std::string_view program);

// Makes `path` with whatever parents it lacks, each private to this user. Empty when it
// is there; else the part that cannot be made, and `why` in the system's words.
std::string MakeDirectories(const std::string& path, std::string& why);
// A directory, not a link to one, that is this user's own. Windows keeps a user's
// profile private, so there it need only be a directory.
bool IsOwnDirectory(const std::string& path);

// Why a private file or directory was not used.
enum class Access { Ok, Missing, Link, NotOwn, OpenFailed, ReadFailed };

// A directory of this user's that no one else may change, opened without following a
// link; its files are read and replaced whole, never through a link.
class PrivateDirectory {
  public:
    PrivateDirectory() = default;
    ~PrivateDirectory(); // and with it the lock
    PrivateDirectory(const PrivateDirectory&) = delete;
    PrivateDirectory& operator=(const PrivateDirectory&) = delete;

    // `why` in the system's words for OpenFailed.
    Access Open(const std::string& path, std::string& why);
    // Waits until no other process holds this directory's lock, then holds it.
    void Lock();
    // At most `most` bytes of `name`, a regular file of this user's that no one else may
    // change; Missing leaves `text` empty.
    Access Read(const char* name, std::size_t most, std::string& text, std::string& why);
    // Replaces `name` by a private file holding `text`, written beside it and renamed over
    // it, so that a reader never sees half of it. Empty when done; else why not.
    std::string Write(const char* name, std::string_view text);

  private:
    std::intptr_t handle_ = -1; // an fd here; unused on Windows, which goes by path_
    std::intptr_t lock_ = -1;   // a HANDLE of the lock file on Windows
    std::string path_;
};

// A lock file, one per resource, held by one process at a time: a file descriptor here,
// a HANDLE on Windows.
using LockHandle = std::intptr_t;
inline constexpr LockHandle kNoLock = -1;
// Opens `path`, made private when it is new, never through a link and only when it is a
// regular file of this user's.
LockHandle OpenLockFile(const std::string& path, Access& access, std::string& why);
// True when this process holds it now; false with `why` empty while another does.
bool TryLock(LockHandle file, std::string& why);
// Its first `most` bytes; false with `why` when they cannot be read.
bool ReadLockFile(LockHandle file, std::size_t most, std::string& text, std::string& why);
// Replaces what it holds by `text`.
bool WriteLockFile(LockHandle file, std::string_view text, std::string& why);
// Closes it, and with it the lock.
void CloseLockFile(LockHandle file);

// Who may reach a file that chooses where secrets go.
struct FilePrivacy {
    bool found = false;  // else `why` says what went wrong
    bool absent = false; // there is no such file
    bool regular = false;
    std::uintmax_t size = 0;
    bool othersOwn = false;      // neither this user nor the administrators own it
    bool othersMayWrite = false; // someone but its owner and the administrators may change it
    bool othersMayRead = false;  // or may read it
    std::string why;
};
FilePrivacy PrivacyOf(const std::string& path);
// The command that leaves the file at `path` to its owner alone.
std::string MakePrivateCommand(const std::string& path);

} // namespace tavo::platform
