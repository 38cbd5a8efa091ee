#include "storeopening.h"

#include <algorithm>
#include <fstream>

#include "textutil.h"

namespace corvalis {

bool StoreOpening::SqlitedbName() const {
    return AsciiLower(ExtensionPart(path_)) == ".sqlitedb";
}

SqliteStore* StoreOpening::Sqlite() {
    if (!sqliteTried_) {
        sqliteTried_ = true;
        sqlite_ = std::make_unique<SqliteStore>();
        if (!sqlite_->Open(path_, openError_)) sqlite_.reset();
    }
    return sqlite_.get();
}

const TilesSchema& StoreOpening::Tiles() {
    if (tiles_) return *tiles_;
    tiles_.emplace();
    SqliteStore* store = Sqlite();
    if (store == nullptr) return *tiles_;
    // A view named tiles is accepted like a table: common MBTiles writers keep
    // their tiles in a view over deduplicated image tables.
    if (auto st = PrepareStatement(store->db(),
                                   "select count(*) from sqlite_master where type in "
                                   "('table','view') and name='tiles';")) {
        if (sqlite3_step(st.get()) == SQLITE_ROW)
            tiles_->table = sqlite3_column_int(st.get(), 0) > 0;
    }
    if (!tiles_->table) return *tiles_;
    if (auto st = PrepareStatement(store->db(), "PRAGMA table_info(tiles);")) {
        while (sqlite3_step(st.get()) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1));
            const std::string_view column =
                text ? std::string_view(text,
                                        static_cast<std::size_t>(sqlite3_column_bytes(st.get(), 1)))
                     : std::string_view();
            if (AsciiIEquals(column, "tile_data")) tiles_->tileData = true;
            if (AsciiIEquals(column, "image")) tiles_->image = true;
        }
    }
    return *tiles_;
}

const std::vector<std::uint8_t>& StoreOpening::Head() {
    if (head_) return *head_;
    head_.emplace(16);
    std::ifstream in(path_, std::ios::binary);
    in.read(reinterpret_cast<char*>(head_->data()), static_cast<std::streamsize>(head_->size()));
    head_->resize(in ? head_->size()
                     : static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
    return *head_;
}

std::string StoreOpening::UnrecognisedReason() {
    if (OpenFailed()) return openError_;
    return Tiles().table ? "'tiles' table has neither 'tile_data' nor 'image' column."
                         : "this file has no 'tiles' table.";
}

}  // namespace corvalis
