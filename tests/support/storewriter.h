// Writes small tile stores for tests with the plain SQLite API.
#pragma once

#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "sqlitehandles.h"

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system temp folder, removed when the object dies.
class TempDir {
public:
    TempDir() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "corvalis-test-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

enum class Layout { MBTiles, Xyz, None };

// A connection to path with the given open flags, or null when it does not
// open; closed when it ends.
inline corvalis::SqliteConnection OpenConnection(const std::string& path,
                                                 int flags = SQLITE_OPEN_READWRITE |
                                                             SQLITE_OPEN_CREATE) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    corvalis::SqliteConnection db(raw);  // owned even when the open failed
    if (rc != SQLITE_OK) db.reset();
    return db;
}

// Creates (replacing) a store file; tiles are written with the numbers given,
// exactly as they are stored in the file. Every failure throws, and the
// connection and statements are released on the way out.
class StoreWriter {
public:
    StoreWriter(const std::string& path, Layout layout, bool withMetadataTable = true)
        : layout_(layout) {
        std::filesystem::remove(path);
        db_ = OpenConnection(path);
        if (!db_) throw std::runtime_error("cannot create " + path);
        Exec("PRAGMA journal_mode=DELETE;");
        if (layout == Layout::MBTiles) {
            Exec(
                "CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer, "
                "tile_data blob);");
            Exec("CREATE UNIQUE INDEX tile_index on tiles (zoom_level, tile_column, tile_row);");
        } else if (layout == Layout::Xyz) {
            Exec(
                "CREATE TABLE tiles (x int, y int, z int, s int, image blob, "
                "PRIMARY KEY (x, y, z, s));");
        }
        if (withMetadataTable) Exec("CREATE TABLE metadata (name text, value text);");
    }

    void Exec(const std::string& sql) {
        char* err = nullptr;
        if (sqlite3_exec(db(), sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::string msg = err ? err : "?";
            sqlite3_free(err);
            throw std::runtime_error("sql failed: " + sql + ": " + msg);
        }
    }

    void Meta(const std::string& name, const std::string& value) {
        const auto st = Prepare("INSERT INTO metadata (name, value) VALUES (?1, ?2);");
        sqlite3_bind_text(st.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st.get(), 2, value.c_str(), -1, SQLITE_TRANSIENT);
        Step(st.get());
    }

    // Stored numbers, written as they stand (no flipping or reversing).
    void Tile(std::int64_t z, std::int64_t x, std::int64_t y, const Bytes& data) {
        const auto st =
            Prepare(layout_ == Layout::MBTiles
                        ? "INSERT INTO tiles (zoom_level, tile_column, tile_row, tile_data) "
                          "VALUES (?1, ?2, ?3, ?4);"
                        : "INSERT INTO tiles (z, x, y, s, image) VALUES (?1, ?2, ?3, 0, ?4);");
        sqlite3_bind_int64(st.get(), 1, z);
        sqlite3_bind_int64(st.get(), 2, x);
        sqlite3_bind_int64(st.get(), 3, y);
        if (data.empty())
            sqlite3_bind_zeroblob(st.get(), 4, 0);
        else
            sqlite3_bind_blob(st.get(), 4, data.data(), static_cast<int>(data.size()),
                              SQLITE_TRANSIENT);
        Step(st.get());
    }

    // Every tile of levels z0..z1 over the whole world, in world (XYZ) rows;
    // MBTiles rows are flipped to TMS on the way in.
    template <typename MakeTile>
    void FullWorld(int z0, int z1, MakeTile make) {
        Exec("BEGIN;");
        for (int z = z0; z <= z1; ++z) {
            const std::int64_t n = std::int64_t{1} << z;
            for (std::int64_t y = 0; y < n; ++y)
                for (std::int64_t x = 0; x < n; ++x)
                    Tile(z, x, layout_ == Layout::MBTiles ? n - 1 - y : y, make(z, x, y));
        }
        Exec("COMMIT;");
    }

    sqlite3* db() { return db_.get(); }

    // A statement on this store; throws when it does not prepare.
    corvalis::SqliteStatement Prepare(const char* sql) {
        auto st = corvalis::PrepareStatement(db(), sql);
        if (!st)
            throw std::runtime_error(std::string("cannot prepare ") + sql + ": " +
                                     sqlite3_errmsg(db()));
        return st;
    }

    // Runs a statement that returns no rows; throws when it fails.
    void Step(sqlite3_stmt* st) {
        if (sqlite3_step(st) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db()));
    }

private:
    corvalis::SqliteConnection db_;
    Layout layout_;
};

// The first 24 bytes of a PNG with the given size (enough for a header probe).
inline Bytes PngHeader(std::uint32_t w, std::uint32_t h) {
    Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (std::uint32_t v : {w, h})
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
    b.insert(b.end(), {8, 2, 0, 0, 0, 0, 0, 0, 0});
    return b;
}

// Bytes that no decoder accepts, tagged so that tiles can be told apart.
inline Bytes Blob(int z, std::int64_t x, std::int64_t y) {
    std::string s = "tile " + std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y);
    return Bytes(s.begin(), s.end());
}

}  // namespace testsupport
