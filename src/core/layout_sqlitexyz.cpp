// SQLite tiles by x/y/z: tiles(x, y, z, image) with rows from the north, in
// any file not named ".sqlitedb", and in ".sqlitedb" files whose `info` table
// declares the zoom as it stands (and maybe rows from the south).
#include "sqlitedbinfo.h"
#include "sqlitetiles.h"
#include "storeopening.h"
#include "textutil.h"

namespace corvalis {

namespace {

class SqliteXyz final : public StoreLayout {
public:
    bool Recognise(StoreOpening& opening) const override {
        const TilesSchema& tiles = opening.Tiles();
        return tiles.image && !tiles.tileData &&
               (!opening.SqlitedbName() || !SqlitedbInfoOf(opening).reversedZ);
    }

    std::unique_ptr<StoreReader> Open(StoreOpening& opening, StoreFacts& facts,
                                      std::string& errorText) const override {
        facts.kind = KindSqliteXyz;
        facts.kindName = "SQLite tiles (XYZ)";
        // Named as an Orux store, but without a sidecar that places it: its
        // numbers are its own, not the world's.
        facts.geoUnknown = AsciiIEndsWith(FileNamePart(opening.Path()), ".oruxmapsimages.db");
        TileNumbering numbering;
        if (opening.SqlitedbName()) ApplySqlitedbInfo(SqlitedbInfoOf(opening), facts, numbering);
        return OpenSqliteTiles(opening, facts, {"tiles", "z", "x", "y", "image"}, numbering,
                               errorText);
    }
};

}  // namespace

const StoreLayout& SqliteXyzLayout() {
    static const SqliteXyz layout;
    return layout;
}

}  // namespace corvalis
