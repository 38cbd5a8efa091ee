// What every open store promises the rest of the viewer, checked by the fuzz
// targets that open stores, and the texts a failed open may give.
#pragma once

#include <climits>
#include <cstdint>
#include <string>

#include "fuzzcheck.h"
#include "mapviewport.h"
#include "tilesource.h"

namespace fuzzsupport {

inline bool KnownOpenError(const std::string& e) {
    static const char* const kTexts[] = {
        "this file has no 'tiles' table.",
        "'tiles' table has neither 'tile_data' nor 'image' column.",
        "the tiles table is empty.",
        "no usable zoom level found.",
        "tile extent too large to display.",
        "GeoPackage tiles are not on the Web Mercator grid.",
        "not a regular file.",
        "cannot read file.",
    };
    static const char* const kPrefixes[] = {
        "cannot open database: ",
        "cannot query tile extents: ",
        "cannot prepare tile query: ",
        "cannot read the GeoPackage tile matrix set: ",
        "cannot read the GeoPackage tile matrices: ",
        "GeoPackage tiles in ",
        "GeoPackage tiles '",
        "GeoPackage has no tile table named '",
        "PMTiles ",  // a file that starts like an archive is read as one
        "not a PMTiles archive.",
        "the store's query ",
    };
    for (const char* text : kTexts)
        if (e == text) return true;
    for (const char* prefix : kPrefixes)
        if (e.rfind(prefix, 0) == 0) return true;
    return false;
}

inline void TouchBytes(const std::uint8_t* bytes, std::int32_t count) {
    volatile std::uint8_t sink = 0;
    for (std::int32_t i = 0; i < count; i += 61) sink = static_cast<std::uint8_t>(sink + bytes[i]);
    sink = static_cast<std::uint8_t>(sink + bytes[count - 1]);
}

inline void ReadAt(corvalis::TileDatabase& db, std::int32_t z, std::int64_t x, std::int64_t y) {
    const std::uint8_t* bytes = nullptr;
    std::int32_t count = -1;
    const bool found =
        db.ReadTile(z, static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), bytes, count);
    FUZZ_CHECK(found == (bytes != nullptr));
    FUZZ_CHECK(found ? count >= 1 : count == 0);
    if (!found) return;
    TouchBytes(bytes, count);
    std::int32_t w = 0, h = 0;
    corvalis::ProbeImageSize(bytes, count, w, h);
}

// Everything an open store promises to the rest of the viewer. GeoPackage
// bounds are taken as stored, unchecked; every other kind's form a box.
inline void CheckOpenStore(corvalis::TileDatabase& db) {
    FUZZ_CHECK(db.isOpen() && db.kind() != corvalis::KindNone && db.KindName() != "-");
    FUZZ_CHECK(db.minZoom() >= 0 && db.minZoom() <= db.maxZoom() && db.maxZoom() < 32);
    FUZZ_CHECK(db.zoomPresent(db.minZoom()) && db.zoomPresent(db.maxZoom()));
    FUZZ_CHECK(db.tileWidth() >= 1 && db.tileHeight() >= 1);
    for (std::int32_t z = -1; z <= 32; ++z) {
        std::int32_t x0 = 7, x1 = 7, y0 = 7, y1 = 7;
        const bool present = db.GetZoomExtent(z, x0, x1, y0, y1);
        FUZZ_CHECK(present == db.zoomPresent(z));
        if (!present) {
            FUZZ_CHECK(x0 == 7 && x1 == 7 && y0 == 7 && y1 == 7);
            continue;
        }
        if (z >= db.minZoom() && z <= db.maxZoom()) {
            FUZZ_CHECK(x0 <= x1 && y0 <= y1);
            FUZZ_CHECK((std::int64_t{x1} - x0 + 1) * db.tileWidth() <= INT_MAX);
            FUZZ_CHECK((std::int64_t{y1} - y0 + 1) * db.tileHeight() <= INT_MAX);
        }
        ReadAt(db, z, x0, y0);
        ReadAt(db, z, x1, y1);
        ReadAt(db, z, (std::int64_t{x0} + x1) / 2, (std::int64_t{y0} + y1) / 2);
        ReadAt(db, z, std::int64_t{x0} - 1, y0);
    }
    double w = 0, s = 0, e = 0, n = 0;
    if (db.GetBounds(w, s, e, n) && db.kind() != corvalis::KindGeoPackage)
        FUZZ_CHECK(w < e && s < n);

    corvalis::MapViewport vp;
    vp.SetViewSize(800, 600);
    vp.AttachStore(&db);
    FUZZ_CHECK(vp.ContentWidth() >= 1 && vp.ContentHeight() >= 1);
    const corvalis::TileGrid grid = corvalis::BuildTileGrid(vp, corvalis::PrefetchFactor);
    FUZZ_CHECK(!grid.IsEmpty());
    double lon = 0, lat = 0;
    vp.ContentToLonLat(vp.ContentWidth() / 2, vp.ContentHeight() / 2, lon, lat);
    int x = 0, y = 0;
    vp.LonLatToContent(lon, lat, x, y);
}

}  // namespace fuzzsupport
