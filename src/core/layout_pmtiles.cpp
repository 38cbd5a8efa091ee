// PMTiles v3 archives: one file of a header, directories of Hilbert tile ids
// and the tiles, read with positional reads (pmtiles_archive.h).
#include "pmtiles_archive.h"
#include "pmtiles_header.h"
#include "storeopening.h"
#include "storereader.h"
#include "textutil.h"

namespace corvalis {

namespace {

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
