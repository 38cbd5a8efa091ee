#include "geopackage.h"

#include <sys/stat.h>

#include "sqlitehandles.h"
#include "storelayouts.h"
#include "storeopening.h"

namespace corvalis {

namespace {

constexpr std::size_t kListedTablesLimit = 4096;

std::string Text(sqlite3_stmt* st, int col) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    return t ? std::string(t, static_cast<std::size_t>(sqlite3_column_bytes(st, col))) : "";
}

}  // namespace

std::vector<GeoPackageTable> GeoPackageTileTables(sqlite3* db, std::size_t limit,
                                                  const std::optional<std::string>& table) {
    std::vector<GeoPackageTable> tables;
    auto st =
        PrepareStatement(db, table ? "select table_name, identifier from gpkg_contents where "
                                     "data_type = 'tiles' and table_name = ?1;"
                                   : "select table_name, identifier from gpkg_contents where "
                                     "data_type = 'tiles' and table_name is not null order by "
                                     "table_name;");
    if (!st) return tables;
    if (table)
        sqlite3_bind_text(st.get(), 1, table->data(), static_cast<int>(table->size()),
                          SQLITE_STATIC);
    while (tables.size() < limit && sqlite3_step(st.get()) == SQLITE_ROW)
        tables.push_back({Text(st.get(), 0), Text(st.get(), 1)});
    return tables;
}

std::vector<GeoPackageTable> ListGeoPackageTileTables(const std::string& path) {
    StoreOpening opening(path);
    if (RecognisingLayout(opening) != &GeoPackageLayout()) return {};
    return GeoPackageTileTables(opening.Sqlite()->db(), kListedTablesLimit);
}

std::optional<TablePath> SplitTablePath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return std::nullopt;
    const std::size_t hash = path.rfind('#');
    if (hash == std::string::npos) return std::nullopt;
    TablePath parts{path.substr(0, hash), path.substr(hash + 1)};
    if (::stat(parts.file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return parts;
}

}  // namespace corvalis
