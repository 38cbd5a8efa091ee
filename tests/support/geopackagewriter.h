// Writes GeoPackage tile pyramids for tests, fixtures, fuzz seeds and
// benchmarks: the GeoPackage system tables (spatial reference systems,
// contents, tile matrix sets and matrices) and one table per pyramid.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "storewriter.h"

namespace testsupport {

// Half the side of the Web Mercator square, in metres.
inline constexpr double kHalfWorld = 20037508.342789244;

class GeoPackageWriter {
public:
    struct Pyramid {
        Pyramid(std::string tableName, std::string id = "", std::int64_t srs = 3857,
                double x0 = -kHalfWorld, double y0 = -kHalfWorld, double x1 = kHalfWorld,
                double y1 = kHalfWorld)
            : table(std::move(tableName)), identifier(std::move(id)), srsId(srs), minX(x0),
              minY(y0), maxX(x1), maxY(y1) {}

        std::string table;
        std::string identifier;  // NULL when empty
        std::int64_t srsId;
        // The tile matrix set (its grid's origin is minX, maxY).
        double minX, minY, maxX, maxY;
        // gpkg_contents bounds in metres; NULL when absent.
        std::optional<double> boundsMinX, boundsMinY, boundsMaxX, boundsMaxY;
    };

    explicit GeoPackageWriter(const std::string& path) : w_(path, Layout::None, false) {
        w_.Exec("PRAGMA application_id=1196444487;");  // "GPKG"
        w_.Exec(
            "CREATE TABLE gpkg_spatial_ref_sys (srs_name TEXT NOT NULL, srs_id INTEGER PRIMARY "
            "KEY, organization TEXT NOT NULL, organization_coordsys_id INTEGER NOT NULL, "
            "definition TEXT NOT NULL, description TEXT);");
        w_.Exec(
            "INSERT INTO gpkg_spatial_ref_sys VALUES "
            "('Undefined cartesian', -1, 'NONE', -1, 'undefined', NULL),"
            "('Undefined geographic', 0, 'NONE', 0, 'undefined', NULL),"
            "('WGS 84', 4326, 'EPSG', 4326, 'GEOGCS[\"WGS 84\"]', NULL),"
            "('WGS 84 / Pseudo-Mercator', 3857, 'EPSG', 3857, 'PROJCS[\"Pseudo-Mercator\"]', "
            "NULL);");
        w_.Exec(
            "CREATE TABLE gpkg_contents (table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT "
            "NULL, identifier TEXT UNIQUE, description TEXT DEFAULT '', last_change DATETIME, "
            "min_x DOUBLE, min_y DOUBLE, max_x DOUBLE, max_y DOUBLE, srs_id INTEGER);");
        w_.Exec(
            "CREATE TABLE gpkg_tile_matrix_set (table_name TEXT NOT NULL PRIMARY KEY, srs_id "
            "INTEGER NOT NULL, min_x DOUBLE NOT NULL, min_y DOUBLE NOT NULL, max_x DOUBLE NOT "
            "NULL, max_y DOUBLE NOT NULL);");
        w_.Exec(
            "CREATE TABLE gpkg_tile_matrix (table_name TEXT NOT NULL, zoom_level INTEGER NOT "
            "NULL, matrix_width INTEGER NOT NULL, matrix_height INTEGER NOT NULL, tile_width "
            "INTEGER NOT NULL, tile_height INTEGER NOT NULL, pixel_x_size DOUBLE NOT NULL, "
            "pixel_y_size DOUBLE NOT NULL, CONSTRAINT pk_ttm PRIMARY KEY (table_name, "
            "zoom_level));");
    }

