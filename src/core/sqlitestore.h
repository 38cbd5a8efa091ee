// The one way every SQLite store is read: the connection policy (read-only,
// page cache, no memory map, busy wait, the immutable retry for WAL stores in
// folders that cannot be written) and the read batches that share one read
// transaction.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "sqlitehandles.h"

namespace corvalis {

// A "file:" URI naming path (percent-encoded) with SQLite's immutable flag:
// the file is read without locks or journal, as on read-only media.
std::string ImmutableFileUri(const std::string& path);

// The time a store's statements may take: every statement of an open
// together (a base, and more for a larger file, whose tables take longer to
// read), and each tile read on its own. A store whose query runs longer (a
// view over an endless or huge query) fails the open or the tile.
inline constexpr std::chrono::milliseconds kOpenBudgetBase{3000};
inline constexpr std::int64_t kOpenBudgetBytesPerSecond = std::int64_t{100} << 20;
inline constexpr std::chrono::milliseconds kTileReadBudget{2000};
std::chrono::milliseconds OpenBudget(std::int64_t fileBytes);

// Every SQLite connection of the program together may hold this much heap;
// beyond it a statement fails with SQLITE_NOMEM instead of taking more.
inline constexpr std::int64_t kSqliteHeapLimit = std::int64_t{256} << 20;

// What a failed statement says to the user: the budget it ran out of, or
// SQLite's own message.
std::string StatementFailure(sqlite3* db, int rc, bool outOfTime);

class SqliteStore {
public:
    SqliteStore() = default;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    // Opens path read-only; false with errorText "cannot open database: ..."
    // when the file cannot be opened, or its schema cannot be read for a lock
    // or a journal it cannot roll back. The open's statements share
    // OpenBudget of the file's size from here.
    bool Open(const std::string& path, std::string& errorText);
    void Close();
    // Opened without its "-wal" file, whose recent changes a read-only
    // folder keeps out of reach.
    bool WalNotRead() const { return walNotRead_; }

    sqlite3* db() const { return db_.get(); }
    std::string ErrorMessage() const;

    // From now on, statements may run for budget (until the next call);
    // without a budget they may run as long as they need.
    void SetBudget(std::chrono::milliseconds budget);
    void ClearBudget();
    bool OutOfTime() const { return outOfTime_; }
    // The user's text for a statement that ended with rc.
    std::string Failure(int rc) const { return StatementFailure(db_.get(), rc, outOfTime_); }

    // Reports the result of a tile read's step: another process holding a
    // write lock costs one busy wait, not one per tile; later reads fail at
    // once until a read gets through again.
    void NoteReadResult(int rc);

    // While a batch is open, statements share one read transaction.
    void BeginReadBatch();
    void EndReadBatch();

    // Steps a tile read, which gives up with SQLITE_INTERRUPT once the
    // watched flag is set (or its budget is spent). Other statements (the read batch's among them) are
    // never cut short: an interrupted COMMIT would keep the snapshot open.
    int StepTileRead(sqlite3_stmt* statement);
    void WatchInterrupt(const std::atomic<bool>* flag);

private:
    bool Connect(const std::string& name, int flags);
    int ProbeSchema() const;
    static int OnProgress(void* self);

    SqliteConnection db_;
    std::optional<ReadTransaction> readBatch_;  // on db_, while a batch is open
    bool busyWaitOn_ = true;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool outOfTime_ = false;  // the last statement was stopped by the deadline
    bool walNotRead_ = false;
    const std::atomic<bool>* interruptFlag_ = nullptr;
    bool inTileRead_ = false;  // on the reading thread, as the progress handler
};

}  // namespace corvalis
