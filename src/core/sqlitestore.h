// The one way every SQLite store is read: the connection policy (read-only,
// page cache, no memory map, busy wait, the immutable retry for WAL stores in
// folders that cannot be written) and the read batches that share one read
// transaction.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "sqlitehandles.h"

namespace corvalis {

// A "file:" URI naming path (percent-encoded) with SQLite's immutable flag:
// the file is read without locks or journal, as on read-only media.
std::string ImmutableFileUri(const std::string& path);

class SqliteStore {
public:
    SqliteStore() = default;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    // Opens path read-only; false with errorText "cannot open database: ..."
    // when the file cannot be opened or its schema cannot be read for a lock.
    bool Open(const std::string& path, std::string& errorText);
    void Close();

    sqlite3* db() const { return db_.get(); }
    std::string ErrorMessage() const;

    // Reports the result of a tile read's step: another process holding a
    // write lock costs one busy wait, not one per tile; later reads fail at
    // once until a read gets through again.
    void NoteReadResult(int rc);

    // While a batch is open, statements share one read transaction.
    void BeginReadBatch();
    void EndReadBatch();

    // Steps a tile read, which gives up with SQLITE_INTERRUPT once the
    // watched flag is set. Other statements (the read batch's among them) are
    // never cut short: an interrupted COMMIT would keep the snapshot open.
    int StepTileRead(sqlite3_stmt* statement);
    void WatchInterrupt(const std::atomic<bool>* flag);

private:
    bool Connect(const std::string& name, int flags);
    int ProbeSchema() const;

    SqliteConnection db_;
    std::optional<ReadTransaction> readBatch_;  // on db_, while a batch is open
    bool busyWaitOn_ = true;
    const std::atomic<bool>* interruptFlag_ = nullptr;
    bool inTileRead_ = false;  // on the reading thread, as the progress handler
};

}  // namespace corvalis