    void AddPyramid(const Pyramid& p) {
        w_.Exec("CREATE TABLE " + Quote(p.table) +
                " (id INTEGER PRIMARY KEY AUTOINCREMENT, zoom_level INTEGER NOT NULL, tile_column "
                "INTEGER NOT NULL, tile_row INTEGER NOT NULL, tile_data BLOB NOT NULL, UNIQUE "
                "(zoom_level, tile_column, tile_row));");
        w_.Exec(
            "INSERT INTO gpkg_contents (table_name, data_type, identifier, min_x, min_y, max_x, "
            "max_y, srs_id) VALUES (" +
            Literal(p.table) + ", 'tiles', " +
            (p.identifier.empty() ? std::string("NULL") : Literal(p.identifier)) + ", " +
            Literal(p.boundsMinX) + ", " + Literal(p.boundsMinY) + ", " + Literal(p.boundsMaxX) +
            ", " + Literal(p.boundsMaxY) + ", " + std::to_string(p.srsId) + ");");
        w_.Exec("INSERT INTO gpkg_tile_matrix_set VALUES (" + Literal(p.table) + ", " +
                std::to_string(p.srsId) + ", " + Number(p.minX) + ", " + Number(p.minY) + ", " +
                Number(p.maxX) + ", " + Number(p.maxY) + ");");
    }

    // One level of a pyramid, with the pixel sizes given in metres.
    void AddMatrix(const std::string& table, std::int64_t zoomLevel, std::int64_t matrixWidth,
                   std::int64_t matrixHeight, std::int64_t tileWidth, std::int64_t tileHeight,
                   double pixelX, double pixelY) {
        w_.Exec("INSERT INTO gpkg_tile_matrix VALUES (" + Literal(table) + ", " +
                std::to_string(zoomLevel) + ", " + std::to_string(matrixWidth) + ", " +
                std::to_string(matrixHeight) + ", " + std::to_string(tileWidth) + ", " +
                std::to_string(tileHeight) + ", " + Number(pixelX) + ", " + Number(pixelY) + ");");
    }

    // A level whose tiles are those of world zoom z, tileSize pixels on a
    // side, the matrix covering the whole world.
    void AddWorldMatrix(const std::string& table, std::int64_t zoomLevel, int z,
                        std::int64_t tileSize = 256) {
        const double pixel = WorldPixel(z, tileSize);
        AddMatrix(table, zoomLevel, std::int64_t{1} << z, std::int64_t{1} << z, tileSize, tileSize,
                  pixel, pixel);
    }

    static double WorldPixel(int z, std::int64_t tileSize) {
        return 2.0 * kHalfWorld / static_cast<double>(tileSize) / std::ldexp(1.0, z);
    }

    // A tile with the numbers as the table stores them (rows from the top).
    void Tile(const std::string& table, std::int64_t zoomLevel, std::int64_t column,
              std::int64_t row, const Bytes& data) {
        sqlite3_stmt* st = nullptr;
        const std::string sql = "INSERT INTO " + Quote(table) +
                                " (zoom_level, tile_column, tile_row, tile_data) VALUES (?1, ?2, "
                                "?3, ?4);";
        if (sqlite3_prepare_v2(w_.db(), sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(w_.db()));
        sqlite3_bind_int64(st, 1, zoomLevel);
        sqlite3_bind_int64(st, 2, column);
        sqlite3_bind_int64(st, 3, row);
        sqlite3_bind_blob(st, 4, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
        const int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(w_.db()));
    }

    void Exec(const std::string& sql) { w_.Exec(sql); }
    sqlite3* db() { return w_.db(); }

private:
    static std::string Quote(const std::string& name) {
        std::string q = "\"";
        for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
        return q + "\"";
    }
    static std::string Literal(const std::string& text) {
        std::string q = "'";
        for (char c : text) q += c == '\'' ? std::string("''") : std::string(1, c);
        return q + "'";
    }
    static std::string Literal(const std::optional<double>& v) { return v ? Number(*v) : "NULL"; }
    static std::string Number(double v) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        return buf;
    }

    StoreWriter w_;
};

}  // namespace testsupport
