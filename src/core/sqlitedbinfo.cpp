#include "sqlitedbinfo.h"

#include <optional>
#include <string>
#include <vector>

#include "sqlitehandles.h"
#include "storeopening.h"
#include "textutil.h"
#include "tilenumbering.h"

namespace corvalis {

namespace {

enum class InfoColumn { TileNumbering, InvertedY, TileSize, Ellipsoid };

struct Wanted {
    const char* name;
    InfoColumn column;
};
constexpr Wanted kWanted[] = {{"tilenumbering", InfoColumn::TileNumbering},
                              {"inverted_y", InfoColumn::InvertedY},
                              {"tilesize", InfoColumn::TileSize},
                              {"ellipsoid", InfoColumn::Ellipsoid}};

// The columns of `info` that declare something, as the table names them.
std::vector<std::pair<std::string, InfoColumn>> PresentColumns(sqlite3* db) {
    std::vector<std::pair<std::string, InfoColumn>> present;
    auto st = PrepareStatement(db, "PRAGMA table_info(info);");
    if (!st) return present;
    while (sqlite3_step(st.get()) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1));
        if (text == nullptr) continue;
        const std::string name(text, static_cast<std::size_t>(sqlite3_column_bytes(st.get(), 1)));
        for (const Wanted& w : kWanted)
            if (AsciiIEquals(name, w.name)) present.emplace_back(name, w.column);
    }
    return present;
}

std::string Text(sqlite3_stmt* st, int col) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    return t ? std::string(t, static_cast<std::size_t>(sqlite3_column_bytes(st, col))) : "";
}

// An integer value, whether stored as an integer, a whole real or a text.
std::optional<std::int64_t> IntegerValue(sqlite3_stmt* st, int col) {
    switch (sqlite3_column_type(st, col)) {
        case SQLITE_INTEGER: return sqlite3_column_int64(st, col);
        case SQLITE_FLOAT: {
            const double v = sqlite3_column_double(st, col);
            if (v == 1.0 || v == 256.0 || v == 512.0) return static_cast<std::int64_t>(v);
            return std::nullopt;
        }
        case SQLITE_TEXT: return ParseStrictInteger(Text(st, col));
        default: return std::nullopt;
    }
}

void Apply(InfoColumn column, sqlite3_stmt* st, int col, SqlitedbInfo& info) {
    const std::optional<std::int64_t> v = IntegerValue(st, col);
    switch (column) {
        case InfoColumn::TileNumbering:
            info.reversedZ = sqlite3_column_type(st, col) == SQLITE_TEXT &&
                             AsciiIEquals(Text(st, col), "BigPlanet");
            break;
        case InfoColumn::InvertedY: info.invertedY = v == 1; break;
        case InfoColumn::TileSize:
            info.tileSize = v == 256 || v == 512 ? std::int32_t(*v) : 0;
            break;
        case InfoColumn::Ellipsoid: info.ellipsoidal = v == 1; break;
    }
}

}  // namespace

SqlitedbInfo ReadSqlitedbInfo(sqlite3* db) {
    SqlitedbInfo info;
    const auto present = PresentColumns(db);
    if (present.empty()) return info;
    // Values longer than any this table declares are not read at all: SQLite
    // gives length() without loading the value.
    std::string sql = "select ";
    for (std::size_t i = 0; i < present.size(); ++i) {
        const std::string q = QuoteIdentifier(present[i].first);
        sql += (i ? ", " : "") + ("case when length(" + q + ") <= 16 then " + q + " end");
    }
    sql += " from info limit 1;";
    auto st = PrepareStatement(db, sql.c_str());
    if (!st || sqlite3_step(st.get()) != SQLITE_ROW) return info;
    for (std::size_t i = 0; i < present.size(); ++i)
        Apply(present[i].second, st.get(), static_cast<int>(i), info);
    return info;
}

SqlitedbInfo SqlitedbInfoOf(StoreOpening& opening) {
    if (!opening.SqlitedbName() || opening.Sqlite() == nullptr) return {};
    return ReadSqlitedbInfo(opening.Sqlite()->db());
}

void ApplySqlitedbInfo(const SqlitedbInfo& info, StoreFacts& facts, TileNumbering& numbering) {
    numbering.xyzRows = !info.invertedY;
    facts.tileSizeHint = info.tileSize;
    facts.ellipsoidal = info.ellipsoidal;
}

}  // namespace corvalis
