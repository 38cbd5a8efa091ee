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

// Reads a stored number; false when the value is not an integer (such a row
// is never found by a read by key).
bool StoredNumber(sqlite3_stmt* st, int column, std::int64_t& value) {
    value = sqlite3_column_int64(st, column);
    return sqlite3_column_type(st, column) == SQLITE_INTEGER;
}

}  // namespace

bool SqliteTileReader::ScanTiles(const TileScanVisitor& visit, std::string& errorText) {
    // A tile over the limit is measured but not loaded; length() and typeof()
    // read neither. A text value's length counts characters of up to 4 bytes.
    const std::string data = table_.data;
    const std::string limit = std::to_string(kMaxScannedTileBytes);
    const std::string sql = "select " + table_.zoom + ", " + table_.column + ", " + table_.row +
                            ", case when length(" + data + ") <= (case typeof(" + data +
                            ") when 'text' then " + limit + "/4 else " + limit + " end) then " +
                            data + " end, length(" + data + ") from " +
                            QuoteIdentifier(table_.name) + ";";
    auto st = PrepareStatement(store_->db(), sql.c_str());
    if (!st) {
        errorText = "cannot scan the tiles: " + store_->ErrorMessage();
        return false;
    }
    ScannedTile tile;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        std::int64_t zs = 0, xs = 0, ys = 0;
        const bool zInteger = StoredNumber(st.get(), 0, zs);
        const bool xInteger = StoredNumber(st.get(), 1, xs);
        const bool integers = StoredNumber(st.get(), 2, ys) && xInteger && zInteger;
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

std::optional<std::string> SqliteTileReader::IntegrityCheck(const StopRequested& stop) {
    auto st = PrepareStatement(store_->db(), "PRAGMA quick_check(20);");
    if (!st) return "cannot run quick_check: " + store_->ErrorMessage();
    const StopGuard guard(store_->db(), stop);
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
        verdict += "quick_check ended early: " + store_->ErrorMessage();
    }
    return CutText(verdict, 1000);
}

}  // namespace corvalis
