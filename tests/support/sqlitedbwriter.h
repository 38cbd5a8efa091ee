// The `info` table that ".sqlitedb" writers add to their stores.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "storewriter.h"

namespace testsupport {

// Columns of the table with their values as SQL literals ("'BigPlanet'", "1",
// "NULL"); the table gets one row, or none when withRow is false.
using InfoColumns = std::vector<std::pair<std::string, std::string>>;

inline void WriteInfoTable(StoreWriter& w, const InfoColumns& columns, bool withRow = true) {
    std::string names, values;
    for (const auto& [name, value] : columns) {
        names += (names.empty() ? "" : ", ") + name;
        values += (values.empty() ? "" : ", ") + value;
    }
    w.Exec("CREATE TABLE info (" + names + ");");
    if (withRow) w.Exec("INSERT INTO info VALUES (" + values + ");");
}

}  // namespace testsupport
