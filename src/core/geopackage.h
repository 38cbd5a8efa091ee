// GeoPackage tile pyramids as the viewer's users see them: the tile tables a
// file holds, and paths that name one of them ("world.gpkg#roads").
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace corvalis {

struct GeoPackageTable {
    std::string name;        // gpkg_contents.table_name
    std::string identifier;  // gpkg_contents.identifier ("" when NULL)
};

// The tile tables of the GeoPackage at path, sorted by name (at most 4096);
// empty when the file is not read as a GeoPackage: not one, or a file that an
// older layout takes first (a `tiles` table of its own).
std::vector<GeoPackageTable> ListGeoPackageTileTables(const std::string& path);

// A path of the form FILE#TABLE: one that names no existing file but whose
// part before its last "#" names a regular file.
struct TablePath {
    std::string file;
    std::string table;
};
std::optional<TablePath> SplitTablePath(const std::string& path);

// The rows of gpkg_contents whose data_type is 'tiles', sorted by table name,
// at most limit of them; those named table only, when table is given.
std::vector<GeoPackageTable> GeoPackageTileTables(sqlite3* db, std::size_t limit,
                                                  const std::optional<std::string>& table = {});

}  // namespace corvalis
