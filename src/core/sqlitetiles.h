// The reader every SQLite tile layout shares: one tile table whose rows hold
// a stored zoom, column and row and the tile's picture, mapped to world
// numbering by the layout's TileNumbering.
#pragma once

#include <memory>
#include <string>

#include "sqlitestore.h"
#include "storereader.h"
#include "tileindex.h"
#include "tilenumbering.h"

namespace corvalis {

// The tile table of a layout: its name and the columns of each tile row.
struct TileTable {
    std::string name = "tiles";
    std::string zoom;
    std::string column;
    std::string row;
    std::string data;

    TileColumns Columns() const {
        return {zoom.c_str(), column.c_str(), row.c_str(), name.c_str()};
    }
};

class SqliteTileReader final : public StoreReader {
public:
    SqliteTileReader(std::unique_ptr<SqliteStore> store, TileTable table, TileNumbering numbering);

    // Reads every level's extent into facts (and whether an index serves
    // tile reads): through index seeks when an index leads with (zoom,
    // column), else with one grouped query.
    bool ReadExtents(StoreFacts& facts, std::string& errorText);

    bool PrepareReads(std::string& errorText) override;
    bool ReadTile(std::int32_t z, std::int32_t x, std::int32_t y,
                  std::vector<std::uint8_t>& bytes) override;
    // Through SQLite's incremental blob reads where the table has row ids.
    bool ReadTileHead(std::int32_t z, std::int32_t x, std::int32_t y, std::size_t limit,
                      std::vector<std::uint8_t>& bytes, std::size_t& totalBytes) override;
    void BeginReadBatch() override { store_->BeginReadBatch(); }
    void EndReadBatch() override { store_->EndReadBatch(); }
    void WatchInterrupt(const std::atomic<bool>* flag) override { store_->WatchInterrupt(flag); }
    // One statement over the whole table in rowid (storage) order, stepped
    // here; it takes as long as the table is large.
    bool ScanTiles(const TileScanVisitor& visit, std::string& errorText) override;
    std::optional<std::int64_t> CountTiles(const StopRequested& stop) override;
    // PRAGMA quick_check.
    std::optional<std::string> IntegrityCheck(const StopRequested& stop) override;

private:
    bool GroupedExtents(const ExtentRowVisitor& visit, std::string& errorText);
    bool KeepTilesInWorld(StoreFacts& facts, std::string& errorText);
    bool Failed(int rc, std::string& errorText) const;

    std::unique_ptr<SqliteStore> store_;
    TileTable table_;
    TileNumbering numbering_;
    SqliteStatement tileQuery_;
    SqliteStatement rowIdQuery_;  // the row id of a tile, when the table has them
    bool rowIdsTried_ = false;
};

// Opens the file as a layout of SQLite tiles. facts.kind, its name and flags
// are set by the layout beforehand; the metadata table is read (its "scheme"
// may switch the rows from numbering.xyzRows), then the extents.
std::unique_ptr<StoreReader> OpenSqliteTiles(StoreOpening& opening, StoreFacts& facts,
                                             const TileTable& table, TileNumbering numbering,
                                             std::string& errorText);

}  // namespace corvalis
