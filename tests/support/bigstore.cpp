#include "bigstore.h"

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>

#include "sqlitehandles.h"
#include "storewriter.h"
#include "geopackagewriter.h"

namespace testsupport {

void WriteBigMbtiles(const std::string& path, std::int64_t rows,
                     const std::vector<std::vector<std::uint8_t>>& pool, bool uniqueContents) {
    std::filesystem::remove(path);
    const corvalis::SqliteConnection db = OpenConnection(path);
    if (!db) throw std::runtime_error("cannot create " + path);
    auto exec = [&](const char* sql) {
        if (sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db.get()));
    };
    exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA page_size=4096;");
    exec("CREATE TABLE metadata (name text, value text);");
    exec("INSERT INTO metadata VALUES ('format', 'jpg');");
    exec(
        "CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer, tile_data "
        "blob);");
    exec("BEGIN;");
    {
        const corvalis::SqliteStatement st =
            corvalis::PrepareStatement(db.get(), "INSERT INTO tiles VALUES (?1, ?2, ?3, ?4);");
        if (!st) throw std::runtime_error(sqlite3_errmsg(db.get()));
        std::int64_t written = 0;
        std::vector<std::uint8_t> stamped;
        for (int z = 0; written < rows && z < 31; ++z) {
            const std::int64_t n = std::int64_t{1} << z;
            for (std::int64_t x = 0; x < n && written < rows; ++x)
                for (std::int64_t y = 0; y < n && written < rows; ++y, ++written) {
                    const auto& pooled = pool[static_cast<std::size_t>(written) % pool.size()];
                    // Unique contents: the row number stamped into bytes 3 to 10.
                    if (uniqueContents && pooled.size() >= 11) {
                        stamped = pooled;
                        for (int b = 0; b < 8; ++b)
                            stamped[3 + static_cast<std::size_t>(b)] =
                                static_cast<std::uint8_t>(written >> (8 * b));
                    }
                    const auto& blob = uniqueContents && pooled.size() >= 11 ? stamped : pooled;
                    const corvalis::StatementScope scope(st.get());
                    sqlite3_bind_int(st.get(), 1, z);
                    sqlite3_bind_int64(st.get(), 2, x);
                    sqlite3_bind_int64(st.get(), 3, y);
                    sqlite3_bind_blob(st.get(), 4, blob.data(), static_cast<int>(blob.size()),
                                      SQLITE_STATIC);
                    if (sqlite3_step(st.get()) != SQLITE_DONE)
                        throw std::runtime_error(sqlite3_errmsg(db.get()));
                }
        }
    }
    exec("COMMIT;");
    exec("CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);");
}

void WriteBigGeoPackage(const std::string& path, std::int64_t rows,
                        const std::vector<std::vector<std::uint8_t>>& pool) {
    GeoPackageWriter w(path);
    w.Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
    const std::string table = "tiles_gpkg";
    w.AddPyramid({table, "Big"});
    w.Exec("BEGIN;");
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(w.db(),
                       "INSERT INTO tiles_gpkg (zoom_level, tile_column, tile_row, tile_data) "
                       "VALUES (?1, ?2, ?3, ?4);",
                       -1, &st, nullptr);
    std::int64_t written = 0;
    for (int z = 0; written < rows && z < 31; ++z) {
        w.AddWorldMatrix(table, z, z);
        const std::int64_t n = std::int64_t{1} << z;
        for (std::int64_t x = 0; x < n && written < rows; ++x)
            for (std::int64_t y = 0; y < n && written < rows; ++y, ++written) {
                const auto& blob = pool[static_cast<std::size_t>(written) % pool.size()];
                sqlite3_bind_int(st, 1, z);
                sqlite3_bind_int64(st, 2, x);
                sqlite3_bind_int64(st, 3, n - 1 - y);  // the MBTiles store's TMS row y
                sqlite3_bind_blob(st, 4, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
                sqlite3_step(st);
                sqlite3_reset(st);
            }
    }
    sqlite3_finalize(st);
    w.Exec("COMMIT;");
}

}  // namespace testsupport
