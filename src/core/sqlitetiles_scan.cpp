// The whole-table work of the SQLite tile reader: the full scan, the row
// count and the file's structure check. Each steps a statement of its own
// from start to end, so each takes as long as the table is large.
#include "sqlitetiles.h"
#include "textutil.h"

namespace corvalis {

namespace {

// Installs a progress handler that ends the connection's running statement
// (with SQLITE_INTERRUPT) once stop says so; removed when the guard ends.
class StopGuard {
public:
    StopGuard(sqlite3* db, const StopRequested& stop) : db_(db), stop_(stop) {
        if (stop_) sqlite3_progress_handler(db_, 10000, &StopGuard::Ask, this);
    }
    ~StopGuard() {
        if (stop_) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    }
    StopGuard(const StopGuard&) = delete;
    StopGuard& operator=(const StopGuard&) = delete;

    bool Stopped() const { return stopped_; }

private:
    static int Ask(void* self) {
        auto* guard = static_cast<StopGuard*>(self);
        guard->stopped_ = guard->stop_();
        return guard->stopped_ ? 1 : 0;
    }

    sqlite3* db_;
    const StopRequested& stop_;
    bool stopped_ = false;
};

}  // namespace

bool SqliteTileReader::ScanTiles(const TileScanVisitor& visit, std::string& errorText) {
    // A tile over the limit is measured but not loaded: length() reads no
    // content. (A text value's length counts characters, of up to 4 bytes.)
    const std::string data = table_.data;
    const std::string sql = "select " + table_.zoom + ", " + table_.column + ", " + table_.row +
                            ", case when length(" + data +
                            ") <= " + std::to_string(kMaxScannedTileBytes) + " then " + data +
                            " end, length(" + data + ") from " + QuoteIdentifier(table_.name) + ";";
    auto st = PrepareStatement(store_->db(), sql.c_str());
    if (!st) {
        errorText = "cannot scan the tiles: " + store_->ErrorMessage();
        return false;
    }
    ScannedTile tile;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        // Rows whose numbers are not integers are never found by a read by key.
        const std::int64_t zs = sqlite3_column_int64(st.get(), 0);
        const std::int64_t xs = sqlite3_column_int64(st.get(), 1);
        const std::int64_t ys = sqlite3_column_int64(st.get(), 2);
        const bool integers = sqlite3_column_type(st.get(), 0) == SQLITE_INTEGER &&
                              sqlite3_column_type(st.get(), 1) == SQLITE_INTEGER &&
                              sqlite3_column_type(st.get(), 2) == SQLITE_INTEGER;
        tile.placement = integers ? numbering_.ToWorld(zs, xs, ys, tile.z, tile.x, tile.y)
                                  : TilePlacement::Unplaced;
        if (!integers) {
            tile.z = zs;
            tile.x = xs;
            tile.y = ys;
        }
        const void* blob = sqlite3_column_blob(st.get(), 3);
        const int count = sqlite3_column_bytes(st.get(), 3);
        tile.data = count > 0 ? static_cast<const std::uint8_t*>(blob) : nullptr;
        tile.size = tile.data != nullptr ? static_cast<std::size_t>(count) : 0;
        tile.storedSize =
            tile.data != nullptr ? std::int64_t{count} : sqlite3_column_int64(st.get(), 4);
        if (!visit(tile)) return true;
    }
    if (rc == SQLITE_DONE) return true;
    errorText = "cannot read the tiles: " + store_->ErrorMessage();
    return false;
}

std::optional<std::int64_t> SqliteTileReader::CountTiles(const StopRequested& stop) {
    const std::string sql = "select count(*) from " + QuoteIdentifier(table_.name) + ";";
    auto st = PrepareStatement(store_->db(), sql.c_str());
    if (!st) return std::nullopt;
    const StopGuard guard(store_->db(), stop);
    if (sqlite3_step(st.get()) != SQLITE_ROW) return std::nullopt;
    return sqlite3_column_int64(st.get(), 0);
}

// On a connection of its own, so that it may run on another thread while
// this reader scans or reads.
std::optional<std::string> SqliteTileReader::IntegrityCheck(const StopRequested& stop) {
    const char* file = sqlite3_db_filename(store_->db(), "main");
    SqliteStore own;
    std::string error;
    if (file == nullptr || !own.Open(file, error)) return "cannot run quick_check: " + error;
    auto st = PrepareStatement(own.db(), "PRAGMA quick_check(20);");
    if (!st) return "cannot run quick_check: " + own.ErrorMessage();
    const StopGuard guard(own.db(), stop);
    std::string verdict;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
        if (!verdict.empty()) verdict += "; ";
        verdict += text != nullptr ? text : "?";
    }
    if (guard.Stopped()) return std::nullopt;
    if (rc != SQLITE_DONE) {
        if (!verdict.empty()) verdict += "; ";
        verdict += "quick_check ended early: " + own.ErrorMessage();
    }
    return CutText(verdict, 1000);
}

}  // namespace corvalis
