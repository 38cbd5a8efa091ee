// A PMTiles v3 archive, read with positional reads and never written.
//
// Opening reads the header, the root directory and every leaf directory once
// (leaves in file order), which gives the per-level extents without reading a
// tile; then the metadata for its name. Every offset and length is checked
// against the file before it is used, directories are held to 64 MiB each
// after decompression, and leaves may not hold leaves of their own.
// Addresses are in world numbering: zoom 0..31, rows from the north.
// Not thread-safe: one thread reads at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bytesource.h"
#include "pmtiles_directory.h"
#include "pmtiles_extents.h"
#include "pmtiles_header.h"
#include "pmtiles_leafcache.h"

namespace corvalis {

// Tiles tileId .. tileId + runLength - 1, which share one stored blob.
struct PmtilesTileRun {
    std::uint64_t tileId = 0;
    std::uint64_t runLength = 0;
    std::uint64_t offset = 0;  // in the file
    std::uint64_t length = 0;
};

struct PmtilesTile {
    std::int32_t z = 0;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint64_t offset = 0;  // in the file; tiles with the same offset share their bytes
    std::uint64_t length = 0;
};

class PmtilesArchive {
public:
    static constexpr std::size_t kDirectoryLimit = std::size_t{64} << 20;
    static constexpr std::size_t kMetadataLimit = std::size_t{16} << 20;
    static constexpr std::size_t kLeafCacheBudget = std::size_t{16} << 20;
    static constexpr std::uint64_t kTileLimit = std::uint64_t{256} << 20;

    PmtilesArchive();
    ~PmtilesArchive();
    PmtilesArchive(const PmtilesArchive&) = delete;
    PmtilesArchive& operator=(const PmtilesArchive&) = delete;

    // Errors: those of FileByteSource::Open and ParsePmtilesHeader, those of
    // PmtilesDirectory::Parse, "PMTiles directory points outside the file.",
    // "PMTiles directory decompresses to more than 64 MiB.", "PMTiles
    // directory cannot be decompressed.", "PMTiles directory cannot be
    // read.", "PMTiles leaf directories nest deeper than one level.",
    // "PMTiles directories are too large for the file." (all directories
    // together decompress to more than 16 times the file, and 256 MiB),
    // "cannot read file." An archive without tiles opens (levels all absent).
    bool Open(const std::string& path, std::string& errorText);
    bool Open(std::unique_ptr<ByteSource> source, std::string& errorText);
    void Close();
    bool isOpen() const { return source_ != nullptr; }

    const PmtilesHeader& header() const { return header_; }
    // "png", "jpg", "webp", "avif", "pbf" or "" (see PmtilesFormatName).
    std::string format() const { return PmtilesFormatName(header_.tileType); }
    bool isVector() const { return header_.tileType == kPmtilesTileMvt; }
    // The metadata's top-level "name" string; "" when there is none.
    const std::string& name() const { return name_; }
    // The vector layers the metadata lists (JsonVectorLayerIds).
    const std::vector<std::string>& vectorLayers() const { return vectorLayers_; }
    // The header's zoom range; -1 for a value beyond 31, which is ignored.
    std::int32_t minZoomHint() const { return header_.minZoom <= 31 ? header_.minZoom : -1; }
    std::int32_t maxZoomHint() const { return header_.maxZoom <= 31 ? header_.maxZoom : -1; }
    // The header's bounds in degrees; false when all four are 0 (not given).
    bool HeaderBounds(double& west, double& south, double& east, double& north) const;
    // Per level: extent and tile count of the addressed tiles.
    const PmtilesLevels& levels() const { return levels_; }
    std::uint64_t fileSize() const { return source_ ? source_->size() : 0; }

    // The tile's bytes; false when the archive has no such tile, its bytes
    // cannot be read, or tiles are compressed (only "none" is read).
    bool ReadTile(std::int32_t z, std::int32_t x, std::int32_t y, std::vector<std::uint8_t>& out);
    // The tile's bytes as stored, whatever the tile compression.
    bool ReadStoredTile(std::int32_t z, std::int32_t x, std::int32_t y,
                        std::vector<std::uint8_t>& out);
    // Where the tile's bytes lie (not checked against the file).
    bool FindTile(std::int32_t z, std::int32_t x, std::int32_t y, PmtilesTileRun& run);
    // length bytes at offset of the file; false past the end, for a length of
    // 0 or above kTileLimit, or on a read error.
    bool ReadBytes(std::uint64_t offset, std::uint64_t length, std::vector<std::uint8_t>& out);

    // Every tile entry in storage order: the root's as they come, and the
    // leaves' read in file order (for a root of up to 65536 leaves, all of
    // them after the root's; a larger root has its leaves read 65536 at a
    // time). False when a directory can no longer be read (errorText says
    // why) or the visitor stopped (errorText empty).
    using RunVisitor = std::function<bool(const PmtilesTileRun&)>;
    bool ForEachRun(const RunVisitor& visit, std::string& errorText);
    // The same with runs expanded into their tiles, one call per tile: a run
    // of n tiles costs n calls (tiles past level 31 are left out).
    using TileVisitor = std::function<bool(const PmtilesTile&)>;
    bool ForEachTile(const TileVisitor& visit, std::string& errorText);

private:
    struct LeafRef {
        PmtilesEntry entry;
        std::uint64_t endId;  // the next root entry's id: the leaf's tiles end before it
    };
    bool ReadSection(std::uint64_t offset, std::uint64_t length, std::size_t limit,
                     std::vector<std::uint8_t>& out, std::string& errorText);
    bool LoadLeaf(const LeafRef& ref, PmtilesDirectory& dir, const PmtilesDirectory::Visitor& visit,
                  std::string& errorText);
    bool Walk(const PmtilesDirectory::Visitor& visitTile, bool keepLeaves, std::string& errorText);
    bool WalkLeaves(std::vector<LeafRef>& batch, const PmtilesDirectory::Visitor& visitTile,
                    bool keepLeaves, std::string& errorText);
    const PmtilesDirectory* Leaf(const PmtilesEntry& entry, PmtilesDirectory& scratch);
    std::uint64_t WalkBudget() const;
    bool Charge(std::uint64_t bytes, std::string& errorText);
    void ReadName();
    PmtilesTileRun RunOf(const PmtilesEntry& e) const;

    std::unique_ptr<ByteSource> source_;
    PmtilesHeader header_;
    Compression internal_ = Compression::None;
    PmtilesDirectory root_;
    PmtilesLeafCache leaves_;
    PmtilesLevels levels_{};
    std::string name_;
    std::vector<std::string> vectorLayers_;
    std::vector<std::uint8_t> chunk_;    // read buffer for compressed sections
    std::uint64_t budget_ = UINT64_MAX;  // left for the walk under way; UINT64_MAX: none
};

}  // namespace corvalis
