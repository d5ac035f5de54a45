#include "HostEngine.h"

#include "Ccsid37.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Sqlite.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

namespace tavo::server {

namespace {

namespace cp = tavo::codepage;

// List request and entry.
constexpr std::size_t kRequestLength = 124;
constexpr std::size_t kFunctionLength = 10;
constexpr std::size_t kKeyLength = HostEngine::kReplyQueueKeyLength;
constexpr std::size_t kNameLength = 10;
constexpr std::size_t kDescriptionLength = 50;
constexpr char kEndMarker = 'X';

// Send record and reply.
constexpr std::size_t kAreaLength = 32000;
constexpr std::size_t kRecordLength = 1512;
constexpr std::size_t kCountLength = 2;
constexpr std::size_t kNamesOffset = 2;
constexpr std::size_t kNameSlots = 50;
constexpr std::size_t kTextOffset = 502;
constexpr std::size_t kTextLength = 999;
constexpr std::size_t kTypeOffset = 1501;
constexpr std::size_t kTypeLength = 4;
constexpr std::size_t kModesOffset = 1505;
constexpr std::size_t kModeCount = 7;
constexpr std::size_t kMessageIdLength = 22;
constexpr std::size_t kDigits = 5;
constexpr std::size_t kMaxDigitValue = 99999;

// ---------------------------------------------------------------------------------------------
// Text helpers. Strings on this side are Latin-1, one byte per character.

std::string_view TrimTrailing(std::string_view text) {
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

std::string_view Trim(std::string_view text) {
    text = TrimTrailing(text);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return text;
}

unsigned char UpperLatin1(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<unsigned char>(c - 0x20);
    return c;
}

std::string ToUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(UpperLatin1(static_cast<unsigned char>(c)));
    return out;
}

bool IsControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

std::string Padded(std::string_view text, std::size_t width) {
    std::string out(text.substr(0, width));
    out.resize(width, ' ');
    return out;
}

std::string Digits(std::size_t value) {
    std::string out = std::to_string(std::min(value, kMaxDigitValue));
    return std::string(kDigits - out.size(), '0') + out;
}

// The host reads numeric fields the way atol does: blanks, a sign, then digits.
long ParseNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 100000000; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

std::string Decode(std::span<const std::uint8_t> area, std::size_t offset, std::size_t length) {
    const auto part = area.subspan(offset, length);
    return cp::ToLatin1(std::string_view(reinterpret_cast<const char*>(part.data()), part.size()));
}

std::string Raw(std::span<const std::uint8_t> area, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(area.data()), length);
}

std::string UtcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string ms = std::to_string(millis);
    return std::string(stamp, n) + "." + std::string(3 - ms.size(), '0') + ms + "Z";
}

