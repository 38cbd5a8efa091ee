#include "sqlitetiles.h"

#include <new>

#include "storemetadata.h"
#include "storeopening.h"

namespace corvalis {

SqliteTileReader::SqliteTileReader(std::unique_ptr<SqliteStore> store, TileTable table,
                                   TileNumbering numbering)
    : store_(std::move(store)), table_(std::move(table)), numbering_(numbering) {}

namespace {

bool InWorld(const ZoomExtent& e, std::int32_t z) {
    const std::int64_t last = (std::int64_t{1} << z) - 1;
    return e.minX >= 0 && e.minX <= e.maxX && e.maxX <= last && e.minY >= 0 && e.minY <= e.maxY &&
           e.maxY <= last;
}

}  // namespace

bool SqliteTileReader::ReadExtents(StoreFacts& facts, std::string& errorText) {
    sqlite3* db = store_->db();
    const TileColumns columns = table_.Columns();
    const TableIndexes indexes = InspectTileIndexes(db, columns);
    facts.hasTileIndex = indexes.anyTileIndex;
    auto visit = [&](std::int32_t zs, std::int32_t x0, std::int32_t x1, std::int32_t y0,
                     std::int32_t y1) {
        const std::optional<std::int32_t> z = numbering_.WorldZoom(zs);
        if (z)
            facts.extents[static_cast<std::size_t>(*z)] =
                numbering_.ToWorldExtent(*z, x0, x1, y0, y1);
    };
    bool done = false;
    // An index that leads with (zoom, column) answers through seeks what the
    // grouped query would find by reading every row of the table.
    if (indexes.zoomColumnLeading) {
        std::string ignored;
        done = SeekZoomExtents(db, columns, numbering_.Filter(), visit, ignored);
        if (!done) facts.extents.fill(ZoomExtent{});
        if (!done && store_->OutOfTime()) return Failed(SQLITE_INTERRUPT, errorText);
    }
    if (!done && !GroupedExtents(visit, errorText)) return false;
    return KeepTilesInWorld(facts, errorText);
}

bool SqliteTileReader::Failed(int rc, std::string& errorText) const {
    const bool budget = store_->OutOfTime() || (rc & 0xFF) == SQLITE_NOMEM;
    errorText = budget ? store_->Failure(rc) : "cannot query tile extents: " + store_->Failure(rc);
    return false;
}

bool SqliteTileReader::GroupedExtents(const ExtentRowVisitor& visit, std::string& errorText) {
    const std::string sql = "select " + table_.zoom + ", min(" + table_.column + "), max(" +
                            table_.column + "), min(" + table_.row + "), max(" + table_.row +
                            ") from " + QuoteIdentifier(table_.name) + " group by " + table_.zoom +
                            ";";
    auto st = PrepareStatement(store_->db(), sql.c_str());
    if (!st) return Failed(sqlite3_errcode(store_->db()), errorText);
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW)
        visit(sqlite3_column_int(st.get(), 0), sqlite3_column_int(st.get(), 1),
              sqlite3_column_int(st.get(), 2), sqlite3_column_int(st.get(), 3),
              sqlite3_column_int(st.get(), 4));
    // A damaged page or a failing disk is an error, not a table without tiles.
    return rc == SQLITE_DONE || Failed(rc, errorText);
}

// Tiles outside the world's 2^z columns and rows belong to no extent: a level
// whose extent reaches past the world is read again without them.
bool SqliteTileReader::KeepTilesInWorld(StoreFacts& facts, std::string& errorText) {
    for (std::int32_t z = 0; z < kZoomLevels; ++z) {
        ZoomExtent& extent = facts.extents[static_cast<std::size_t>(z)];
        if (!extent.present || InWorld(extent, z)) continue;
        std::int32_t zs = 0, ignoredX = 0, ignoredY = 0;
        numbering_.ToStored(z, 0, 0, zs, ignoredX, ignoredY);
        std::int64_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        numbering_.StoredWorldRange(z, x0, x1, y0, y1);
        const std::string& c = table_.column;
        const std::string& r = table_.row;
        const std::string sql = "select min(" + c + "), max(" + c + "), min(" + r + "), max(" + r +
                                ") from " + QuoteIdentifier(table_.name) + " where " + table_.zoom +
                                " = ?1 and " + c + " between ?2 and ?3 and " + r +
                                " between ?4 and ?5;";
        auto st = PrepareStatement(store_->db(), sql.c_str());
        if (!st) return Failed(sqlite3_errcode(store_->db()), errorText);
        sqlite3_bind_int(st.get(), 1, zs);
        sqlite3_bind_int64(st.get(), 2, x0);
        sqlite3_bind_int64(st.get(), 3, x1);
        sqlite3_bind_int64(st.get(), 4, y0);
        sqlite3_bind_int64(st.get(), 5, y1);
        const int rc = sqlite3_step(st.get());
        if (rc != SQLITE_ROW) return Failed(rc, errorText);
        extent = ZoomExtent{};
        if (sqlite3_column_type(st.get(), 0) == SQLITE_NULL) continue;
        const ZoomExtent inWorld = numbering_.ToWorldExtent(
            z, sqlite3_column_int(st.get(), 0), sqlite3_column_int(st.get(), 1),
            sqlite3_column_int(st.get(), 2), sqlite3_column_int(st.get(), 3));
        if (InWorld(inWorld, z)) extent = inWorld;
    }
    return true;
}

