#include "sqlitestore.h"

#include <fstream>

namespace corvalis {

namespace {

constexpr int kBusyTimeoutMs = 2000;
// Virtual machine steps between two looks at the interrupt flag.
constexpr int kInterruptCheckSteps = 1000;

// The file's header announces WAL mode (file format read and write versions 2).
bool IsWalModeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char header[20] = {};
    return in.read(header, sizeof header) && header[18] == 2 && header[19] == 2;
}

}  // namespace

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
    if (!Connect(path, SQLITE_OPEN_READONLY)) {
        errorText = "cannot open database: " + ErrorMessage();
        return false;
    }
    // A store locked by another process past the busy wait is reported as
    // such, not as a file without tiles. A WAL-mode store needs its "-shm"
    // file; in a folder that cannot be written, where none can be made,
    // SQLite refuses every statement. Nothing can write such a store while it
    // is open, so it is read as immutable.
    const int schemaState = ProbeSchema() & 0xFF;
    if (schemaState == SQLITE_BUSY) {
        errorText = "cannot open database: " + ErrorMessage();
        return false;
    }
    if ((schemaState == SQLITE_READONLY || schemaState == SQLITE_CANTOPEN) && IsWalModeFile(path) &&
        !Connect(ImmutableFileUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI)) {
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
    sqlite3_exec(db_.get(), "PRAGMA temp_store=MEMORY;", nullptr, nullptr, nullptr);
    return true;
}

// The result of a first read of the schema: SQLITE_ROW when it can be read.
// SQLITE_READONLY or SQLITE_CANTOPEN come from a WAL store whose "-shm" file
// cannot be made; SQLITE_BUSY from another process's lock outlasting the wait.
int SqliteStore::ProbeSchema() const {
    auto st = PrepareStatement(db_.get(), "select count(*) from sqlite_master;");
    return st ? sqlite3_step(st.get()) : sqlite3_errcode(db_.get());
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
    if (!db_) return;
    auto check = [](void* self) -> int {
        const auto* store = static_cast<const SqliteStore*>(self);
        return store->inTileRead_ && store->interruptFlag_ != nullptr &&
               store->interruptFlag_->load(std::memory_order_relaxed);
    };
    sqlite3_progress_handler(db_.get(), flag != nullptr ? kInterruptCheckSteps : 0,
                             flag != nullptr ? +check : nullptr, this);
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