CallOutcome Failed(std::string message) {
    return CallOutcome{false, std::move(message), {}};
}

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS recipients (
    name        TEXT PRIMARY KEY NOT NULL,
    description TEXT NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS groups (
    name        TEXT PRIMARY KEY NOT NULL,
    description TEXT NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS group_members (
    group_name TEXT NOT NULL REFERENCES groups(name) ON DELETE CASCADE,
    recipient  TEXT NOT NULL REFERENCES recipients(name) ON DELETE CASCADE,
    position   INTEGER NOT NULL,
    PRIMARY KEY (group_name, recipient)
);
CREATE TABLE IF NOT EXISTS queues (
    library TEXT NOT NULL,
    name    TEXT NOT NULL,
    PRIMARY KEY (library, name)
);
CREATE TABLE IF NOT EXISTS users (
    name          TEXT PRIMARY KEY NOT NULL,
    password_hash TEXT NOT NULL,
    des_token     BLOB,
    sha_token     BLOB,
    pbkdf2_token  BLOB,
    disabled      INTEGER NOT NULL DEFAULT 0,
    expired       INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS outbox (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    accepted_at TEXT NOT NULL,
    kind        TEXT NOT NULL CHECK (kind IN ('*RCP', '*GRP')),
    names       TEXT NOT NULL,
    subject     TEXT NOT NULL,
    body        TEXT NOT NULL,
    modes       TEXT NOT NULL,
    raw_record  BLOB NOT NULL,
    request_key TEXT
);
)sql";
constexpr const char* kOutboxRequestIndex =
    "CREATE UNIQUE INDEX IF NOT EXISTS outbox_request ON outbox (request_key) "
    "WHERE request_key IS NOT NULL";

constexpr int kSchemaVersion = 3;

// Version 3 remembers, with each message, the request that brought it, so a send that
// comes again after its reply was lost is recognised.
constexpr const char* kOutboxV3 = "ALTER TABLE outbox ADD COLUMN request_key TEXT;";

// Version 1 kept only the libsodium hash. Its users keep it and get no IBM i tokens
// until their password is set again, since the tokens cannot be made from a hash.
constexpr const char* kUsersV2 = R"sql(
ALTER TABLE users ADD COLUMN des_token BLOB;
ALTER TABLE users ADD COLUMN sha_token BLOB;
ALTER TABLE users ADD COLUMN pbkdf2_token BLOB;
ALTER TABLE users ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0;
ALTER TABLE users ADD COLUMN expired INTEGER NOT NULL DEFAULT 0;
)sql";

// ---------------------------------------------------------------------------------------------
// Directory checks

void CheckName(std::string_view what, std::string_view name) {
    const std::string label(what);
    if (name.empty())
        throw std::invalid_argument(label + " name is empty.");
    if (name.size() > kNameLength)
        throw std::invalid_argument(label + " name " + std::string(name) +
                                    " is longer than 10 characters.");
    // Names travel in blank-padded fields and are stored blank-separated in the outbox.
    if (std::any_of(name.begin(), name.end(), [](char c) { return c == ' ' || IsControl(c); }))
        throw std::invalid_argument(label + " name '" + std::string(name) +
                                    "' contains a blank or control character.");
    if (ToUpper(name) != name)
        throw std::invalid_argument(label + " name " + std::string(name) + " is not upper case.");
}

void CheckDescription(std::string_view what, std::string_view name, std::string_view text) {
    const std::string label = std::string(what) + " " + std::string(name);
    if (text.size() > kDescriptionLength)
        throw std::invalid_argument("The description of " + label +
                                    " is longer than 50 characters.");
    if (std::any_of(text.begin(), text.end(), IsControl))
        throw std::invalid_argument("The description of " + label +
                                    " contains a control character.");
}

void CheckDirectory(const std::vector<Recipient>& recipients, const std::vector<Group>& groups) {
    std::set<std::string, std::less<>> known;
    for (const Recipient& r : recipients) {
        CheckName("Recipient", r.name);
        CheckDescription("recipient", r.name, r.description);
        if (!known.insert(r.name).second)
            throw std::invalid_argument("Recipient " + r.name + " is listed twice.");
    }
    std::set<std::string, std::less<>> groupNames;
    for (const Group& g : groups) {
        CheckName("Group", g.name);
        CheckDescription("group", g.name, g.description);
        if (!groupNames.insert(g.name).second)
            throw std::invalid_argument("Group " + g.name + " is listed twice.");
        std::set<std::string, std::less<>> members;
        for (const std::string& m : g.members) {
            if (!known.contains(m))
                throw std::invalid_argument("Group " + g.name + " names unknown recipient '" + m +
                                            "'.");
            if (!members.insert(m).second)
                throw std::invalid_argument("Group " + g.name + " lists " + m + " twice.");
        }
    }
}

std::vector<Recipient> DemoRecipients() {
    return {
        {"ADAMSK", "Karen Adams, help desk"},
        {"BROWNT", "Tom Brown, network administrator"},
        {"CHENL", "Li Chen, database administrator"},
        {"DAVISR", "Rachel Davis, operations manager"},
        {"GARCIAM", "Maria Garcia, payroll"},
        {"JONES", "Peter Jones, IT manager"},
        {"JSMITH", "John Smith, operations"},
        {"MJONES", "Mary Jones, network support"},
        {"OPS", "Operations on-call pager"},
        {"PRTROOM", "*NONE"},
        {"SMITH", "Anne Smith, systems programmer"},
        {"WILSONJ", "James Wilson, security officer"},
    };
}

std::vector<Group> DemoGroups() {
    return {
        {"MANAGERS", "Department managers", {"DAVISR", "JONES"}},
        {"NETWORK", "Network and communications team", {"BROWNT", "MJONES", "OPS"}},
        {"OPERATORS", "Computer operators, all shifts", {"ADAMSK", "JSMITH", "OPS", "SMITH"}},
    };
}

// ---------------------------------------------------------------------------------------------
// Program parameter lists

struct ParmSpec {
    std::size_t length;
    bool read;
    bool written;
};

constexpr ParmSpec kListParms[] = {{kRequestLength, true, false}, {kAreaLength, false, false}};
constexpr ParmSpec kSendParms[] = {{10, true, false},          {10, true, false},
                                   {10, false, false},         {30, false, false},
                                   {kAreaLength, true, false}, {kAreaLength, false, true}};

std::optional<std::string> CheckParms(std::string_view program, std::span<ProgramParameter> parms,
                                      std::span<const ParmSpec> specs) {
    const std::string name(program);
    if (parms.size() != specs.size())
        return "Program " + name + " expects " + std::to_string(specs.size()) +
               " parameters, not " + std::to_string(parms.size()) + ".";
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const std::string which = "Parameter " + std::to_string(i + 1) + " of program " + name;
        const ParmDirection d = parms[i].direction;
        if (d != ParmDirection::Input && d != ParmDirection::Output && d != ParmDirection::InOut)
            return which + " has an invalid direction.";
        if (parms[i].data.size() != specs[i].length)
            return which + " must be " + std::to_string(specs[i].length) + " bytes, not " +
                   std::to_string(parms[i].data.size()) + ".";
        if (specs[i].read && d == ParmDirection::Output)
            return which + " must be an input parameter.";
        if (specs[i].written && d == ParmDirection::Input)
            return which + " must be an output parameter.";
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Send record

struct SendError {
    std::string_view id;
    std::string text;
};

struct SendRequest {
    std::string countText;
    long count = 0;
    std::vector<std::string> names;
    std::string subject;
    std::string body;
    std::string type;
    std::string modes;
    std::string raw;
};

SendRequest ParseSendRecord(std::span<const std::uint8_t> area) {
    SendRequest request;
    request.raw = Raw(area, kRecordLength);
    const std::string record = Decode(area, 0, kRecordLength);
    const std::string_view view(record);

    request.countText = std::string(Trim(view.substr(0, kCountLength)));
    request.count = ParseNumber(view.substr(0, kCountLength));
    for (std::size_t slot = 0; slot < kNameSlots; ++slot) {
        const auto name = Trim(view.substr(kNamesOffset + slot * kNameLength, kNameLength));
        if (!name.empty())
            request.names.emplace_back(name);
    }
    const auto text = TrimTrailing(view.substr(kTextOffset, kTextLength));
    if (const auto at = text.find("@@"); at != std::string_view::npos) {
        request.subject = std::string(text.substr(0, at));
        request.body = std::string(text.substr(at + 2));
    } else {
        request.body = std::string(text);
    }
    request.type = std::string(view.substr(kTypeOffset, kTypeLength));
    request.modes = std::string(view.substr(kModesOffset, kModeCount));
    return request;
}

// Error texts and ids are our own; the client shows the texts as they are.
// `known` answers whether a recipient (or, with true, a group) of that name exists.
std::vector<SendError>
CheckSendRequest(const SendRequest& request,
                 const std::function<bool(const std::string&, bool)>& known) {
    std::vector<SendError> errors;
    const bool groups = request.type == "*GRP";
    const bool typeKnown = groups || request.type == "*RCP";
    const char* noun = groups ? "group" : "recipient";

    if (request.names.empty())
        errors.push_back({"TVO0101", groups ? "No groups given." : "No recipients given."});
    if (request.count != static_cast<long>(request.names.size())) {
        const std::size_t n = request.names.size();
        const std::string count = request.countText.empty() ? "(blank)" : request.countText;
        errors.push_back({"TVO0102", "The count " + count + " does not agree with the " +
                                         std::to_string(n) + (n == 1 ? " name" : " names") +
                                         " given."});
    }
    if (!typeKnown) {
        const auto type = Trim(request.type);
        errors.push_back({"TVO0103", type.empty() ? "No entry type given; expected *RCP or *GRP."
                                                  : "Entry type " + std::string(type) +
                                                        " is neither *RCP nor *GRP."});
    } else {
        for (const std::string& name : request.names) {
            if (!known(ToUpper(name), groups))
                errors.push_back({"TVO0104", "Unknown " + std::string(noun) + " " + name + "."});
        }
    }
    if (std::any_of(request.modes.begin(), request.modes.end(),
                    [](char c) { return c != 'Y' && c != ' '; }))
        errors.push_back({"TVO0105", "Delivery mode flags must be Y or blank."});
    else if (request.modes.find('Y') == std::string::npos)
        errors.push_back({"TVO0106", "No delivery mode selected."});
    return errors;
}

void WriteSendReply(std::span<std::uint8_t> area, const std::vector<SendError>& errors) {
    std::string entries;
    std::size_t written = 0;
    for (const SendError& e : errors) {
        const std::string text = e.text.substr(0, kMaxDigitValue);
        std::string entry = Padded(e.id, kMessageIdLength) + Digits(text.size()) + text;
        if (1 + kDigits + entries.size() + entry.size() > area.size())
            break;
        entries += entry;
        ++written;
    }
    const std::string reply = errors.empty() ? "N" + Digits(0) : "Y" + Digits(written) + entries;
    std::fill(area.begin(), area.end(), cp::kEbcdicBlank);
    const std::string ebcdic = cp::ToEbcdic(reply);
    std::copy(ebcdic.begin(), ebcdic.end(), area.begin());
}

std::string ListEntry(char flag, std::string_view name, std::string_view description) {
    return cp::ToEbcdic(std::string(1, flag) + Padded(name, kNameLength) +
                        Padded(description, kDescriptionLength));
}

// Where a request's entries are filed: the owner and the key, one map key that no other
// pair of them can spell.
std::string FiledKey(std::string_view owner, std::string_view key) {
    return std::to_string(owner.size()) + ":" + std::string(owner) + std::string(key);
}

std::vector<std::string> SplitNames(std::string_view joined) {
    std::vector<std::string> names;
    while (!joined.empty()) {
        const auto blank = joined.find(' ');
        if (blank != 0)
            names.emplace_back(joined.substr(0, blank));
        if (blank == std::string_view::npos)
            break;
        joined.remove_prefix(blank + 1);
    }
    return names;
}

// SQLite's write lock has no queue: a daemon that commits back to back under load frees it
// only for moments, and another process's write would wait in vain. So a write of another
// process holds a shared lock on "<db>-turn" while it waits and runs, and the daemon lets
// such writes go first before each call it takes. The daemon makes the file; without one,
// no daemon has served the database and nobody needs to be let first.
class WriterTurns {
  public:
    WriterTurns(const std::string& path, bool create)
        : fd_(::open((path + "-turn").c_str(), O_RDONLY | O_CLOEXEC | (create ? O_CREAT : 0),
                     0600)) {}
    ~WriterTurns() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    WriterTurns(const WriterTurns&) = delete;
    WriterTurns& operator=(const WriterTurns&) = delete;

    // Held around a write that must not be shut out.
    class Announced {
      public:
        explicit Announced(int fd) : fd_(fd) {
            if (fd_ >= 0)
                ::flock(fd_, LOCK_SH);
        }
        ~Announced() {
            if (fd_ >= 0)
                ::flock(fd_, LOCK_UN);
        }
        Announced(const Announced&) = delete;
        Announced& operator=(const Announced&) = delete;

      private:
        int fd_;
    };
    Announced Announce() const { return Announced(fd_); }

    // Waits while a write is announced, for long enough that its writer, which looks for
    // SQLite's lock every millisecond, takes it; a stopped one only slows the daemon down.
    void LetOthersFirst(std::chrono::milliseconds limit) const {
        if (fd_ < 0)
            return;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (std::chrono::steady_clock::now() >= end)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::flock(fd_, LOCK_UN);
    }

  private:
    int fd_;
};

} // namespace

// ---------------------------------------------------------------------------------------------

struct HostEngine::Impl {
    using Clock = std::chrono::steady_clock;
    // Entries under one key, oldest first, and when the newest of them was filed.
    struct Filed {
        std::deque<std::string> entries;
        Clock::time_point at;
    };
    using KeyedEntries = std::map<std::string, Filed, std::less<>>;
    using QueueId = std::pair<std::string, std::string>; // library, queue

    std::mutex mutex;
    // A second process (the daemon's administration commands) may hold the file briefly.
    BusyWait busy{std::chrono::seconds(5)};
    sqlite3* db = nullptr;
    std::string file; // empty in memory
    std::optional<WriterTurns> turns;
    bool othersFirst = false;
    std::map<QueueId, KeyedEntries> queues;
    QueueLimits limits;

    // The lists as filed, kept while nobody changes the directory: another process
    // (the daemon's administration commands) shows up in data_version.
    std::optional<std::vector<std::string>> recipientEntries;
    std::optional<std::vector<std::string>> groupEntries;
    std::int64_t dataVersion = -1;
    // A batch of sends runs in one transaction; a failed store makes it start over.
    bool inBatch = false;
    bool batchStoreFailed = false;
    std::function<void(const std::string&)> failureReport;

    void ReportFailure(const std::string& line) {
        if (failureReport)
            failureReport(line);
    }

    explicit Impl(const std::string& path, OpenMode mode) {
        const bool inMemory = path.empty() || path == ":memory:";
        if (!inMemory && mode == OpenMode::CreateOrOpen)
            CreatePrivate(path);
        const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK) {
            const std::string why = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
            sqlite3_close(db);
            throw std::runtime_error("Cannot open the host database '" + path + "': " + why);
        }
        busy.Attach(db);
        try {
            Prepare(path, mode);
            if (!inMemory) {
                file = path;
                turns.emplace(file, false);
            }
        } catch (const UnusableDatabase&) {
            sqlite3_close(db);
            throw;
        } catch (const std::exception& e) {
            sqlite3_close(db);
            throw std::runtime_error("Cannot use the host database '" + path + "'. " + e.what());
        }
    }

    // SQLite would create the file as the umask says, and its journals take the file's mode.
    static void CreatePrivate(const std::string& path) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::fchmod(fd, 0600);
            ::close(fd);
        }
    }

    ~Impl() {
        prepared.clear(); // a connection with live statements does not close
        sqlite3_close(db);
    }

    // The statements of every send, prepared once; each is reset after use, so none
    // holds a read transaction open between calls.
    std::map<std::string_view, std::unique_ptr<Statement>> prepared;
    Statement& Prepared(std::string_view sql) {
        auto& slot = prepared[sql];
        if (!slot)
            slot = std::make_unique<Statement>(db, sql.data());
        return *slot;
    }

    void Prepare(const std::string& path, OpenMode mode) {
        Exec(db, "PRAGMA foreign_keys = ON");
        const std::int64_t found = CheckFile(path, mode);
        if (path != ":memory:" && !path.empty()) {
            // An accepted message must survive a crash once its reply has left.
            Exec(db, "PRAGMA journal_mode = WAL");
            Exec(db, "PRAGMA synchronous = FULL");
        }
        if (found == kSchemaVersion) {
            Exec(db, kSchema);
            Exec(db, kOutboxRequestIndex);
            return;
        }
        Transaction tx(db);
        if (found == 1)
            Exec(db, kUsersV2);
        Exec(db, kSchema);
        Statement hasKey(db, "SELECT count(*) FROM pragma_table_info('outbox') "
                             "WHERE name = 'request_key'");
        hasKey.Step();
        if (hasKey.ColumnInt(0) == 0)
            Exec(db, kOutboxV3);
        Exec(db, kOutboxRequestIndex);
        Exec(db, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
        tx.Commit();
    }

    // Reads what the file holds before anything is written to it; returns its schema
    // version, 0 for an empty file.
    std::int64_t CheckFile(const std::string& path, OpenMode mode) {
        using Why = UnusableDatabase::Why;
        const std::string named = "The file '" + path + "'";
        std::int64_t version = 0, objects = 0, users = 0;
        std::string problem;
        try {
            Statement s(db, "SELECT (SELECT user_version FROM pragma_user_version), "
                            "(SELECT count(*) FROM sqlite_master), (SELECT count(*) FROM "
                            "sqlite_master WHERE type = 'table' AND name = 'users')");
            s.Step();
            version = s.ColumnInt(0);
            objects = s.ColumnInt(1);
            users = s.ColumnInt(2);
            if (objects != 0) {
                Statement check(db, "PRAGMA quick_check(1)");
                problem = check.Step() ? check.ColumnText(0) : "no answer to the check";
            }
        } catch (const std::runtime_error& e) {
            if ((sqlite3_extended_errcode(db) & 0xFF) == SQLITE_NOTADB)
                throw UnusableDatabase(Why::Foreign, named + " is not a host database (" +
                                                         sqlite3_errmsg(db) +
                                                         "); it was left as it is.");
            if ((sqlite3_extended_errcode(db) & 0xFF) != SQLITE_CORRUPT)
                throw;
            problem = sqlite3_errmsg(db);
        }
        if (objects == 0 && version == 0) {
            if (mode == OpenMode::Existing)
                throw UnusableDatabase(Why::Empty, named + " is empty: it holds no host database.");
            return 0;
        }
        if (users == 0 || version < 1)
            throw UnusableDatabase(Why::Foreign, named + " holds a database of another program, "
                                                         "not a host database; it was left as "
                                                         "it is.");
        if (version > kSchemaVersion)
            throw UnusableDatabase(Why::Newer, named + " was written by a newer version.");
        if (problem != "ok")
            throw UnusableDatabase(Why::Damaged, named + " is damaged: " + problem);
        return version;
    }

    bool QueueExists(std::string_view queue, std::string_view library) {
        Statement s(db, "SELECT 1 FROM queues WHERE library = ?1 AND name = ?2");
        s.Text(1, library).Text(2, queue);
        return s.Step();
    }

    std::vector<Recipient> Recipients() {
        std::vector<Recipient> out;
        Statement s(db, "SELECT name, description FROM recipients ORDER BY name");
        while (s.Step())
            out.push_back({s.ColumnText(0), s.ColumnText(1)});
        return out;
    }

    std::vector<Group> Groups() {
        std::vector<Group> out;
        Statement s(db, "SELECT name, description FROM groups ORDER BY name");
        while (s.Step())
            out.push_back({s.ColumnText(0), s.ColumnText(1), {}});
        Statement m(db, "SELECT recipient FROM group_members WHERE group_name = ?1 "
                        "ORDER BY position");
        for (Group& g : out) {
            m.Text(1, g.name);
            while (m.Step())
                g.members.push_back(m.ColumnText(0));
        }
        return out;
    }

    void ReplaceDirectory(const std::vector<Recipient>& recipients,
                          const std::vector<Group>& groups) {
        CheckDirectory(recipients, groups);
        const auto announced = Announce();
        Transaction tx(db);
        Exec(db, "DELETE FROM group_members; DELETE FROM groups; DELETE FROM recipients;");
        Statement r(db, "INSERT INTO recipients (name, description) VALUES (?1, ?2)");
        for (const Recipient& x : recipients) {
            r.Text(1, x.name).Text(2, x.description).Run();
        }
        Statement g(db, "INSERT INTO groups (name, description) VALUES (?1, ?2)");
        Statement m(
            db, "INSERT INTO group_members (group_name, recipient, position) VALUES (?1, ?2, ?3)");
        for (const Group& x : groups) {
            g.Text(1, x.name).Text(2, x.description).Run();
            for (std::size_t i = 0; i < x.members.size(); ++i)
                m.Text(1, x.name).Text(2, x.members[i]).Int(3, static_cast<std::int64_t>(i)).Run();
        }
        tx.Commit();
        ForgetLists();
    }

    WriterTurns::Announced Announce() const {
        return turns ? turns->Announce() : WriterTurns::Announced(-1);
    }

    void LetOthersFirst() {
        if (othersFirst)
            turns->LetOthersFirst(std::chrono::milliseconds(20));
    }

    void ForgetLists() {
        recipientEntries.reset();
        groupEntries.reset();
    }

    const std::vector<std::string>& ListEntries(bool recipients) {
        Statement version(db, "PRAGMA data_version");
        version.Step();
        if (const std::int64_t v = version.ColumnInt(0); v != dataVersion) {
            ForgetLists();
            dataVersion = v;
        }
        auto& cached = recipients ? recipientEntries : groupEntries;
        if (!cached) {
            std::vector<std::string> entries;
            Statement s(db, recipients ? "SELECT name, description FROM recipients ORDER BY name"
                                       : "SELECT name, description FROM groups ORDER BY name");
            while (s.Step())
                entries.push_back(ListEntry(' ', s.ColumnText(0), s.ColumnText(1)));
            entries.push_back(ListEntry(kEndMarker, "", ""));
            cached = std::move(entries);
        }
        return *cached;
    }

    Clock::time_point Now() const { return limits.now ? limits.now() : Clock::now(); }

    void DropExpired() {
        const auto oldest = Now() - limits.expiry;
        for (auto& [id, keyed] : queues)
            std::erase_if(keyed, [&](const auto& filed) {
                const bool expired = filed.second.at < oldest;
                if (expired)
                    unreadBytes -= Bytes(filed.second.entries);
                return expired;
            });
    }
    static std::size_t Bytes(const std::deque<std::string>& entries) {
        return entries.empty() ? 0 : entries.size() * entries.front().size();
    }
    std::size_t unreadBytes = 0; // of every entry filed and not yet taken

    CallOutcome RunList(std::span<ProgramParameter> parms, std::string_view owner) {
        if (auto problem = CheckParms(HostEngine::kListProgram, parms, kListParms))
            return Failed(*problem);
        const std::span<const std::uint8_t> request = parms[0].data;
        const std::string code(Trim(Decode(request, 0, kFunctionLength)));
        const std::string library(HostEngine::kLibrary);
        const std::string queue(HostEngine::kReplyQueue);

        if (code == "*CRTDTAQ") {
            Statement s(db, "INSERT OR IGNORE INTO queues (library, name) VALUES (?1, ?2)");
            s.Text(1, library).Text(2, queue).Run();
            return {};
        }
        if (code != "*RCPL" && code != "*GRPL")
            return Failed(code.empty()
                              ? "Program TVOCGET was called without a function code."
                              : "Function " + code + " is not supported by program TVOCGET.");
        if (!QueueExists(queue, library))
            return Failed("Data queue " + queue + " in library " + library + " not found.");

        const auto& entries = ListEntries(code == "*RCPL");
        DropExpired();
        auto& keyed = queues[{library, queue}];
        const std::string key = FiledKey(owner, Raw(request, kKeyLength));
        const auto existing = keyed.find(key);
        const std::size_t unread = existing == keyed.end() ? 0 : existing->second.entries.size();
        if (unread + entries.size() > limits.perKeyCap)
            return Failed("Data queue " + queue +
                          " holds too many unread entries for this "
                          "request; at most " +
                          std::to_string(limits.perKeyCap) + " are kept under one key.");
        std::size_t adding = 0;
        for (const auto& entry : entries)
            adding += entry.size();
        if (unreadBytes + adding > limits.totalBytes)
            return Failed("Data queue " + queue + " holds " + std::to_string(unreadBytes >> 20) +
                          " MiB of entries nobody has read yet, as much as the host keeps; "
                          "try again in a few minutes.");
        unreadBytes += adding;
        Filed& filed = keyed[key];
        filed.entries.insert(filed.entries.end(), entries.begin(), entries.end());
        filed.at = Now();
        return {};
    }

    CallOutcome RunSend(std::span<ProgramParameter> parms, std::string_view requestKey) {
        if (auto problem = CheckParms(HostEngine::kSendProgram, parms, kSendParms))
            return Failed(*problem);
        const std::string function(Trim(Decode(parms[0].data, 0, parms[0].data.size())));
        if (function != "*CA")
            return Failed("Function '" + function + "' is not supported by program TVOCUPD.");
        const std::string action(Trim(Decode(parms[1].data, 0, parms[1].data.size())));
        if (action != "*SNDTVO")
            return Failed("Request '" + action + "' is not supported by program TVOCUPD.");

        if (!requestKey.empty()) {
            Statement& seen = Prepared("SELECT 1 FROM outbox WHERE request_key = ?1");
            const bool stored = seen.Text(1, requestKey).Step();
            seen.Reset();
            if (stored) { // accepted before: the same answer, and no second copy
                WriteSendReply(parms[5].data, {});
                return {};
            }
        }
        const SendRequest request = ParseSendRecord(parms[4].data);
        std::vector<SendError> errors =
            CheckSendRequest(request, [this](const std::string& name, bool group) {
                Statement& lookup = Prepared(group ? "SELECT 1 FROM groups WHERE name = ?1"
                                                   : "SELECT 1 FROM recipients WHERE name = ?1");
                const bool found = lookup.Text(1, name).Step();
                lookup.Reset();
                return found;
            });
        if (errors.empty()) {
            try {
                Store(request, requestKey);
            } catch (const std::exception& e) {
                // A batch that fails goes again call by call: those failures are reported.
                batchStoreFailed = inBatch;
                if (!inBatch)
                    ReportFailure(std::string("A message could not be stored: ") + e.what());
                errors.push_back(
                    {"TVO0190", std::string("The message could not be stored. ") + e.what()});
            }
        }
        WriteSendReply(parms[5].data, errors);
        return {};
    }

    void Store(const SendRequest& request, std::string_view requestKey) {
        std::string names;
        for (const std::string& n : request.names)
            names += (names.empty() ? "" : " ") + n;
        Statement& s =
            Prepared("INSERT INTO outbox (accepted_at, kind, names, subject, body, modes, "
                     "raw_record, request_key) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        s.Text(1, UtcNow())
            .Text(2, request.type)
            .Text(3, names)
            .Text(4, request.subject)
            .Text(5, request.body)
            .Text(6, request.modes)
            .Blob(7, request.raw);
        if (requestKey.empty())
            s.Null(8);
        else
            s.Text(8, requestKey);
        try {
            s.Run();
        } catch (...) {
            s.Reset();
            throw;
        }
    }

    std::vector<OutboxMessage> Outbox() {
        std::vector<OutboxMessage> out;
        Statement s(db, "SELECT id, accepted_at, kind, names, subject, body, modes, raw_record "
                        "FROM outbox ORDER BY id DESC");
        while (s.Step()) {
            OutboxMessage m;
            m.id = s.ColumnInt(0);
            m.acceptedAt = s.ColumnText(1);
            m.groups = s.ColumnText(2) == "*GRP";
            m.names = SplitNames(s.ColumnText(3));
            m.subject = s.ColumnText(4);
            m.body = s.ColumnText(5);
            m.modes = s.ColumnText(6);
            m.rawRecord = s.ColumnText(7);
            out.push_back(std::move(m));
        }
        return out;
    }

    std::vector<std::string> Take(std::string_view queue, std::string_view library,
                                  std::string_view key, std::size_t max, std::string_view owner) {
        std::vector<std::string> out;
        DropExpired();
        const auto q = queues.find(QueueId{library, queue});
        if (q == queues.end())
            return out;
        const auto k = q->second.find(FiledKey(owner, key));
        if (k == q->second.end())
            return out;
        auto& entries = k->second.entries;
        while (out.size() < max && !entries.empty()) {
            unreadBytes -= entries.front().size();
            out.push_back(std::move(entries.front()));
            entries.pop_front();
        }
        if (entries.empty())
            q->second.erase(k);
        return out;
    }
    CallOutcome Dispatch(std::string_view program, std::string_view library,
                         std::span<ProgramParameter> parms, std::string_view owner,
                         std::string_view requestKey = {}) {
        try {
            if (library == kLibrary && program == kListProgram)
                return RunList(parms, owner);
            if (library == kLibrary && program == kSendProgram)
                return RunSend(parms, requestKey);
        } catch (const std::exception& e) {
            const std::string failed = "Program " + std::string(program) + " failed: " + e.what();
            ReportFailure(failed);
            return Failed(failed);
        }
        CallOutcome missing = Failed("Program " + std::string(program) + " in library " +
                                     std::string(library) + " not found.");
        missing.messageId = "CPF9811";
        return missing;
    }

    // Sends share one transaction; everything else has effects outside the database
    // and runs on its own, once.
    void RunBatch(std::span<BatchCall> calls) {
        std::vector<BatchCall*> sends;
        for (BatchCall& c : calls) {
            if (c.library == kLibrary && c.program == kSendProgram)
                sends.push_back(&c);
            else
                c.outcome = Dispatch(c.program, c.library, c.parms, c.owner);
        }
        if (sends.size() > 1) {
            try {
                Transaction tx(db);
                inBatch = true;
                batchStoreFailed = false;
                for (BatchCall* c : sends)
                    c->outcome =
                        Dispatch(c->program, c->library, c->parms, c->owner, c->requestKey);
                inBatch = false;
                if (!batchStoreFailed) {
                    tx.Commit();
                    return;
                }
            } catch (const std::exception&) {
                inBatch = false;
            }
        }
        // Nothing of a failed batch was kept: each call goes again with its own commit,
        // so one bad store costs only its own message.
        for (BatchCall* c : sends)
            c->outcome = Dispatch(c->program, c->library, c->parms, c->owner, c->requestKey);
    }
};

HostEngine::HostEngine(const std::string& path, OpenMode mode)
    : impl_(std::make_unique<Impl>(path, mode)) {}

HostEngine::~HostEngine() = default;

void HostEngine::SeedDemoDirectory() {
    std::lock_guard lock(impl_->mutex);
    std::int64_t entries = 0;
    {
        Statement s(impl_->db, "SELECT (SELECT count(*) FROM recipients) + "
                               "(SELECT count(*) FROM groups)");
        s.Step();
        entries = s.ColumnInt(0);
    }
    if (entries == 0)
        impl_->ReplaceDirectory(DemoRecipients(), DemoGroups());
}

CallOutcome HostEngine::CallProgram(std::string_view program, std::string_view library,
                                    std::span<ProgramParameter> parms, std::string_view owner,
                                    std::string_view requestKey) {
    std::lock_guard lock(impl_->mutex);
    impl_->LetOthersFirst();
    return impl_->Dispatch(program, library, parms, owner, requestKey);
}

void HostEngine::CallPrograms(std::span<BatchCall> calls) {
    std::lock_guard lock(impl_->mutex);
    impl_->LetOthersFirst();
    impl_->RunBatch(calls);
}

void HostEngine::LetOtherWritersFirst() {
    std::lock_guard lock(impl_->mutex);
    if (impl_->file.empty())
        return;
    impl_->turns.emplace(impl_->file, true);
    impl_->othersFirst = true;
}

void HostEngine::SetFailureReport(std::function<void(const std::string&)> report) {
    std::lock_guard lock(impl_->mutex);
    impl_->failureReport = std::move(report);
}

void HostEngine::SetQueueLimits(QueueLimits limits) {
    std::lock_guard lock(impl_->mutex);
    impl_->limits = std::move(limits);
}

bool HostEngine::QueueExists(std::string_view queue, std::string_view library) {
    std::lock_guard lock(impl_->mutex);
    return impl_->QueueExists(queue, library);
}

std::optional<std::string> HostEngine::TakeEntry(std::string_view queue, std::string_view library,
                                                 std::string_view key, std::string_view owner) {
    std::lock_guard lock(impl_->mutex);
    auto taken = impl_->Take(queue, library, key, 1, owner);
    if (taken.empty())
        return std::nullopt;
    return std::move(taken.front());
}

std::vector<std::string> HostEngine::TakeEntries(std::string_view queue, std::string_view library,
                                                 std::string_view key, std::size_t max,
                                                 std::string_view owner) {
    std::lock_guard lock(impl_->mutex);
    return impl_->Take(queue, library, key, max, owner);
}

std::vector<Recipient> HostEngine::Recipients() {
    std::lock_guard lock(impl_->mutex);
    return impl_->Recipients();
}

std::vector<Group> HostEngine::Groups() {
    std::lock_guard lock(impl_->mutex);
    return impl_->Groups();
}

void HostEngine::ReplaceDirectory(const std::vector<Recipient>& recipients,
                                  const std::vector<Group>& groups) {
    std::lock_guard lock(impl_->mutex);
    impl_->ReplaceDirectory(recipients, groups);
}

std::vector<OutboxMessage> HostEngine::Outbox() {
    std::lock_guard lock(impl_->mutex);
    return impl_->Outbox();
}

void HostEngine::SetUser(std::string_view name, const UserPasswords& passwords) {
    const std::string upper = ToUpper(name);
    CheckName("User", upper);
    std::lock_guard lock(impl_->mutex);
    const auto announced = impl_->Announce();
    Statement s(
        impl_->db,
        "INSERT INTO users (name, password_hash, des_token, sha_token, pbkdf2_token) "
        "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (name) DO UPDATE SET "
        "password_hash = excluded.password_hash, des_token = excluded.des_token, "
        "sha_token = excluded.sha_token, pbkdf2_token = excluded.pbkdf2_token, expired = 0");
    s.Text(1, upper).Text(2, passwords.hash);
    const std::string* tokens[] = {&passwords.desToken, &passwords.shaToken,
                                   &passwords.pbkdf2Token};
    for (int i = 0; i < 3; ++i) {
        if (tokens[i]->empty())
            s.Null(3 + i);
        else
            s.Blob(3 + i, *tokens[i]);
    }
    s.Run();
}

void HostEngine::SetUser(std::string_view name, std::string_view passwordHash) {
    SetUser(name, UserPasswords{std::string(passwordHash), {}, {}, {}});
}

std::optional<UserAccount> HostEngine::User(std::string_view name) {
    std::lock_guard lock(impl_->mutex);
    Statement s(impl_->db, "SELECT password_hash, des_token, sha_token, pbkdf2_token, disabled, "
                           "expired FROM users WHERE name = ?1");
    s.Text(1, ToUpper(name));
    if (!s.Step())
        return std::nullopt;
    return UserAccount{{s.ColumnText(0), s.ColumnText(1), s.ColumnText(2), s.ColumnText(3)},
                       s.ColumnInt(4) != 0,
                       s.ColumnInt(5) != 0};
}

std::optional<std::string> HostEngine::UserPasswordHash(std::string_view name) {
    auto account = User(name);
    if (!account)
        return std::nullopt;
    return std::move(account->passwords.hash);
}

bool HostEngine::SetUserDisabled(std::string_view name, bool disabled) {
    std::lock_guard lock(impl_->mutex);
    const auto announced = impl_->Announce();
    Statement s(impl_->db, "UPDATE users SET disabled = ?2 WHERE name = ?1");
    s.Text(1, ToUpper(name)).Int(2, disabled ? 1 : 0).Run();
    return sqlite3_changes(impl_->db) > 0;
}

bool HostEngine::ExpirePassword(std::string_view name) {
    std::lock_guard lock(impl_->mutex);
    const auto announced = impl_->Announce();
    Statement s(impl_->db, "UPDATE users SET expired = 1 WHERE name = ?1");
    s.Text(1, ToUpper(name)).Run();
    return sqlite3_changes(impl_->db) > 0;
}

std::vector<std::string> HostEngine::Users() {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::string> out;
    Statement s(impl_->db, "SELECT name FROM users ORDER BY name");
    while (s.Step())
        out.push_back(s.ColumnText(0));
    return out;
}

} // namespace tavo::server
