#include "HostDatabase.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Sqlite.h"

namespace tavo::server {

namespace {

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
    expired       INTEGER NOT NULL DEFAULT 0,
    password_expires INTEGER
);
-- What `user unlock` asks of a daemon serving the database; it takes them in and forgets them.
CREATE TABLE IF NOT EXISTS unlock_requests (
    number INTEGER PRIMARY KEY AUTOINCREMENT,
    user   TEXT NOT NULL
);
-- What a daemon serving the file recorded at its start, for the administration commands.
CREATE TABLE IF NOT EXISTS settings (
    name  TEXT PRIMARY KEY NOT NULL,
    value TEXT NOT NULL
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

constexpr int kSchemaVersion = 4;

// Version 3 remembers, with each message, the request that brought it, so a send that
// comes again after its reply was lost is recognised.
constexpr const char* kOutboxV3 = "ALTER TABLE outbox ADD COLUMN request_key TEXT;";

// Version 4 gives a password a date on which it expires, so a client can warn before.
constexpr const char* kUsersV4 = "ALTER TABLE users ADD COLUMN password_expires INTEGER;";

// Version 1 kept only the libsodium hash. Its users keep it and get no IBM i tokens
// until their password is set again, since the tokens cannot be made from a hash.
constexpr const char* kUsersV2 = R"sql(
ALTER TABLE users ADD COLUMN des_token BLOB;
ALTER TABLE users ADD COLUMN sha_token BLOB;
ALTER TABLE users ADD COLUMN pbkdf2_token BLOB;
ALTER TABLE users ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0;
ALTER TABLE users ADD COLUMN expired INTEGER NOT NULL DEFAULT 0;
)sql";

// Reads what the file holds before anything is written to it; returns its schema
// version, 0 for an empty file.
std::int64_t CheckFile(sqlite3* db, const std::string& path, OpenMode mode) {
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

} // namespace

void CreatePrivate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
}

void PrepareDatabase(sqlite3* db, const std::string& path, OpenMode mode) {
    Exec(db, "PRAGMA foreign_keys = ON");
    const std::int64_t found = CheckFile(db, path, mode);
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
    bool hasExpiry = false;
    {
        Statement s(db, "SELECT count(*) FROM pragma_table_info('users') "
                        "WHERE name = 'password_expires'");
        s.Step();
        hasExpiry = s.ColumnInt(0) != 0;
    }
    if (!hasExpiry)
        Exec(db, kUsersV4);
    Exec(db, kOutboxRequestIndex);
    Exec(db, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    tx.Commit();
}

} // namespace tavo::server
