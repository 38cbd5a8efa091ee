// GeoPackage tile pyramids on hostile files. An input whose first byte is
// below 0x80 is a whole file (bit 0 of that byte: opened as "s.gpkg#t"); any
// other builds a valid GeoPackage from fuzzed rows (the CRS, the matrix set's
// origin, matrix levels near and off the world grid, tiles, bounds), whose
// reading is checked against the placement rule: every tile on a level that
// fits reads back by its world address.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "fuzzcheck.h"
#include "geopackage.h"
#include "geopackagewriter.h"
#include "openstorecheck.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Bytes;
using testsupport::GeoPackageWriter;

std::vector<std::uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void OpenAndCheck(const std::string& path) {
    corvalis::TileDatabase db;
    std::string error;
    if (db.Open(path, error)) {
        FUZZ_CHECK(error.empty());
        fuzzsupport::CheckOpenStore(db);
    } else {
        FUZZ_CHECK(fuzzsupport::KnownOpenError(error));
        FUZZ_CHECK(!db.isOpen() && db.KindName() == "-");
    }
}

void FileMode(const std::uint8_t* data, std::size_t size) {
    const fs::path store = fuzzsupport::ScratchDir() / "s.gpkg";
    fuzzsupport::WriteBytes(store, data + 1, size - 1);
    OpenAndCheck((data[0] & 1) ? store.string() + "#t" : store.string());
    FUZZ_CHECK(corvalis::ListGeoPackageTileTables(store.string()).size() <= 4096);
    const std::vector<std::uint8_t> after = ReadAll(store);
    FUZZ_CHECK(after.size() == size - 1 &&
               (size == 1 || std::memcmp(after.data(), data + 1, size - 1) == 0));
    std::error_code ec;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) fs::remove(store.string() + suffix, ec);
    fs::remove(store);
}

// --- rows ----------------------------------------------------------------

constexpr double kWorld = 2 * testsupport::kHalfWorld;

struct Level {
    std::int64_t zoomLevel;
    double tileWidth, tileHeight, pixelX, pixelY;
};

struct TileRow {
    std::int64_t zoomLevel, column, row;
    Bytes data;
};

// The placement rule as written: the world zoom nearest to the matrix's scale,
// both sides within a millionth of the world, the origin within a millionth
// of a tile of the grid.
struct Placed {
    int z;
    double offX, offY;
};
std::optional<Placed> Place(const Level& l, double originX, double originY) {
    const double sx = l.tileWidth * l.pixelX, sy = l.tileHeight * l.pixelY;
    if (!(sx > 0) || !(sy > 0)) return std::nullopt;
    const double zr = std::round(std::log2(156543.03392804097 * 256 / sx));
    if (!(zr >= 0 && zr <= 31)) return std::nullopt;
    const int z = static_cast<int>(zr);
    const double p = std::ldexp(1.0, z);
    if (std::fabs(sx * p - 40075016.68557849) > 1e-6 * 40075016.68557849 ||
        std::fabs(sy * p - 40075016.68557849) > 1e-6 * 40075016.68557849)
        return std::nullopt;
    const double cx = (originX + 20037508.342789244) / sx, cy = (20037508.342789244 - originY) / sy;
    if (std::fabs(cx - std::round(cx)) > 1e-6 || std::fabs(cy - std::round(cy)) > 1e-6)
        return std::nullopt;
    if (std::fabs(std::round(cx)) > 2147483647.0 || std::fabs(std::round(cy)) > 2147483647.0)
        return std::nullopt;
    return Placed{z, std::round(cx), std::round(cy)};
}

Bytes TileData(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: return testsupport::PngHeader(in.ConsumeIntegralInRange(1u, 9000u), 256);
        case 1: {
            Bytes b = {0xFF, 0xD8, 0xFF, 0xC0, 0, 17, 8, 1, 0, 2, 0};
            b.resize(24, 0);
            return b;
        }
        default: {
            Bytes b = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(1, 40));
            if (b.empty()) b.push_back(0);
            return b;
        }
    }
}

Level FuzzLevel(FuzzedDataProvider& in) {
    Level l{};
    l.zoomLevel = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::int64_t>(-2, 40)
                                   : in.ConsumeIntegral<std::int64_t>();
    const int z = in.ConsumeIntegralInRange(0, 33);
    const double side = in.PickValueInArray({256.0, 512.0, 1.0, 8191.0, 300.0});
    l.tileWidth = side;
    l.tileHeight = in.ConsumeBool() ? side : in.PickValueInArray({256.0, 512.0, 100.0});
    const double nudge[] = {0.0, 3e-7, -9e-7, 1.1e-6, -2e-6, 0.5, 1.0};
    l.pixelX = kWorld / side / std::ldexp(1.0, z) * (1 + in.PickValueInArray(nudge));
    l.pixelY = kWorld / l.tileHeight / std::ldexp(1.0, z) * (1 + in.PickValueInArray(nudge));
    if (in.ConsumeIntegralInRange(0, 7) == 0) l.pixelX = in.ConsumeFloatingPoint<double>();
    return l;
}

