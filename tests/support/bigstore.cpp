#include "bigstore.h"

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>

namespace testsupport {

void WriteBigMbtiles(const std::string& path, std::int64_t rows,
                     const std::vector<std::vector<std::uint8_t>>& pool, bool uniqueContents) {
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        throw std::runtime_error("cannot create " + path);
    auto exec = [&](const char* sql) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db));
    };
    exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA page_size=4096;");
    exec("CREATE TABLE metadata (name text, value text);");
    exec("INSERT INTO metadata VALUES ('format', 'jpg');");
    exec(
        "CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer, tile_data "
        "blob);");
    exec("BEGIN;");
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?1, ?2, ?3, ?4);", -1, &st, nullptr);
    std::int64_t written = 0;
    std::vector<std::uint8_t> stamped;
    for (int z = 0; written < rows && z < 31; ++z) {
        const std::int64_t n = std::int64_t{1} << z;
        for (std::int64_t x = 0; x < n && written < rows; ++x)
            for (std::int64_t y = 0; y < n && written < rows; ++y, ++written) {
                const auto& pooled = pool[static_cast<std::size_t>(written) % pool.size()];
                if (uniqueContents && pooled.size() >= 11) {
                    stamped = pooled;
                    for (int b = 0; b < 8; ++b)
                        stamped[3 + static_cast<std::size_t>(b)] =
                            static_cast<std::uint8_t>(written >> (8 * b));
                }
                const auto& blob = uniqueContents && pooled.size() >= 11 ? stamped : pooled;
                sqlite3_bind_int(st, 1, z);
                sqlite3_bind_int64(st, 2, x);
                sqlite3_bind_int64(st, 3, y);
                sqlite3_bind_blob(st, 4, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
                sqlite3_step(st);
                sqlite3_reset(st);
            }
    }
    sqlite3_finalize(st);
    exec("COMMIT;");
    exec("CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);");
    sqlite3_close(db);
}

}  // namespace testsupport
