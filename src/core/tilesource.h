// One offline tile store: a single SQLite file holding raster map tiles.
//
// Every address that crosses this class's boundary is in world numbering:
// zoom 0..31, column counted from longitude -180, row counted from the north
// edge, whatever the file stores (TMS rows, reversed zoom, local grids).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sqlitehandles.h"
#include "tileindex.h"

namespace corvalis {

enum TileStoreKind : std::uint8_t {
    KindNone = 0,
    KindMBTiles = 1,
    KindSqliteXyz = 2,
    KindSqliteReversedZ = 3,
};

struct ZoomExtent {
    std::int32_t minX = 0;
    std::int32_t maxX = 0;
    std::int32_t minY = 0;
    std::int32_t maxY = 0;
    bool present = false;
};

inline constexpr int kZoomLevels = 32;

// Reads the pixel size from a PNG, JPEG or WebP header. Width and height are
// set to 0 first; true when a header was recognised and its size is usable.
bool ProbeImageSize(const std::uint8_t* bytes, std::int64_t count, std::int32_t& width,
                    std::int32_t& height);

// A "file:" URI naming path (percent-encoded) with SQLite's immutable flag:
// the file is read without locks or journal, as on read-only media.
std::string ImmutableFileUri(const std::string& path);

// Path of the ".omm" sidecar that places an Orux store on the world grid.
std::string OruxSidecarPath(const std::string& storePath);

class TileDatabase {
public:
    TileDatabase();
    ~TileDatabase();
    TileDatabase(const TileDatabase&) = delete;
    TileDatabase& operator=(const TileDatabase&) = delete;

    bool Open(const std::string& path, std::string& errorText);
    void Close();
    std::string KindName() const;

    bool GetZoomExtent(std::int32_t z, std::int32_t& minX, std::int32_t& maxX, std::int32_t& minY,
                       std::int32_t& maxY) const;
    bool GetBounds(double& west, double& south, double& east, double& north) const;

    // On true, data points to count (>= 1) bytes owned by this object, valid
    // until the next ReadTile, Close or Open.
    bool ReadTile(std::int32_t z, std::int32_t x, std::int32_t y, const std::uint8_t*& data,
                  std::int32_t& count);

    // Read-only view of the store's state.
    bool isOpen() const { return db_ != nullptr; }
    TileStoreKind kind() const { return kind_; }
    bool xyzRows() const { return xyzRows_; }
    bool reversedZ() const { return reversedZ_; }
    bool localGrid() const { return localGrid_; }
    bool geoUnknown() const { return geoUnknown_; }
    const std::string& path() const { return path_; }
    const std::string& format() const { return format_; }
    const std::string& name() const { return name_; }
    std::int32_t minZoom() const { return minZoom_; }
    std::int32_t maxZoom() const { return maxZoom_; }
    std::int32_t tileWidth() const { return tileWidth_; }
    std::int32_t tileHeight() const { return tileHeight_; }
    bool hasBounds() const { return hasBounds_; }
    // The tiles table has an index that serves single-tile reads; without one
    // every read scans the table.
    bool hasTileIndex() const { return indexes_.anyTileIndex; }
    // Whether level z (0..31) holds tiles; false for any other z.
    bool zoomPresent(std::int32_t z) const {
        return z >= 0 && z < kZoomLevels && extents_[static_cast<std::size_t>(z)].present;
    }

    // While one lives, ReadTile calls share one read transaction: a frame's
    // tiles take the store's file lock once instead of once per tile, and come
    // from one snapshot. Batches nest; closing or reopening the store ends the
    // transaction early.
    class ReadBatch {
    public:
        explicit ReadBatch(TileDatabase& store) : store_(store) { store_.BeginReadBatch(); }
        ~ReadBatch() { store_.EndReadBatch(); }
        ReadBatch(const ReadBatch&) = delete;
        ReadBatch& operator=(const ReadBatch&) = delete;

    private:
        TileDatabase& store_;
    };

private:
    void BeginReadBatch();
    void EndReadBatch();
    void ResetStoreFields();
    bool Connect(const std::string& name, int flags);
    int ProbeSchema() const;
    bool ExtentsDisplayable() const;
    bool DetectKind(std::string& errorText);
    void ReadMetadata();
    bool LoadOruxSidecar();
    bool ReadZoomExtents(std::string& errorText);
    void DeriveBoundsFromExtent();
    bool PrepareTileQuery(std::string& errorText);
    bool ProbeTileSize();
    std::string ErrorMessage() const;

    SqliteConnection db_;
    std::optional<ReadTransaction> readBatch_;  // on db_, while a ReadBatch lives
    int readBatchDepth_ = 0;
    SqliteStatement tileQuery_;
    bool busyWaitOn_ = true;  // reads wait out another process's lock
    TileStoreKind kind_ = KindNone;
    bool xyzRows_ = false;
    bool reversedZ_ = false;
    bool localGrid_ = false;
    bool geoUnknown_ = false;
    std::string path_;
    std::string format_;
    std::string name_;
    std::int32_t minZoom_ = 0;
    std::int32_t maxZoom_ = 0;
    std::int32_t tileWidth_ = 256;
    std::int32_t tileHeight_ = 256;
    bool hasBounds_ = false;
    double west_ = 0.0;
    double south_ = 0.0;
    double east_ = 0.0;
    double north_ = 0.0;
    std::array<std::int32_t, kZoomLevels> gridOffsetX_{};
    std::array<std::int32_t, kZoomLevels> gridOffsetY_{};
    std::array<bool, kZoomLevels> gridOffsetKnown_{};
    std::array<ZoomExtent, kZoomLevels> extents_{};
    std::vector<std::uint8_t> tileBuffer_;
    TableIndexes indexes_;
};

}  // namespace corvalis
