// MBTiles: tiles(zoom_level, tile_column, tile_row, tile_data), rows counted
// from the south (TMS) unless the metadata's "scheme" says otherwise.
#include "sqlitetiles.h"
#include "storeopening.h"

namespace corvalis {

namespace {

class MBTiles final : public StoreLayout {
public:
    bool Recognise(StoreOpening& opening) const override { return opening.Tiles().tileData; }

    std::unique_ptr<StoreReader> Open(StoreOpening& opening, StoreFacts& facts,
                                      std::string& errorText) const override {
        facts.kind = KindMBTiles;
        facts.kindName = "MBTiles";
        TileNumbering numbering;
        numbering.xyzRows = false;
        return OpenSqliteTiles(opening, facts,
                               {"tiles", "zoom_level", "tile_column", "tile_row", "tile_data"},
                               numbering, errorText);
    }
};

}  // namespace

const StoreLayout& MBTilesLayout() {
    static const MBTiles layout;
    return layout;
}

}  // namespace corvalis
