#include "HostEngine.h"
#include "Latin1Text.h"
#include "UnreadLists.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>

#include "Ccsid37.h"
#include "HostDatabase.h"
#include "HostRecords.h"
#include "Sqlite.h"

namespace tavo::server {

namespace {

namespace cp = tavo::codepage;
using namespace records;

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

Status Failed(std::string message, std::string id = {}) {
    return Status::Fail(Status::kFailed, std::move(message), {}, std::move(id));
}

// Where a list is filed within its owner's: no other queue and key can spell the same.
std::string ListId(std::string_view library, std::string_view queue, std::string_view key) {
    return FiledKey(library, FiledKey(queue, key));
}

} // namespace

// ---------------------------------------------------------------------------------------------

struct HostEngine::Impl {
    std::mutex mutex;
    // A second process (the daemon's administration commands) may hold the file briefly.
    BusyWait busy{std::chrono::seconds(5)};
    sqlite3* db = nullptr;
    std::string file; // empty in memory
    std::optional<WriterTurns> turns;
    bool othersFirst = false;
    UnreadLists unread;

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
            PrepareDatabase(db, path, mode);
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

    Status RunList(std::span<ProgramParameter> parms, std::string_view owner) {
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
        if (auto refused = unread.File(owner, ListId(library, queue, Raw(request, kKeyLength)),
                                       entries, queue))
            return Failed(*refused);
        return {};
    }

    Status RunSend(std::span<ProgramParameter> parms, std::string_view requestKey) {
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
        std::vector<Status> errors =
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
                    Failed(std::string("The message could not be stored. ") + e.what(), "TVO0190"));
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

    Status Dispatch(std::string_view program, std::string_view library,
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
        return Failed("Program " + std::string(program) + " in library " + std::string(library) +
                          " not found.",
                      "CPF9811");
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

Status HostEngine::CallProgram(std::string_view program, std::string_view library,
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
    impl_->unread.SetLimits(std::move(limits));
}

bool HostEngine::QueueExists(std::string_view queue, std::string_view library) {
    std::lock_guard lock(impl_->mutex);
    return impl_->QueueExists(queue, library);
}

std::optional<std::string> HostEngine::TakeEntry(std::string_view queue, std::string_view library,
                                                 std::string_view key, std::string_view owner) {
    std::lock_guard lock(impl_->mutex);
    auto taken = impl_->unread.Take(owner, ListId(library, queue, key), 1);
    if (taken.empty())
        return std::nullopt;
    return std::move(taken.front());
}

std::vector<std::string> HostEngine::TakeEntries(std::string_view queue, std::string_view library,
                                                 std::string_view key, std::size_t max,
                                                 std::string_view owner) {
    std::lock_guard lock(impl_->mutex);
    return impl_->unread.Take(owner, ListId(library, queue, key), max);
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
    const std::string upper = tavo::text::FoldName(name);
    CheckName("User", upper);
    std::lock_guard lock(impl_->mutex);
    const auto announced = impl_->Announce();
    Statement s(
        impl_->db,
        "INSERT INTO users (name, password_hash, des_token, sha_token, pbkdf2_token) "
        "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (name) DO UPDATE SET "
        "password_hash = excluded.password_hash, des_token = excluded.des_token, "
        "sha_token = excluded.sha_token, pbkdf2_token = excluded.pbkdf2_token, expired = 0, "
        "password_expires = NULL");
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
                           "expired, password_expires, password_expires IS NULL FROM users "
                           "WHERE name = ?1");
    s.Text(1, tavo::text::FoldName(name));
    if (!s.Step())
        return std::nullopt;
    UserAccount account{{s.ColumnText(0), s.ColumnText(1), s.ColumnText(2), s.ColumnText(3)},
                        s.ColumnInt(4) != 0,
                        s.ColumnInt(5) != 0,
                        std::nullopt};
    if (s.ColumnInt(7) == 0)
        account.passwordExpires = s.ColumnInt(6);
    return account;
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
    s.Text(1, tavo::text::FoldName(name)).Int(2, disabled ? 1 : 0).Run();
    return sqlite3_changes(impl_->db) > 0;
}

bool HostEngine::ExpirePassword(std::string_view name) {
    std::lock_guard lock(impl_->mutex);
    const auto announced = impl_->Announce();
    Statement s(impl_->db, "UPDATE users SET expired = 1 WHERE name = ?1");
    s.Text(1, tavo::text::FoldName(name)).Run();
    return sqlite3_changes(impl_->db) > 0;
}

bool HostEngine::SetPasswordExpiry(std::string_view name, std::int64_t at) {
    std::lock_guard lock(impl_->mutex);
    const auto announced = impl_->Announce();
    Statement s(impl_->db, "UPDATE users SET password_expires = ?2 WHERE name = ?1");
    s.Text(1, tavo::text::FoldName(name)).Int(2, at).Run();
    return sqlite3_changes(impl_->db) > 0;
}

void HostEngine::SetServedPasswordLevel(int level) {
    std::lock_guard lock(impl_->mutex);
    const auto announced = impl_->Announce();
    Statement s(impl_->db, "INSERT INTO settings (name, value) VALUES ('password_level', ?1) "
                           "ON CONFLICT (name) DO UPDATE SET value = excluded.value");
    s.Text(1, std::to_string(level)).Run();
}

std::optional<int> HostEngine::ServedPasswordLevel() {
    std::lock_guard lock(impl_->mutex);
    Statement s(impl_->db, "SELECT value FROM settings WHERE name = 'password_level'");
    if (!s.Step())
        return std::nullopt;
    const std::string value = s.ColumnText(0);
    int level = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), level);
    if (ec != std::errc() || end != value.data() + value.size() || level < kNoIbmiSignOn ||
        level > 4)
        throw std::runtime_error("The host database records password level '" + value +
                                 "', which no daemon serves; start the daemon again to "
                                 "record its own.");
    return level;
}

bool HostEngine::RequestUnlock(std::string_view name) {
    std::lock_guard lock(impl_->mutex);
    const auto announced = impl_->Announce();
    Statement s(impl_->db, "INSERT INTO unlock_requests (user) SELECT name FROM users "
                           "WHERE name = ?1");
    s.Text(1, tavo::text::FoldName(name)).Run();
    return sqlite3_changes(impl_->db) > 0;
}

std::vector<std::string> HostEngine::TakeUnlockRequests() {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::string> users;
    std::int64_t last = 0;
    Statement s(impl_->db, "SELECT number, user FROM unlock_requests ORDER BY number");
    while (s.Step()) {
        last = s.ColumnInt(0);
        users.push_back(s.ColumnText(1));
    }
    // A request made meanwhile has a higher number and stays for the next call.
    if (last > 0)
        Statement(impl_->db, "DELETE FROM unlock_requests WHERE number <= ?1").Int(1, last).Run();
    return users;
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
