#include "storemetadata.h"

#include "imageformat.h"
#include "jsonscan.h"
#include "sqlitehandles.h"
#include "textutil.h"

namespace corvalis {

namespace {

std::string ColumnText(sqlite3_stmt* st, int col, bool& isNull) {
    const unsigned char* t = sqlite3_column_text(st, col);
    isNull = t == nullptr;
    if (!t) return {};
    return std::string(reinterpret_cast<const char*>(t),
                       static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
}

void ApplyBounds(const std::string& value, StoreFacts& facts) {
    double b[4];
    facts.stated.boundsGiven = true;
    if (ScanFourDoubles(value, b) && b[0] >= -180 && b[2] <= 180 && b[1] >= -90 && b[3] <= 90 &&
        b[0] < b[2] && b[1] < b[3]) {
        facts.stated.boundsUsable = true;
        facts.stated.west = b[0];
        facts.stated.south = b[1];
        facts.stated.east = b[2];
        facts.stated.north = b[3];
        facts.west = b[0];
        facts.south = b[1];
        facts.east = b[2];
        facts.north = b[3];
        facts.hasBounds = true;
    }
}

void ApplyRow(const std::string& key, const std::string& value, StoreFacts& facts) {
    if (AsciiIEquals(key, "name")) {
        if (!Trim(value).empty()) facts.name = value;
    } else if (AsciiIEquals(key, "format")) {
        facts.format = AsciiLower(value);
        facts.stated.format = facts.format;
    } else if (AsciiIEquals(key, "json")) {
        facts.vectorLayers = JsonVectorLayerIds(value, kMaxVectorLayerIds);
    } else if (AsciiIEquals(key, "bounds")) {
        ApplyBounds(value, facts);
    } else if (AsciiIEquals(key, "scheme")) {
        const std::string scheme = AsciiLower(Trim(value));
        if (scheme == "xyz" || scheme == "slippy") facts.xyzRows = true;
        if (scheme == "tms") facts.xyzRows = false;
    } else if (AsciiIEquals(key, "minzoom") || AsciiIEquals(key, "maxzoom")) {
        const std::int64_t v = AtolLike(value);
        (AsciiIEquals(key, "minzoom") ? facts.stated.minZoom : facts.stated.maxZoom) = v;
        if (v >= 0 && v <= 31)
            (AsciiIEquals(key, "minzoom") ? facts.minZoom : facts.maxZoom) = Wrap32(v);
    }
}

}  // namespace

bool ReadMetadataTable(SqliteStore& store, const std::string& path, StoreFacts& facts,
                       std::string& errorText) {
    facts.format = "jpg";
    const std::string_view fileName = FileNamePart(path);
    const std::size_t dot = fileName.rfind('.');
    facts.name = std::string(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
    facts.minZoom = -1;
    facts.maxZoom = -1;

    auto st = PrepareStatement(store.db(), "select name, value from metadata;");
    if (!st) return true;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        bool keyNull = false, valueNull = false;
        const std::string key = ColumnText(st.get(), 0, keyNull);
        const std::string value = ColumnText(st.get(), 1, valueNull);
        if (!keyNull && !valueNull) ApplyRow(key, value, facts);
    }
    if (store.OutOfTime() || (rc & 0xFF) == SQLITE_NOMEM) {
        errorText = store.Failure(rc);
        return false;
    }
    return true;
}

}  // namespace corvalis
