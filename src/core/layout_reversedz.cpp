// ".sqlitedb" stores: tiles(x, y, z, image) with the zoom stored as 17 less
// the level, unless their `info` table declares another numbering; rows from
// the north unless it says they are inverted.
#include "sqlitedbinfo.h"
#include "sqlitetiles.h"
#include "storeopening.h"

namespace corvalis {

namespace {

constexpr std::int32_t kReversedZBase = 17;

class ReversedZ final : public StoreLayout {
public:
    bool Recognise(StoreOpening& opening) const override {
        const TilesSchema& tiles = opening.Tiles();
        return tiles.image && !tiles.tileData && opening.SqlitedbName() &&
               SqlitedbInfoOf(opening).reversedZ;
    }

    std::unique_ptr<StoreReader> Open(StoreOpening& opening, StoreFacts& facts,
                                      std::string& errorText) const override {
        facts.kind = KindSqliteReversedZ;
        facts.kindName = "SQLite tiles (reversed z)";
        facts.reversedZ = true;
        TileNumbering numbering;
        numbering.reversedZBase = kReversedZBase;
        ApplySqlitedbInfo(SqlitedbInfoOf(opening), facts, numbering);
        return OpenSqliteTiles(opening, facts, {"tiles", "z", "x", "y", "image"}, numbering,
                               errorText);
    }
};

}  // namespace

const StoreLayout& ReversedZLayout() {
    static const ReversedZ layout;
    return layout;
}

}  // namespace corvalis
