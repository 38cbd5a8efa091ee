// The decoded vector tiles of the cells of the map's last compositions, kept
// for hit tests under the pointer.
//
// The renderer arms the keeper for each composition of the map (not the
// overview's) with its grid; the threads that decode hand each cell's tile
// over through Put, under the keeper's lock. Tiles of cells outside the grid
// of the composition begun last are dropped, so that what is kept is the
// block around the view; and past kMaxKeptBytes new tiles are not kept.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "mapviewport.h"
#include "vectortile.h"

namespace corvalis {

class VectorTileKeeper {
public:
    static constexpr std::size_t kMaxKeptBytes = std::size_t{256} << 20;

    // Arms the keeper for a composition of grid; drops the tiles outside it.
    void Begin(const TileGrid& grid);
    // Put is ignored from now until the next Begin.
    void End();
    // From any thread: the tile decoded into cell (row-major in the armed
    // grid); null forgets the cell's tile (it did not decode).
    void Put(std::size_t cell, std::shared_ptr<const VectorTile> tile);
    void Clear();

    std::shared_ptr<const VectorTile> Find(int z, int x, int y) const;
    // Distinct layer names of the kept tiles, in tile order.
    std::vector<std::string> LayerNames() const;
    std::size_t Count() const;

private:
    using Key = std::tuple<int, int, int>;
    struct Entry {
        std::shared_ptr<const VectorTile> tile;
        std::size_t bytes = 0;
    };
    void Erase(const Key& key);

    mutable std::mutex mutex_;
    TileGrid grid_;
    bool armed_ = false;
    std::map<Key, Entry> tiles_;
    std::size_t bytes_ = 0;
};

}  // namespace corvalis
