#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "DirectoryLimits.h"
#include "Status.h"

namespace tavo::server {

// The server application of the host: programs "TVOCGET" and "TVOCUPD" and the keyed
// data queue "#TVOCGET" in library "TAVO400", over a directory and an outbox in SQLite.
// Everything that crosses this interface from a client is EBCDIC (CCSID 37), as on the
// real host; names of programs, libraries and queues are plain ASCII.
// Every member is safe to call from several threads at once.

enum class ParmDirection : unsigned short { Input = 1, Output = 2, InOut = 3 };

struct ProgramParameter {
    ParmDirection direction;
    std::span<std::uint8_t> data; // read when Input/InOut, written when Output/InOut
};

struct Recipient {
    std::string name;        // at most 10 characters, upper case
    std::string description; // at most 50 characters
};

struct Group {
    std::string name;
    std::string description;
    std::vector<std::string> members; // recipient names
};

struct OutboxMessage {
    std::int64_t id = 0;
    std::string acceptedAt;         // UTC, ISO 8601
    bool groups = false;            // "*GRP" rather than "*RCP"
    std::vector<std::string> names; // as received (upper case), trailing blanks removed
    std::string subject;            // before "@@"; empty when the text had none
    std::string body;
    std::string modes;     // the seven mode bytes, "Y" or blank, record order
    std::string rawRecord; // the 1512-byte send record exactly as received, EBCDIC
};

// Entries nobody reads are dropped after `expiry`; one key holds at most `perKeyCap`
// entries, so a client that dies mid-fetch costs nothing lasting.
struct QueueLimits {
    std::chrono::seconds expiry{600};
    // The largest directory and its end marker.
    std::size_t perKeyCap = kMaxDirectoryEntries + 1;
    std::function<std::chrono::steady_clock::time_point()> now; // empty: the steady clock
    // The memory of all unread entries together (entries, keys and their containers), so
    // that clients that never read cannot exhaust the host's. Each owner holding entries
    // may keep an equal share; one over its share loses its own oldest lists first.
    std::size_t totalBytes = 64u << 20;
};

// One call of a batch; `outcome` is filled in.
struct BatchCall {
    std::string_view program;
    std::string_view library;
    std::span<ProgramParameter> parms;
    Status outcome;
    std::string_view owner = {};      // as for CallProgram
    std::string_view requestKey = {}; // as for CallProgram
};

// What a user signs on with. The IBM i tokens are password equivalents for the host
// servers' sign-on, one per scheme the password qualifies for; empty when it does not,
// or when the password was set before the daemon kept them.
struct UserPasswords {
    std::string hash; // libsodium's string form
    std::string desToken;
    std::string shaToken;
    std::string pbkdf2Token;
};

struct UserAccount {
    UserPasswords passwords;
    bool disabled = false;
    bool expired = false;                                       // marked so by an administrator
    std::optional<std::int64_t> passwordExpires = std::nullopt; // seconds since 1970, UTC

    bool ExpiredAt(std::int64_t now) const {
        return expired || (passwordExpires && *passwordExpires <= now);
    }
};

// How the engine treats the file it is given.
enum class OpenMode {
    CreateOrOpen, // a missing or empty file becomes a new host database
    Existing,     // only a host database that is already there
};

// The file is not a host database the engine can use. Nothing was written to it.
class UnusableDatabase : public std::runtime_error {
  public:
    enum class Why { Empty, Foreign, Damaged, Newer };
    UnusableDatabase(Why why, const std::string& text) : std::runtime_error(text), why(why) {}
    Why why;
};

class HostEngine {
  public:
    inline static constexpr std::string_view kLibrary = "TAVO400";
    inline static constexpr std::string_view kListProgram = "TVOCGET";
    inline static constexpr std::string_view kSendProgram = "TVOCUPD";
    inline static constexpr std::string_view kReplyQueue = "#TVOCGET";
    // The reply queue's attributes as a host reports them: its entries are 61 bytes, but
    // the client's receive area holds 600.
    inline static constexpr std::size_t kReplyQueueKeyLength = 24;
    inline static constexpr std::size_t kReplyQueueMaxEntry = 600;

