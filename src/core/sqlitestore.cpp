#include "sqlitestore.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <mutex>

namespace corvalis {

namespace {

constexpr int kBusyTimeoutMs = 2000;

// The file's header announces WAL mode (file format read and write versions 2).
bool IsWalModeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char header[20] = {};
    return in.read(header, sizeof header) && header[18] == 2 && header[19] == 2;
}

// Statements are checked against their deadline and a tile read against its
// cancel flag every this many virtual machine steps (well under a millisecond).
constexpr int kProgressSteps = 1000;

void LimitSqliteHeap() {
    static std::once_flag once;
    std::call_once(once, [] { sqlite3_hard_heap_limit64(kSqliteHeapLimit); });
}

// A path that names a file, never a URI: SQLite is built to read "file:"
// names as URIs with parameters, which a store's name must not bring.
std::string PlainPathName(const std::string& path) {
    return path.rfind("file:", 0) == 0 ? "./" + path : path;
}

// The store's "-wal" file holds changes not yet written back into the store.
bool HasPendingWal(const std::string& path) {
    std::ifstream wal(path + "-wal", std::ios::binary | std::ios::ate);
    return wal && wal.tellg() > 0;
}

}  // namespace

std::chrono::milliseconds OpenBudget(std::int64_t fileBytes) {
    return kOpenBudgetBase + std::chrono::milliseconds(std::max<std::int64_t>(0, fileBytes) * 1000 /
                                                       kOpenBudgetBytesPerSecond);
}

std::string StatementFailure(sqlite3* db, int rc, bool outOfTime) {
    if (outOfTime && (rc & 0xFF) == SQLITE_INTERRUPT) return "the store's query took too long";
    if ((rc & 0xFF) == SQLITE_NOMEM) return "the store's query needs too much memory";
    return sqlite3_errmsg(db);
}

std::string ImmutableFileUri(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    // A path that starts with "//" would otherwise read as an authority.
    if (path.size() >= 2 && path[0] == '/' && path[1] == '/') uri += "//";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            uri += ch;
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri + "?immutable=1";
}

bool SqliteStore::Open(const std::string& path, std::string& errorText) {
    LimitSqliteHeap();
    if (!Connect(PlainPathName(path), SQLITE_OPEN_READONLY)) {
        errorText = "cannot open database: " + ErrorMessage();
        return false;
    }
    // A store locked by another process past the busy wait is reported as
    // such, not as a file without tiles. A WAL-mode store needs its "-shm"
    // file; in a folder that cannot be written, where none can be made,
    // SQLite refuses every statement. Nothing can write such a store while it
    // is open, so it is read as immutable.
    struct stat st {};
    SetBudget(OpenBudget(::stat(path.c_str(), &st) == 0 ? st.st_size : 0));
    const int schemaState = ProbeSchema() & 0xFF;
    const bool readOnlyFolder = schemaState == SQLITE_READONLY || schemaState == SQLITE_CANTOPEN;
    if (readOnlyFolder && IsWalModeFile(path)) {
        if (!Connect(ImmutableFileUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI)) {
            errorText = "cannot open database: " + ErrorMessage();
            return false;
        }
        walNotRead_ = HasPendingWal(path);
        return true;
    }
    // A lock held past the busy wait, or a hot journal that cannot be rolled
    // back in a read-only folder, is reported as such, not as a file without
    // tiles. A file that is no database goes on to the other layouts.
    if (schemaState == SQLITE_BUSY || readOnlyFolder || schemaState == SQLITE_IOERR) {
        errorText = "cannot open database: " + ErrorMessage();
        return false;
    }
    return true;
}

void SqliteStore::Close() {
    readBatch_.reset();
    db_.reset();
}

std::string SqliteStore::ErrorMessage() const {
    return sqlite3_errmsg(db_.get());
}

bool SqliteStore::Connect(const std::string& name, int flags) {
    readBatch_.reset();
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(name.c_str(), &raw, flags, nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK) return false;
    busyWaitOn_ = true;
    sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
    // A page cache of 32000 KiB for reads at random by tile address.
    sqlite3_exec(db_.get(), "PRAGMA cache_size=-32000;", nullptr, nullptr, nullptr);
    // No memory-mapped reads: a store that another program truncates (or a
    // card that is pulled) would end the viewer with SIGBUS on the next read
    // of a mapped page, where read() merely fails and the tile is missing.
    sqlite3_exec(db_.get(), "PRAGMA mmap_size=0;", nullptr, nullptr, nullptr);
    // Temporary structures stay in memory while they fit the temporary
    // cache and go to a file beyond it: a grouped query over a huge view
    // must not take all the memory there is.
    sqlite3_exec(db_.get(), "PRAGMA temp_store=FILE;", nullptr, nullptr, nullptr);
    sqlite3_progress_handler(db_.get(), kProgressSteps, &SqliteStore::OnProgress, this);
    return true;
}

// The result of a first read of the schema: SQLITE_ROW when it can be read.
// SQLITE_READONLY or SQLITE_CANTOPEN come from a WAL store whose "-shm" file
// cannot be made; SQLITE_BUSY from another process's lock outlasting the wait.
int SqliteStore::ProbeSchema() const {
    auto st = PrepareStatement(db_.get(), "select count(*) from sqlite_master;");
    return st ? sqlite3_step(st.get()) : sqlite3_errcode(db_.get());
}

int SqliteStore::OnProgress(void* self) {
    auto* store = static_cast<SqliteStore*>(self);
    if (store->inTileRead_ && store->interruptFlag_ != nullptr &&
        store->interruptFlag_->load(std::memory_order_relaxed))
        return 1;  // cancelled: not out of time
    if (!store->deadline_ || std::chrono::steady_clock::now() < *store->deadline_) return 0;
    store->outOfTime_ = true;
    return 1;  // interrupts the statement
}

void SqliteStore::SetBudget(std::chrono::milliseconds budget) {
    deadline_ = std::chrono::steady_clock::now() + budget;
    outOfTime_ = false;
}

void SqliteStore::ClearBudget() {
    deadline_.reset();
    outOfTime_ = false;
}

void SqliteStore::NoteReadResult(int rc) {
    if (rc == SQLITE_BUSY && busyWaitOn_) {
        busyWaitOn_ = false;
        sqlite3_busy_timeout(db_.get(), 0);
    } else if ((rc == SQLITE_ROW || rc == SQLITE_DONE) && !busyWaitOn_) {
        busyWaitOn_ = true;
        sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
    }
}

// sqlite3_interrupt is not used: it is lost when it falls just before the
// statement starts (SQLite clears it then), so a read could outlast its cancel.
// The progress handler runs on the reading thread and sees a flag that stays set.
void SqliteStore::WatchInterrupt(const std::atomic<bool>* flag) {
    interruptFlag_ = flag;
}

int SqliteStore::StepTileRead(sqlite3_stmt* statement) {
    inTileRead_ = true;
    const int rc = sqlite3_step(statement);
    inTileRead_ = false;
    return rc;
}

void SqliteStore::BeginReadBatch() {
    if (db_) readBatch_.emplace(db_.get());
}

void SqliteStore::EndReadBatch() {
    readBatch_.reset();
}

}  // namespace corvalis
