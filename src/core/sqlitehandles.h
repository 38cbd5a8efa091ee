// Owning handles for SQLite connections and statements.
#pragma once

#include <sqlite3.h>
#include <memory>

namespace corvalis {

struct SqliteCloser {
    void operator()(sqlite3* db) const noexcept { sqlite3_close(db); }
};
struct SqliteFinalizer {
    void operator()(sqlite3_stmt* st) const noexcept { sqlite3_finalize(st); }
};

using SqliteConnection = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

// Prepares sql (NUL-terminated); returns null when it does not prepare.
inline SqliteStatement PrepareStatement(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return {};
    }
    return SqliteStatement(raw);
}

// name as an SQL identifier in double quotes, any quote in it doubled.
inline std::string QuoteIdentifier(std::string_view name) {
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + '"';
}

// Resets a statement and clears its bindings when it ends, so that the
// statement is ready for its next use whichever way the use ended.
class StatementScope {
public:
    explicit StatementScope(sqlite3_stmt* st) : st_(st) {}
    ~StatementScope() {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }
    StatementScope(const StatementScope&) = delete;
    StatementScope& operator=(const StatementScope&) = delete;

private:
    sqlite3_stmt* st_;
};

// Holds one read transaction while it lives, when the connection is not in
// one already: the statements run meanwhile read one snapshot of the store,
// and the file lock is taken once for all of them. Does nothing for a null
// connection; the connection must outlive it.
class ReadTransaction {
public:
    explicit ReadTransaction(sqlite3* db) : db_(db) {
        if (db_ != nullptr && sqlite3_get_autocommit(db_) != 0)
            began_ = sqlite3_exec(db_, "BEGIN;", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~ReadTransaction() {
        if (began_ && sqlite3_exec(db_, "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK)
            sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
    }
    ReadTransaction(const ReadTransaction&) = delete;
    ReadTransaction& operator=(const ReadTransaction&) = delete;

private:
    sqlite3* db_;
    bool began_ = false;
};

}  // namespace corvalis