    // Opens the database at `path`, with the schema of this version. A file it creates is
    // readable by its owner only, whatever the umask. ":memory:" gives a private in-memory
    // host (tests). Throws UnusableDatabase for an empty (in Existing mode), foreign,
    // damaged or newer file, and std::runtime_error with a readable text when the database
    // cannot be opened at all.
    explicit HostEngine(const std::string& path, OpenMode mode = OpenMode::CreateOrOpen);
    ~HostEngine();
    HostEngine(const HostEngine&) = delete;
    HostEngine& operator=(const HostEngine&) = delete;

    // Fills an empty directory with the demo recipients and groups; leaves a
    // non-empty one alone.
    void SeedDemoDirectory();

    // Runs a program of the library with the caller's parameter areas.
    // List entries are filed for `owner` (the daemon's "USER@ADDRESS", empty in-process)
    // and only that owner takes them: workstations that ask at the same moment send
    // equal keys.
    // A send with a `requestKey` (the daemon's "USER\nREQUEST-ID") that was accepted
    // before is answered as then and not stored again: a client resends after a lost
    // reply.
    // Not ok when the call itself failed (no such program, bad parameter list, ...): a
    // short text for the client's error handle, and the host message it stands for.
    Status CallProgram(std::string_view program, std::string_view library,
                       std::span<ProgramParameter> parms, std::string_view owner = {},
                       std::string_view requestKey = {});

    // Runs several calls as CallProgram would, but commits every accepted message of the
    // batch in one transaction, so concurrent senders share one disk flush. A message is
    // durable when this returns; a batch that cannot commit is retried call by call.
    void CallPrograms(std::span<BatchCall> calls);

    bool QueueExists(std::string_view queue, std::string_view library);
    void SetQueueLimits(QueueLimits limits);
    // For the daemon: before each call, lets a write that another process (an
    // administration command) is waiting to make go first.
    void LetOtherWritersFirst();
    // Hears, with a line saying why, of each call the database failed (a full disk, an I/O
    // error, ...). The client is told as well, but only the administrator can act on it.
    void SetFailureReport(std::function<void(const std::string&)> report);

    // Takes the oldest entry filed under exactly `key` for `owner` off the queue; nullopt
    // when there is none or the queue does not exist. Never waits.
    std::optional<std::string> TakeEntry(std::string_view queue, std::string_view library,
                                         std::string_view key, std::string_view owner = {});
    // Up to `max` entries of `key`, oldest first, in one go.
    std::vector<std::string> TakeEntries(std::string_view queue, std::string_view library,
                                         std::string_view key, std::size_t max,
                                         std::string_view owner = {});

    std::vector<Recipient> Recipients();
    std::vector<Group> Groups();
    // Replaces the whole directory in one transaction; throws std::invalid_argument
    // (nothing changed) when a name or description is too long or a member unknown.
    void ReplaceDirectory(const std::vector<Recipient>& recipients,
                          const std::vector<Group>& groups);
    std::vector<OutboxMessage> Outbox(); // newest first

    // Sign-on users of the daemon. Names are kept upper case; the engine stores the
    // password hash and equivalents it is given and never sees a password.
    // Setting a password clears its expiry (mark and date) and leaves a disabled user
    // disabled.
    void SetUser(std::string_view name, const UserPasswords& passwords);
    void SetUser(std::string_view name, std::string_view passwordHash);
    std::optional<UserAccount> User(std::string_view name);
    std::optional<std::string> UserPasswordHash(std::string_view name);
    std::vector<std::string> Users();
    // False when there is no such user.
    bool SetUserDisabled(std::string_view name, bool disabled);
    bool ExpirePassword(std::string_view name);
    // The password expires at `at` (seconds since 1970, UTC) unless set again before.
    bool SetPasswordExpiry(std::string_view name, std::int64_t at);
    // The IBM i password level a daemon serving this database signs users on at, as the
    // last one to start recorded it: kNoIbmiSignOn when it served no IBM i host servers,
    // nullopt before any daemon served the file.
    inline static constexpr int kNoIbmiSignOn = -1;
    void SetServedPasswordLevel(int level);
    std::optional<int> ServedPasswordLevel();
    // Asks the daemon serving this database, if any, to lift the sign-on lock of `name`:
    // the lock lives in the daemon's memory, and the daemon looks for such requests every
    // second. False when there is no such user.
    bool RequestUnlock(std::string_view name);
    // The users whose unlock was asked for since the last call, oldest first; taken, so
    // each request is seen once.
    std::vector<std::string> TakeUnlockRequests();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tavo::server