bool SqliteTileReader::PrepareReads(std::string& errorText) {
    const std::string sql = "select " + table_.data + " from " + QuoteIdentifier(table_.name) +
                            " where " + table_.zoom + "=?1 and " + table_.column + "=?2 and " +
                            table_.row + "=?3;";
    tileQuery_ = PrepareStatement(store_->db(), sql.c_str());
    if (!tileQuery_) {
        errorText = "cannot prepare tile query: " + store_->ErrorMessage();
        return false;
    }
    return true;
}

bool SqliteTileReader::ReadTile(std::int32_t z, std::int32_t x, std::int32_t y,
                                std::vector<std::uint8_t>& bytes) {
    std::int32_t zs = 0, xs = 0, ys = 0;
    if (!tileQuery_ || !numbering_.ToStored(z, x, y, zs, xs, ys)) return false;
    sqlite3_stmt* st = tileQuery_.get();
    const StatementScope scope(st);
    sqlite3_bind_int(st, 1, zs);
    sqlite3_bind_int(st, 2, xs);
    sqlite3_bind_int(st, 3, ys);
    store_->SetBudget(kTileReadBudget);
    const int rc = store_->StepTileRead(st);
    store_->NoteReadResult(rc);
    if (rc != SQLITE_ROW) return false;
    // No picture is that large: its bytes are not copied.
    const int n = sqlite3_column_bytes(st, 0);
    if (n <= 0 || static_cast<std::size_t>(n) > kMaxTileBytes) return false;
    const void* p = sqlite3_column_blob(st, 0);
    if (p == nullptr) return false;
    const auto* first = static_cast<const std::uint8_t*>(p);
    try {
        bytes.assign(first, first + n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

namespace {

// Closes an incremental blob handle.
struct BlobClose {
    void operator()(sqlite3_blob* blob) const noexcept { sqlite3_blob_close(blob); }
};

}  // namespace

bool SqliteTileReader::ReadTileHead(std::int32_t z, std::int32_t x, std::int32_t y,
                                    std::size_t limit, std::vector<std::uint8_t>& bytes,
                                    std::size_t& totalBytes) {
    if (!rowIdsTried_) {
        rowIdsTried_ = true;  // a view or a table without row ids prepares nothing
        const std::string sql = "select rowid from " + QuoteIdentifier(table_.name) + " where " +
                                table_.zoom + "=?1 and " + table_.column + "=?2 and " + table_.row +
                                "=?3;";
        rowIdQuery_ = PrepareStatement(store_->db(), sql.c_str());
    }
    std::int32_t zs = 0, xs = 0, ys = 0;
    if (!rowIdQuery_ || !numbering_.ToStored(z, x, y, zs, xs, ys))
        return StoreReader::ReadTileHead(z, x, y, limit, bytes, totalBytes);
    sqlite3_stmt* st = rowIdQuery_.get();
    const StatementScope scope(st);
    sqlite3_bind_int(st, 1, zs);
    sqlite3_bind_int(st, 2, xs);
    sqlite3_bind_int(st, 3, ys);
    store_->SetBudget(kTileReadBudget);
    if (sqlite3_step(st) != SQLITE_ROW) return false;
    sqlite3_blob* raw = nullptr;
    if (sqlite3_blob_open(store_->db(), "main", table_.name.c_str(), table_.data.c_str(),
                          sqlite3_column_int64(st, 0), 0, &raw) != SQLITE_OK) {
        sqlite3_blob_close(raw);  // not a blob (a text, a NULL): read it as a tile
        return StoreReader::ReadTileHead(z, x, y, limit, bytes, totalBytes);
    }
    const std::unique_ptr<sqlite3_blob, BlobClose> blob(raw);
    const int size = sqlite3_blob_bytes(blob.get());
    if (size <= 0) return false;
    totalBytes = static_cast<std::size_t>(size);
    bytes.resize(std::min(limit, totalBytes));
    return sqlite3_blob_read(blob.get(), bytes.data(), static_cast<int>(bytes.size()), 0) ==
           SQLITE_OK;
}

std::unique_ptr<StoreReader> OpenSqliteTiles(StoreOpening& opening, StoreFacts& facts,
                                             const TileTable& table, TileNumbering numbering,
                                             std::string& errorText) {
    facts.xyzRows = numbering.xyzRows;
    if (!ReadMetadataTable(*opening.Sqlite(), opening.Path(), facts, errorText)) return nullptr;
    numbering.xyzRows = facts.xyzRows;
    if (opening.Sqlite()->WalNotRead())
        facts.notice = "recent changes in the -wal file cannot be read from a read-only folder";
    auto reader = std::make_unique<SqliteTileReader>(opening.TakeSqlite(), table, numbering);
    if (!reader->ReadExtents(facts, errorText)) return nullptr;
    return reader;
}

}  // namespace corvalis
