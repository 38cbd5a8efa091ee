// What the schema offers for finding tiles: the indexes of the tiles table,
// and the per-level extents read through index seeks instead of a full scan.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <sqlite3.h>

namespace corvalis {

// Column names of the tiles table for one layout.
struct TileColumns {
    const char* zoom;
    const char* column;
    const char* row;
};

struct TableIndexes {
    bool zoomColumnLeading = false;  // an index starts with (zoom, column)
    bool anyTileIndex = false;       // an index starts with zoom, column or row
};

// Reads the indexes of table "tiles" (none for a view).
TableIndexes InspectTileIndexes(sqlite3* db, const TileColumns& columns);

// One result row of "select zoom, min(column), max(column), min(row),
// max(row) from tiles group by zoom", each value read as a 32-bit integer.
using ExtentRowVisitor = std::function<void(std::int32_t zs, std::int32_t x0, std::int32_t x1,
                                            std::int32_t y0, std::int32_t y1)>;

// Which stored zoom values are worth the per-level work (the others are
// visited with zeros).
using StoredZoomFilter = std::function<bool(std::int32_t zs)>;

// Produces the same rows, in the same order, as the grouped query above,
// using one min() or max() seek per statement on an index that leads with
// (zoom, column). False with errorText when a statement cannot be prepared.
bool SeekZoomExtents(sqlite3* db, const TileColumns& columns, const StoredZoomFilter& wanted,
                     const ExtentRowVisitor& visit, std::string& errorText);

}  // namespace corvalis
