// What opening a store settles about it: its layout, metadata, zoom range,
// tile size, bounds and per-level extents, in world numbering.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvalis {

enum TileStoreKind : std::uint8_t {
    KindNone = 0,
    KindMBTiles = 1,
    KindSqliteXyz = 2,
    KindSqliteReversedZ = 3,
    KindGeoPackage = 4,
    KindPMTiles = 5,
};

inline constexpr int kZoomLevels = 32;
// The most layer names taken from a store's metadata.
inline constexpr std::size_t kMaxVectorLayerIds = 1000;

struct ZoomExtent {
    std::int32_t minX = 0;
    std::int32_t maxX = 0;
    std::int32_t minY = 0;
    std::int32_t maxY = 0;
    bool present = false;
};

// What the store's metadata says, as it says it: before the zoom range is
// settled against the tiles and before bounds are derived from them. Unset
// where the metadata says nothing.
struct StatedMetadata {
    std::optional<std::string> format;  // lower case
    std::optional<std::int64_t> minZoom;
    std::optional<std::int64_t> maxZoom;
    bool boundsGiven = false;  // a bounds entry exists (usable or not)
    bool boundsUsable = false;
    double west = 0.0;
    double south = 0.0;
    double east = 0.0;
    double north = 0.0;
};

struct StoreFacts {
    TileStoreKind kind = KindNone;
    std::string kindName;    // the layout's display name
    bool xyzRows = false;    // the file counts its rows from the north
    bool reversedZ = false;  // the file numbers its levels backwards
    bool localGrid = false;  // placed on the world grid by a sidecar
    bool geoUnknown = false;
    // Drawn in ellipsoidal Mercator (EPSG:3395) on the world grid: latitudes
    // come from the ellipsoidal inverse, pixels and tile numbers are the same.
    bool ellipsoidal = false;
    std::string format;
    // The tiles are Mapbox Vector Tiles: format "pbf" or "mvt", a PMTiles
    // tile type MVT, or a corner tile the vector recogniser takes.
    bool vector = false;
    // The layers the metadata lists for a vector store (its "vector_layers").
    std::vector<std::string> vectorLayers;
    // The format is that of the tile the size probe reads ("png", "jpg",
    // "webp", or "" for any other or none), not a stored name.
    bool formatFromProbe = false;
    // The tile size the store declares (256 or 512), 0 when none; the size
    // probe still decides.
    std::int32_t tileSizeHint = 0;
    std::string name;
    std::int32_t minZoom = 0;
    std::int32_t maxZoom = 0;
    std::int32_t tileWidth = 256;
    std::int32_t tileHeight = 256;
    bool hasBounds = false;
    double west = 0.0;
    double south = 0.0;
    double east = 0.0;
    double north = 0.0;
    bool hasTileIndex = false;  // single-tile reads are served by an index
    std::string notice;         // what the user should know about this store, if anything
    std::array<ZoomExtent, kZoomLevels> extents{};
    StatedMetadata stated;

    // Whether level z (0..31) holds tiles; false for any other z.
    bool ZoomPresent(std::int32_t z) const {
        return z >= 0 && z < kZoomLevels && extents[static_cast<std::size_t>(z)].present;
    }
    const ZoomExtent& Extent(std::int32_t z) const { return extents[static_cast<std::size_t>(z)]; }
};

}  // namespace corvalis
