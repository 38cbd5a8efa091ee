// What the schema offers for finding tiles: the indexes of the tiles table,
// and the per-level extents read through index seeks instead of a full scan.
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include <sqlite3.h>

namespace corvalis {

// Column names of the tile table for one layout, and the table's name.
struct TileColumns {
    const char* zoom;
    const char* column;
    const char* row;
    const char* table = "tiles";
};

struct TableIndexes {
    bool zoomColumnLeading = false;  // an index starts with (zoom, column)
    bool anyTileIndex = false;       // an index starts with zoom, column or row
};

// Reads the indexes of the tile table (none for a view).
TableIndexes InspectTileIndexes(sqlite3* db, const TileColumns& columns);

// One result row of "select zoom, min(column), max(column), min(row),
// max(row) from tiles group by zoom", each value read as a 32-bit integer.
using ExtentRowVisitor = std::function<void(std::int32_t zs, std::int32_t x0, std::int32_t x1,
                                            std::int32_t y0, std::int32_t y1)>;

// Which stored zoom values are worth the per-level work. Integer values whose
// 32-bit reading lies outside [first, last] name no usable level: a run of
// them is passed over in one seek, without visits. Within it, accept decides,
// and the levels it turns down are visited with zeros.
struct StoredZoomFilter {
    StoredZoomFilter() = default;
    template <class Accept>
    StoredZoomFilter(Accept a) : accept(std::move(a)) {}  // NOLINT: a plain predicate converts
    StoredZoomFilter(std::int32_t lo, std::int32_t hi, std::function<bool(std::int32_t)> a)
        : first(lo), last(hi), accept(std::move(a)) {}

    std::int32_t first = INT32_MIN;
    std::int32_t last = INT32_MAX;
    std::function<bool(std::int32_t zs)> accept = [](std::int32_t) { return true; };
};

// Produces the same rows, in the same order, as the grouped query above
// (less the passed-over levels), through seeks on an index that leads with
// (zoom, column): one min() or max() per statement, and one "next column with
// its first row" per column, all in one read transaction. False with
// errorText when a statement cannot be prepared.
bool SeekZoomExtents(sqlite3* db, const TileColumns& columns, const StoredZoomFilter& wanted,
                     const ExtentRowVisitor& visit, std::string& errorText);

}  // namespace corvalis
