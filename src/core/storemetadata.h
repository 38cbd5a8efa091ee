// The `metadata` table of name/value rows that the SQLite tile layouts share.
#pragma once

#include <string>

#include "sqlitestore.h"
#include "storefacts.h"

namespace corvalis {

// Sets the defaults (format "jpg", the file name without its extension as
// the name, no zoom hints) and applies every usable row of the table:
// name, format, bounds, scheme (which may switch facts.xyzRows), minzoom and
// maxzoom. A missing table leaves the defaults, and unusable rows are passed
// over; only a table that outruns the store's budget fails (errorText).
bool ReadMetadataTable(SqliteStore& store, const std::string& path, StoreFacts& facts,
                       std::string& errorText);

}  // namespace corvalis