void Origin(FuzzedDataProvider& in, double& x, double& y) {
    x = -testsupport::kHalfWorld;
    y = testsupport::kHalfWorld;
    const int kind = in.ConsumeIntegralInRange(0, 3);
    if (kind == 1 || kind == 2) {  // on the grid at some level (2: off by a fraction)
        const int z = in.ConsumeIntegralInRange(0, 31);
        const double side = kWorld / std::ldexp(1.0, z);
        const double fx = kind == 2 ? in.PickValueInArray({1e-7, 0.25, 0.5}) : 0.0;
        x += side * (static_cast<double>(in.ConsumeIntegralInRange(-2, 40)) + fx);
        y -= side * static_cast<double>(in.ConsumeIntegralInRange(-2, 40));
    } else if (kind == 3) {
        x = in.ConsumeFloatingPoint<double>();
        y = in.ConsumeFloatingPoint<double>();
    }
}

// What the rows make, written into a fresh file.
struct Rows {
    int srs = 0;  // 0 EPSG:3857, 1 epsg:3857, 2 EPSG:4326, 3 undefined
    double originX = 0, originY = 0;
    std::vector<Level> levels;
    std::vector<TileRow> tiles;  // those that went in (first of each address)
    std::optional<double> bounds[4];
};

// The levels that went in (the first of each zoom_level).
std::vector<Level> InsertLevels(GeoPackageWriter& w, const std::vector<Level>& levels) {
    std::vector<Level> kept;
    for (const Level& l : levels) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(w.db(),
                           "INSERT OR IGNORE INTO gpkg_tile_matrix VALUES ('t', ?1, 1, 1, ?2, ?3, "
                           "?4, ?5);",
                           -1, &st, nullptr);
        sqlite3_bind_int64(st, 1, l.zoomLevel);
        sqlite3_bind_double(st, 2, l.tileWidth);
        sqlite3_bind_double(st, 3, l.tileHeight);
        sqlite3_bind_double(st, 4, l.pixelX);
        sqlite3_bind_double(st, 5, l.pixelY);
        if (sqlite3_step(st) == SQLITE_DONE && sqlite3_changes(w.db()) == 1) kept.push_back(l);
        sqlite3_finalize(st);
    }
    return kept;
}

// Tiles mostly on the levels, a few anywhere; those that went in are kept.
void InsertTiles(FuzzedDataProvider& in, GeoPackageWriter& w, Rows& r) {
    const int tiles = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < tiles && in.remaining_bytes() > 0; ++i) {
        TileRow t;
        t.zoomLevel =
            !r.levels.empty() && in.ConsumeBool()
                ? r.levels[in.ConsumeIntegralInRange<std::size_t>(0, r.levels.size() - 1)].zoomLevel
                : in.ConsumeIntegralInRange<std::int64_t>(-1, 33);
        const bool small = in.ConsumeBool();
        t.column = small ? in.ConsumeIntegralInRange(0, 9) : in.ConsumeIntegral<std::int64_t>();
        t.row = small ? in.ConsumeIntegralInRange(0, 9) : in.ConsumeIntegral<std::int64_t>();
        t.data = TileData(in);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(w.db(),
                           "INSERT OR IGNORE INTO t (zoom_level, tile_column, tile_row, tile_data) "
                           "VALUES (?1, ?2, ?3, ?4);",
                           -1, &st, nullptr);
        sqlite3_bind_int64(st, 1, t.zoomLevel);
        sqlite3_bind_int64(st, 2, t.column);
        sqlite3_bind_int64(st, 3, t.row);
        sqlite3_bind_blob(st, 4, t.data.data(), static_cast<int>(t.data.size()), SQLITE_STATIC);
        const bool added = sqlite3_step(st) == SQLITE_DONE && sqlite3_changes(w.db()) == 1;
        sqlite3_finalize(st);
        if (added) r.tiles.push_back(std::move(t));
    }
}

Rows WriteRows(FuzzedDataProvider& in, const std::string& path) {
    Rows r;
    r.srs = in.ConsumeIntegralInRange(0, 3);
    Origin(in, r.originX, r.originY);
    const int levels = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < levels; ++i) r.levels.push_back(FuzzLevel(in));
    GeoPackageWriter w(path);
    w.Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;");
    if (r.srs == 1)
        w.Exec("UPDATE gpkg_spatial_ref_sys SET organization='epsg' WHERE srs_id=3857;");
    GeoPackageWriter::Pyramid p("t", "",
                                r.srs == 2   ? 4326
                                : r.srs == 3 ? 999
                                             : 3857,
                                r.originX, -1, 1, r.originY);
    for (auto& b : r.bounds)
        if (in.ConsumeBool()) b = in.ConsumeFloatingPointInRange(-3e7, 3e7);
    p.boundsMinX = r.bounds[0];
    p.boundsMinY = r.bounds[1];
    p.boundsMaxX = r.bounds[2];
    p.boundsMaxY = r.bounds[3];
    w.AddPyramid(p);
    r.levels = InsertLevels(w, r.levels);
    InsertTiles(in, w, r);
    w.Exec("COMMIT;");
    return r;
}

