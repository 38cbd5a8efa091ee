// The `metadata` table of name/value rows that the SQLite tile layouts share.
#pragma once

#include <sqlite3.h>

#include <string>

#include "storefacts.h"

namespace corvalis {

// Sets the defaults (format "jpg", the file name without its extension as
// the name, no zoom hints) and applies every usable row of the table:
// name, format, bounds, scheme (which may switch facts.xyzRows), minzoom and
// maxzoom. A missing table leaves the defaults; nothing here fails.
void ReadMetadataTable(sqlite3* db, const std::string& path, StoreFacts& facts);

}  // namespace corvalis
