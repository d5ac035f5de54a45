#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

namespace tavo::server {

// A thin hold on SQLite: errors become exceptions, statements are bound and run again
// row after row, and a transaction rolls back unless committed.

[[noreturn]] inline void ThrowDb(sqlite3* db, std::string_view what) {
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

inline void Exec(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string text = error != nullptr ? error : sqlite3_errmsg(db);
        sqlite3_free(error);
        throw std::runtime_error("Host database error: " + text);
    }
}

// Waits up to `limit` for another connection's lock. SQLite's own busy timeout backs off
// to one look every 100 ms; a daemon that commits back to back under load frees its write
// lock only for moments between commits, and fifty looks in five seconds all land inside
// its commits. One look every millisecond finds a gap.
class BusyWait {
  public:
    explicit BusyWait(std::chrono::milliseconds limit) : limit_(limit) {}
    BusyWait(const BusyWait&) = delete;
    BusyWait& operator=(const BusyWait&) = delete;
    // Set before anything else on the connection, which must not outlive this.
    void Attach(sqlite3* db) { sqlite3_busy_handler(db, &BusyWait::Retry, this); }

  private:
    static int Retry(void* self, int count) {
        auto& wait = *static_cast<BusyWait*>(self);
        const auto now = std::chrono::steady_clock::now();
        if (count == 0)
            wait.since_ = now;
        if (now - wait.since_ >= wait.limit_)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 1;
    }
    std::chrono::milliseconds limit_;
    std::chrono::steady_clock::time_point since_;
};

class Statement {
  public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            ThrowDb(db, "Host database error");
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Text(int index, std::string_view text) {
        Rewind();
        Check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& Blob(int index, std::string_view bytes) {
        Rewind();
        Check(sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& Null(int index) {
        Rewind();
        Check(sqlite3_bind_null(stmt_, index));
        return *this;
    }
    Statement& Int(int index, std::int64_t value) {
        Rewind();
        Check(sqlite3_bind_int64(stmt_, index, value));
        return *this;
    }
    // True while a row is available.
    bool Step() {
        stepped_ = true;
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        ThrowDb(db_, "Host database error");
    }
    void Run() {
        while (Step()) {
        }
    }
    std::string ColumnText(int column) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
        const int size = sqlite3_column_bytes(stmt_, column);
        return bytes != nullptr ? std::string(bytes, static_cast<std::size_t>(size)) : "";
    }
    std::int64_t ColumnInt(int column) { return sqlite3_column_int64(stmt_, column); }
    void Reset() { Rewind(); }

  private:
    // Lets one statement be bound and run again, row after row.
    void Rewind() {
        if (stepped_)
            sqlite3_reset(stmt_);
        stepped_ = false;
    }
    void Check(int rc) {
        if (rc != SQLITE_OK)
            ThrowDb(db_, "Host database error");
    }
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    bool stepped_ = false;
};

class Transaction {
  public:
    explicit Transaction(sqlite3* db) : db_(db) { Exec(db_, "BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (!done_)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
        Exec(db_, "COMMIT");
        done_ = true;
    }

  private:
    sqlite3* db_;
    bool done_ = false;
};

} // namespace tavo::server
