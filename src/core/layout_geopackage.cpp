// GeoPackage tile pyramids: a table listed in gpkg_contents as 'tiles', whose
// levels gpkg_tile_matrix describes in the CRS of its gpkg_tile_matrix_set
// row. Only Web Mercator pyramids whose levels fit the world grid are read;
// rows count from the top, each level placed by its matrix's origin.
#include <cmath>

#include "geopackage.h"
#include "geopackage_matrix.h"
#include "sqlitetiles.h"
#include "storelayouts.h"
#include "storeopening.h"
#include "textutil.h"
#include "webmercator.h"

namespace corvalis {

namespace {

constexpr std::size_t kShownTextLimit = 64;

std::string Text(sqlite3_stmt* st, int col) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    return t ? std::string(t, static_cast<std::size_t>(sqlite3_column_bytes(st, col))) : "";
}

bool IsNumber(sqlite3_stmt* st, int col) {
    const int type = sqlite3_column_type(st, col);
    return type == SQLITE_INTEGER || type == SQLITE_FLOAT;
}

// A number column; NaN for any other value, which fits no grid.
double Number(sqlite3_stmt* st, int col) {
    return IsNumber(st, col) ? sqlite3_column_double(st, col) : std::nan("");
}

bool IsInteger(sqlite3_stmt* st, int col, std::int64_t value) {
    switch (sqlite3_column_type(st, col)) {
        case SQLITE_INTEGER: return sqlite3_column_int64(st, col) == value;
        case SQLITE_FLOAT: return sqlite3_column_double(st, col) == static_cast<double>(value);
        case SQLITE_TEXT: return ParseStrictInteger(Text(st, col)) == value;
        default: return false;
    }
}

void BindText(sqlite3_stmt* st, int index, const std::string& text) {
    sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

std::string Shown(const std::string& text) {
    return CutText(text, kShownTextLimit);
}

// The table's tile matrix set: the origin of its grid, after a check that its
// CRS is EPSG:3857. False with errorText otherwise.
bool ReadMatrixSet(sqlite3* db, const std::string& table, double& originX, double& originY,
                   std::string& errorText) {
    auto st = PrepareStatement(
        db,
        "select m.min_x, m.max_y, m.srs_id, s.srs_id, s.organization, s.organization_coordsys_id "
        "from gpkg_tile_matrix_set m left join gpkg_spatial_ref_sys s on s.srs_id = m.srs_id "
        "where m.table_name = ?1 limit 1;");
    if (!st) {
        errorText =
            std::string("cannot read the GeoPackage tile matrix set: ") + sqlite3_errmsg(db);
        return false;
    }
    BindText(st.get(), 1, table);
    if (sqlite3_step(st.get()) != SQLITE_ROW) {
        errorText = "GeoPackage tiles '" + Shown(table) + "' have no tile matrix set.";
        return false;
    }
    if (sqlite3_column_type(st.get(), 3) == SQLITE_NULL) {
        errorText = "GeoPackage tiles in an undefined CRS (srs_id " + Shown(Text(st.get(), 2)) +
                    ") are not supported; only EPSG:3857.";
        return false;
    }
    const std::string organization = Text(st.get(), 4);
    if (!AsciiIEquals(organization, "EPSG") || !IsInteger(st.get(), 5, 3857)) {
        errorText = "GeoPackage tiles in " + Shown(organization) + ":" + Shown(Text(st.get(), 5)) +
                    " are not supported; only EPSG:3857.";
        return false;
    }
    originX = Number(st.get(), 0);
    originY = Number(st.get(), 1);
    return true;
}

// Places every level of the table's matrix that fits the world grid; the
// lowest zoom_level keeps a world level that two of them would take.
bool PlaceLevels(sqlite3* db, const std::string& table, double originX, double originY,
                 TileNumbering& numbering, std::string& errorText) {
    auto st = PrepareStatement(db,
                               "select zoom_level, tile_width, tile_height, pixel_x_size, "
                               "pixel_y_size from gpkg_tile_matrix where table_name = ?1 "
                               "order by zoom_level;");
    if (!st) {
        errorText = std::string("cannot read the GeoPackage tile matrices: ") + sqlite3_errmsg(db);
        return false;
    }
    BindText(st.get(), 1, table);
    numbering.placed = true;
    numbering.xyzRows = true;
    bool any = false;
    while (sqlite3_step(st.get()) == SQLITE_ROW) {
        if (sqlite3_column_type(st.get(), 0) != SQLITE_INTEGER) continue;
        const std::int64_t stored = sqlite3_column_int64(st.get(), 0);
        if (stored < INT32_MIN || stored > INT32_MAX) continue;
        const TileMatrix matrix{Number(st.get(), 1),
                                Number(st.get(), 2),
                                Number(st.get(), 3),
                                Number(st.get(), 4),
                                originX,
                                originY};
        const std::optional<WorldLevel> level = FitWorldLevel(matrix);
        if (!level) continue;
        TileNumbering::Level& slot = numbering.levels[static_cast<std::size_t>(level->z)];
        if (slot.known) continue;
        slot = {true, stored, level->offsetX, level->offsetY};
        any = true;
    }
    if (!any) errorText = "GeoPackage tiles are not on the Web Mercator grid.";
    return any;
}

double MercatorXToLon(double x) {
    return x / kMercatorHalfWorld * 180.0;
}

double MercatorYToLat(double y) {
    return std::atan(std::sinh(y / kMercatorHalfWorld * kPi)) * 180.0 / kPi;
}

// The bounds gpkg_contents gives in metres, when it gives all four.
void ReadContentsBounds(sqlite3* db, const std::string& table, StoreFacts& facts) {
    auto st = PrepareStatement(db,
                               "select min_x, min_y, max_x, max_y from gpkg_contents where "
                               "table_name = ?1 and data_type = 'tiles' limit 1;");
    if (!st) return;
    BindText(st.get(), 1, table);
    if (sqlite3_step(st.get()) != SQLITE_ROW) return;
    for (int col = 0; col < 4; ++col)
        if (sqlite3_column_type(st.get(), col) == SQLITE_NULL) return;
    facts.west = MercatorXToLon(sqlite3_column_double(st.get(), 0));
    facts.south = MercatorYToLat(sqlite3_column_double(st.get(), 1));
    facts.east = MercatorXToLon(sqlite3_column_double(st.get(), 2));
    facts.north = MercatorYToLat(sqlite3_column_double(st.get(), 3));
    facts.hasBounds = true;
}

class GeoPackageTiles final : public StoreLayout {
public:
    bool Recognise(StoreOpening& opening) const override {
        SqliteStore* store = opening.Sqlite();
        return store != nullptr && !GeoPackageTileTables(store->db(), 1).empty();
    }

    std::unique_ptr<StoreReader> Open(StoreOpening& opening, StoreFacts& facts,
                                      std::string& errorText) const override {
        sqlite3* db = opening.Sqlite()->db();
        const std::vector<GeoPackageTable> chosen =
            GeoPackageTileTables(db, 1, opening.NamedTable());
        if (chosen.empty()) {
            errorText = "GeoPackage has no tile table named '" +
                        Shown(opening.NamedTable().value_or("")) + "'.";
            return nullptr;
        }
        const GeoPackageTable& table = chosen.front();
        facts.kind = KindGeoPackage;
        facts.kindName = "GeoPackage tiles";
        facts.xyzRows = true;
        facts.formatFromProbe = true;
        facts.name = Trim(table.identifier).empty() ? table.name : table.identifier;
        facts.minZoom = facts.maxZoom = -1;  // the levels with tiles decide
        double originX = 0.0, originY = 0.0;
        TileNumbering numbering;
        if (!ReadMatrixSet(db, table.name, originX, originY, errorText) ||
            !PlaceLevels(db, table.name, originX, originY, numbering, errorText))
            return nullptr;
        ReadContentsBounds(db, table.name, facts);
        auto reader = std::make_unique<SqliteTileReader>(
            opening.TakeSqlite(),
            TileTable{table.name, "zoom_level", "tile_column", "tile_row", "tile_data"}, numbering);
        if (!reader->ReadExtents(facts, errorText)) return nullptr;
        return reader;
    }
};

}  // namespace

const StoreLayout& GeoPackageLayout() {
    static const GeoPackageTiles layout;
    return layout;
}

}  // namespace corvalis