std::int32_t Wrap32(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

bool In32(double v) {
    return v >= -2147483648.0 && v <= 2147483647.0;
}

// World level -> (stored zoom_level, placement): levels in zoom_level order,
// the first to fit a world zoom keeps it.
std::map<int, std::pair<std::int64_t, Placed>> PlacedLevels(const Rows& r) {
    std::vector<Level> levels = r.levels;
    std::sort(levels.begin(), levels.end(),
              [](const Level& a, const Level& b) { return a.zoomLevel < b.zoomLevel; });
    std::map<int, std::pair<std::int64_t, Placed>> placed;
    for (const Level& l : levels) {
        if (l.zoomLevel < INT32_MIN || l.zoomLevel > INT32_MAX) continue;
        if (const auto p = Place(l, r.originX, r.originY); p && !placed.count(p->z))
            placed[p->z] = {l.zoomLevel, *p};
    }
    return placed;
}

void CheckTilesReadBack(corvalis::TileDatabase& db, const Rows& r,
                        const std::map<int, std::pair<std::int64_t, Placed>>& placed) {
    int lowest = 32, highest = -1;
    std::vector<std::uint8_t> bytes;
    for (const TileRow& t : r.tiles)
        for (const auto& [z, level] : placed) {
            if (Wrap32(t.zoomLevel) != level.first) continue;
            lowest = std::min(lowest, z);
            highest = std::max(highest, z);
            const double wx = static_cast<double>(t.column) + level.second.offX;
            const double wy = static_cast<double>(t.row) + level.second.offY;
            if (t.zoomLevel != level.first || !In32(static_cast<double>(t.column)) ||
                !In32(static_cast<double>(t.row)) || !In32(wx) || !In32(wy))
                continue;
            // Tiles off the world's grid belong to no level and are not read.
            const double side = std::ldexp(1.0, z);
            if (wx < 0 || wy < 0 || wx >= side || wy >= side) continue;
            FUZZ_CHECK(db.ReadTile(z, static_cast<std::int32_t>(wx), static_cast<std::int32_t>(wy),
                                   bytes));
            FUZZ_CHECK(bytes == t.data);
        }
    // Levels whose tiles all lie off the world's grid are left out.
    FUZZ_CHECK(db.minZoom() >= lowest && db.maxZoom() <= highest);
}

void CheckBounds(corvalis::TileDatabase& db, const Rows& r) {
    for (const auto& b : r.bounds)
        if (!b) return;
    const double h = testsupport::kHalfWorld, pi = 3.141592653589793;
    auto lat = [&](double y) { return std::atan(std::sinh(y / h * pi)) * 180 / pi; };
    double w = 0, s = 0, e = 0, n = 0;
    FUZZ_CHECK(db.GetBounds(w, s, e, n));
    FUZZ_CHECK(w == *r.bounds[0] / h * 180 && e == *r.bounds[2] / h * 180);
    FUZZ_CHECK(s == lat(*r.bounds[1]) && n == lat(*r.bounds[3]));
}

void RowsMode(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data + 1, size - 1);
    const fs::path path = fuzzsupport::ScratchDir() / "rows.gpkg";
    const Rows r = WriteRows(in, path.string());
    corvalis::TileDatabase db;
    std::string error;
    const bool opened = db.Open((data[0] & 1) ? path.string() + "#t" : path.string(), error);
    if (r.srs >= 2) {
        FUZZ_CHECK(!opened);
        FUZZ_CHECK(error == (r.srs == 2 ? "GeoPackage tiles in EPSG:4326 are not supported; only "
                                          "EPSG:3857."
                                        : "GeoPackage tiles in an undefined CRS (srs_id 999) are "
                                          "not supported; only EPSG:3857."));
        return;
    }
    const auto placed = PlacedLevels(r);
    if (placed.empty()) {
        FUZZ_CHECK(!opened && error == "GeoPackage tiles are not on the Web Mercator grid.");
        return;
    }
    bool anyTile = false;
    for (const TileRow& t : r.tiles)
        for (const auto& [z, level] : placed) anyTile |= Wrap32(t.zoomLevel) == level.first;
    if (!opened) {
        // Tiles off the world's grid count as none.
        FUZZ_CHECK(error == "the tiles table is empty." ||
                   (anyTile && error == "tile extent too large to display."));
        return;
    }
    fuzzsupport::CheckOpenStore(db);
    FUZZ_CHECK(db.kind() == corvalis::KindGeoPackage && db.name() == "t" && db.xyzRows());
    const std::string& f = db.format();
    FUZZ_CHECK(f == "png" || f == "jpg" || f == "webp" || f.empty());
    CheckTilesReadBack(db, r, placed);
    CheckBounds(db, r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    if (data[0] < 0x80)
        FileMode(data, size);
    else
        RowsMode(data, size);
    return 0;
}
