// One offline tile store: a single file holding raster map tiles, read
// through the reader of its layout (storereader.h).
//
// Every address that crosses this class's boundary is in world numbering:
// zoom 0..31, column counted from longitude -180, row counted from the north
// edge, whatever the file stores (TMS rows, reversed zoom, local grids).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imageformat.h"
#include "oruxsidecar.h"
#include "sqlitestore.h"
#include "storefacts.h"
#include "tilescan.h"

namespace corvalis {

class StoreReader;

// Tells whether a tile's bytes are a vector tile (compressed MVT). The core
// does not parse MVT; the renderer installs its recogniser (once, at start).
// With none installed, only stores that name their format are vector.
using VectorTileRecogniser = bool (*)(const std::uint8_t* bytes, std::size_t count);
void SetVectorTileRecogniser(VectorTileRecogniser recogniser);

// The tile size of a vector store that declares none: MVT has no pixel size.
inline constexpr std::int32_t kVectorTileSize = 512;

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
    // The same into the caller's buffer, which on true holds the tile's bytes
    // (at least one); on false its content is unspecified.
    bool ReadTile(std::int32_t z, std::int32_t x, std::int32_t y, std::vector<std::uint8_t>& bytes);

    // Tile reads fail from now until ResumeReads: a read running on another
    // thread is cut short, the next ones fail at once. Unlike every other
    // member, these two may be called while another thread reads tiles.
    void InterruptReads() { interrupted_.store(true, std::memory_order_release); }
    void ResumeReads() { interrupted_.store(false, std::memory_order_release); }

    // Called on the reading thread before each tile read (for tests that need
    // a store whose reads are slow or gated). Set while no read runs.
    using ReadHook = std::function<void(std::int32_t z, std::int32_t x, std::int32_t y)>;
    void SetReadHook(ReadHook hook) { readHook_ = std::move(hook); }
    // Visits every stored tile once in storage order, in one pass over the
    // file (StoreReader::ScanTiles). Tile reads must not be made from the
    // visitor. False with errorText when no store is open or the scan failed.
    bool ScanTiles(const TileScanVisitor& visit, std::string& errorText);
    // The number of stored tiles when the store tells it without a scan.
    std::optional<std::int64_t> CountTiles(const StopRequested& stop = {});
    // The file's structure check: "ok" when sound; nothing when the store has
    // none (not an SQLite file) or it was stopped. Safe to call from another
    // thread while this thread scans or reads (not while it opens or closes).
    std::optional<std::string> IntegrityCheck(const StopRequested& stop = {});
    // The metadata's own words, before they were checked against the tiles.
    const StatedMetadata& stated() const { return facts_.stated; }

    // Read-only view of the store's state.
    bool isOpen() const { return reader_ != nullptr; }
    TileStoreKind kind() const { return facts_.kind; }
    bool xyzRows() const { return facts_.xyzRows; }
    bool reversedZ() const { return facts_.reversedZ; }
    bool localGrid() const { return facts_.localGrid; }
    bool geoUnknown() const { return facts_.geoUnknown; }
    // Latitudes of this store are those of ellipsoidal Mercator (EPSG:3395).
    bool ellipsoidal() const { return facts_.ellipsoidal; }
    // The tile size the store declares, 0 when none.
    std::int32_t tileSizeHint() const { return facts_.tileSizeHint; }
    // The store declares a tile size that the tiles do not have.
    bool TileSizeHintDiffers() const {
        return facts_.tileSizeHint != 0 && (facts_.tileSizeHint != facts_.tileWidth ||
                                            facts_.tileSizeHint != facts_.tileHeight);
    }
    const std::string& path() const { return path_; }
    const std::string& format() const { return facts_.format; }
    // The tiles are vector tiles (storefacts.h).
    bool vectorTiles() const { return facts_.vector; }
    const std::vector<std::string>& vectorLayers() const { return facts_.vectorLayers; }
    const std::string& name() const { return facts_.name; }
    std::int32_t minZoom() const { return facts_.minZoom; }
    std::int32_t maxZoom() const { return facts_.maxZoom; }
    std::int32_t tileWidth() const { return facts_.tileWidth; }
    std::int32_t tileHeight() const { return facts_.tileHeight; }
    bool hasBounds() const { return facts_.hasBounds; }
    // The tiles table has an index that serves single-tile reads; without one
    // every read scans the table.
    bool hasTileIndex() const { return facts_.hasTileIndex; }
    // What the user should know about the open store (empty: nothing).
    const std::string& notice() const { return facts_.notice; }
    // Whether level z (0..31) holds tiles; false for any other z.
    bool zoomPresent(std::int32_t z) const { return facts_.ZoomPresent(z); }

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
    bool SettleZoomRange(std::string& errorText);
    bool ExtentsDisplayable() const;
    void DeriveBoundsFromExtent();
    void ProbeTileSize();
    bool RecogniseVectorCorner();
    bool ProbeCornerTile(std::int32_t z, std::int32_t x, std::int32_t y, std::int32_t& w,
                         std::int32_t& h);

    std::atomic<bool> interrupted_{false};  // watched by the reader, so declared first
    std::unique_ptr<StoreReader> reader_;
    int readBatchDepth_ = 0;
    ReadHook readHook_;
    std::string path_;
    StoreFacts facts_;
    std::vector<std::uint8_t> tileBuffer_;
};

}  // namespace corvalis
