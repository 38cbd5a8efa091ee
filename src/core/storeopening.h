// What the layouts share while a file is being recognised: its path, the
// SQLite connection opened on first use, and the tiles table as the SQLite
// layouts look for it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sqlitestore.h"

namespace corvalis {

// The `tiles` table (or view) and the image columns it has.
struct TilesSchema {
    bool table = false;
    bool tileData = false;  // a column tile_data (any letter case)
    bool image = false;     // a column image
};

class StoreOpening {
public:
    explicit StoreOpening(std::string path, std::optional<std::string> table = std::nullopt)
        : path_(std::move(path)), table_(std::move(table)) {}

    const std::string& Path() const { return path_; }
    // The one table the path named after its "#" (see SplitTablePath), if any.
    const std::optional<std::string>& NamedTable() const { return table_; }
    // The file name ends with ".sqlitedb" (any letter case).
    bool SqlitedbName() const;

    // The file's SQLite connection, opened on first use with the shared
    // policy; null when it cannot be opened (OpenFailed and OpenError tell).
    SqliteStore* Sqlite();
    bool OpenFailed() const { return !openError_.empty(); }
    const std::string& OpenError() const { return openError_; }

    // Hands the connection to the reader that keeps it.
    std::unique_ptr<SqliteStore> TakeSqlite() { return std::move(sqlite_); }

    const TilesSchema& Tiles();
    // The file's first bytes (up to 16; fewer for a shorter file).
    const std::vector<std::uint8_t>& Head();
    // Why no layout took the file, when none did.
    std::string UnrecognisedReason();

private:
    std::string path_;
    std::optional<std::string> table_;
    std::unique_ptr<SqliteStore> sqlite_;
    bool sqliteTried_ = false;
    std::string openError_;
    std::optional<TilesSchema> tiles_;
    std::optional<std::vector<std::uint8_t>> head_;
};

}  // namespace corvalis
