// PMTiles v3 archives: one file of a header, directories of Hilbert tile ids
// and the tiles, read with positional reads (pmtiles_archive.h).
#include <algorithm>
#include <climits>
#include <string>

#include "pmtiles_archive.h"
#include "pmtiles_header.h"
#include "storeopening.h"
#include "storereader.h"
#include "textutil.h"
#include "tilescan.h"

namespace corvalis {

namespace {

// A scan visits every tile a run addresses, and the store check keeps 16
// bytes for each: a few bytes of directory can address billions of tiles, so
// a scan gives up beyond this many (a 1 GiB ledger).
constexpr std::int64_t kMaxScannedTiles = std::int64_t{1} << 26;

class PmtilesReader final : public StoreReader {
public:
    PmtilesArchive archive;

    bool PrepareReads(std::string&) override { return true; }
    bool ReadTile(std::int32_t z, std::int32_t x, std::int32_t y,
                  std::vector<std::uint8_t>& bytes) override {
        // Gzip vector tiles go to the renderer as stored: its vector decoder
        // inflates them, bounded. Other compressed tiles cannot be drawn.
        const PmtilesHeader& h = archive.header();
        if (archive.isVector() && h.tileCompression == kPmtilesCompressionGzip)
            return archive.ReadStoredTile(z, x, y, bytes);
        return archive.ReadTile(z, x, y, bytes);
    }

    // The directories in file order; the tiles of a run share the bytes read
    // once for its first tile. Tiles are visited as stored (compressed).
    bool ScanTiles(const TileScanVisitor& visit, std::string& errorText) override {
        std::vector<std::uint8_t> bytes;
        std::uint64_t bytesAt = 0, bytesLength = 0;
        std::int64_t visited = 0;
        bool tooMany = false;
        ScannedTile tile;
        const bool read = archive.ForEachTile(
            [&](const PmtilesTile& t) {
                if (++visited > kMaxScannedTiles) return !(tooMany = true);
                if (t.offset != bytesAt || t.length != bytesLength || visited == 1) {
                    bytesAt = t.offset;
                    bytesLength = t.length;
                    const bool small = t.length <= static_cast<std::uint64_t>(kMaxScannedTileBytes);
                    if (!small || !archive.ReadBytes(t.offset, t.length, bytes)) bytes.clear();
                }
                tile.z = t.z;
                tile.x = t.x;
                tile.y = t.y;
                tile.data = bytes.empty() ? nullptr : bytes.data();
                tile.size = bytes.size();
                tile.storedSize = static_cast<std::int64_t>(
                    std::min<std::uint64_t>(t.length, std::uint64_t{INT64_MAX}));
                return visit(tile);
            },
            errorText);
        if (tooMany)
            errorText = "the archive addresses more than " + std::to_string(kMaxScannedTiles) +
                        " tiles; the scan stopped there";
        return read || (!tooMany && errorText.empty());
    }
};

// The file name without its last extension, as for every other layout.
std::string DefaultName(const std::string& path) {
    const std::string_view fileName = FileNamePart(path);
    return std::string(fileName.substr(0, fileName.rfind('.')));
}

void TakeFacts(const PmtilesArchive& archive, const std::string& path, StoreFacts& facts) {
    facts.kind = KindPMTiles;
    facts.kindName = "PMTiles";
    facts.xyzRows = true;
    facts.hasTileIndex = true;
    facts.format = archive.format();
    facts.vectorLayers = archive.vectorLayers();
    facts.name = Trim(archive.name()).empty() ? DefaultName(path) : archive.name();
    // Zooms beyond the world's levels are passed over, like metadata's.
    facts.minZoom = archive.minZoomHint();
    facts.maxZoom = archive.maxZoomHint();
    facts.hasBounds = archive.HeaderBounds(facts.west, facts.south, facts.east, facts.north);
    // What the header states, for the store check to hold against the tiles.
    StatedMetadata& stated = facts.stated;
    if (!facts.format.empty()) stated.format = facts.format;
    if (facts.minZoom >= 0) stated.minZoom = facts.minZoom;
    if (facts.maxZoom >= 0) stated.maxZoom = facts.maxZoom;
    stated.boundsGiven = stated.boundsUsable = facts.hasBounds;
    stated.west = facts.west;
    stated.south = facts.south;
    stated.east = facts.east;
    stated.north = facts.north;
    for (std::size_t z = 0; z < facts.extents.size(); ++z) {
        const PmtilesLevel& level = archive.levels()[z];
        if (level.present)
            facts.extents[z] = {level.minX, level.maxX, level.minY, level.maxY, true};
    }
}

class Pmtiles final : public StoreLayout {
public:
    bool Recognise(StoreOpening& opening) const override {
        const std::vector<std::uint8_t>& head = opening.Head();
        return HasPmtilesSignature(head.data(), head.size());
    }

    std::unique_ptr<StoreReader> Open(StoreOpening& opening, StoreFacts& facts,
                                      std::string& errorText) const override {
        auto reader = std::make_unique<PmtilesReader>();
        if (!reader->archive.Open(opening.Path(), errorText)) return nullptr;
        TakeFacts(reader->archive, opening.Path(), facts);
        return reader;
    }
};

}  // namespace

const StoreLayout& PmtilesLayout() {
    static const Pmtiles layout;
    return layout;
}

}  // namespace corvalis
