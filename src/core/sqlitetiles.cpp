#include "sqlitetiles.h"

#include "storemetadata.h"
#include "storeopening.h"

namespace corvalis {

SqliteTileReader::SqliteTileReader(std::unique_ptr<SqliteStore> store, TileTable table,
                                   TileNumbering numbering)
    : store_(std::move(store)), table_(std::move(table)), numbering_(numbering) {}

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
    // An index that leads with (zoom, column) answers through seeks what the
    // grouped query would find by reading every row of the table.
    if (indexes.zoomColumnLeading) {
        std::string ignored;
        if (SeekZoomExtents(db, columns, numbering_.Filter(), visit, ignored)) return true;
        facts.extents.fill(ZoomExtent{});
    }
    const std::string sql = "select " + table_.zoom + ", min(" + table_.column + "), max(" +
                            table_.column + "), min(" + table_.row + "), max(" + table_.row +
                            ") from " + QuoteIdentifier(table_.name) + " group by " + table_.zoom +
                            ";";
    auto st = PrepareStatement(db, sql.c_str());
    if (!st) {
        errorText = "cannot query tile extents: " + store_->ErrorMessage();
        return false;
    }
    while (sqlite3_step(st.get()) == SQLITE_ROW)
        visit(sqlite3_column_int(st.get(), 0), sqlite3_column_int(st.get(), 1),
              sqlite3_column_int(st.get(), 2), sqlite3_column_int(st.get(), 3),
              sqlite3_column_int(st.get(), 4));
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
    const int rc = store_->StepTileRead(st);
    store_->NoteReadResult(rc);
    if (rc != SQLITE_ROW) return false;
    const void* p = sqlite3_column_blob(st, 0);
    const int n = sqlite3_column_bytes(st, 0);
    if (p == nullptr || n <= 0) return false;
    const auto* first = static_cast<const std::uint8_t*>(p);
    bytes.assign(first, first + n);
    return true;
}

std::unique_ptr<StoreReader> OpenSqliteTiles(StoreOpening& opening, StoreFacts& facts,
                                             const TileTable& table, TileNumbering numbering,
                                             std::string& errorText) {
    facts.xyzRows = numbering.xyzRows;
    ReadMetadataTable(opening.Sqlite()->db(), opening.Path(), facts);
    numbering.xyzRows = facts.xyzRows;
    auto reader = std::make_unique<SqliteTileReader>(opening.TakeSqlite(), table, numbering);
    if (!reader->ReadExtents(facts, errorText)) return nullptr;
    return reader;
}

}  // namespace corvalis
