// The one-row `info` table of ".sqlitedb" stores, in which their writers
// declare the zoom numbering, the row direction, the tile size and the
// projection of the tiles. Any subset of its columns may be present.
#pragma once

#include <sqlite3.h>

#include <cstdint>

namespace corvalis {

class StoreOpening;
struct StoreFacts;
struct TileNumbering;

struct SqlitedbInfo {
    // The zoom is stored as 17 less the level: no `info` table, no
    // tilenumbering column, or its value is "BigPlanet" (any letter case).
    bool reversedZ = true;
    bool invertedY = false;     // inverted_y = 1: rows counted from the south
    std::int32_t tileSize = 0;  // tilesize 256 or 512, else 0
    bool ellipsoidal = false;   // ellipsoid = 1: ellipsoidal Mercator
};

// Reads the first row of the `info` table; the defaults when there is no
// table or no row. Columns are found in any letter case; a NULL value counts
// as one that declares nothing but "not BigPlanet" for tilenumbering.
SqlitedbInfo ReadSqlitedbInfo(sqlite3* db);

// The `info` table of a file named ".sqlitedb" with an open connection; the
// defaults for any other file.
SqlitedbInfo SqlitedbInfoOf(StoreOpening& opening);

// What the table declares besides the zoom numbering: the row direction into
// numbering, the tile size hint and the projection into facts.
void ApplySqlitedbInfo(const SqlitedbInfo& info, StoreFacts& facts, TileNumbering& numbering);

}  // namespace corvalis
