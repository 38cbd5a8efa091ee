#include "vectorkeeper.h"

#include <set>

namespace corvalis {

void VectorTileKeeper::Begin(const TileGrid& grid) {
    std::lock_guard lock(mutex_);
    grid_ = grid;
    armed_ = !grid.IsEmpty();
    for (auto it = tiles_.begin(); it != tiles_.end();) {
        const auto [z, x, y] = it->first;
        const bool inside =
            z == grid.zoom && x >= grid.minX && x <= grid.maxX && y >= grid.minY && y <= grid.maxY;
        if (inside) {
            ++it;
            continue;
        }
        bytes_ -= it->second.bytes;
        it = tiles_.erase(it);
    }
}

void VectorTileKeeper::End() {
    std::lock_guard lock(mutex_);
    armed_ = false;
}

void VectorTileKeeper::Erase(const Key& key) {
    const auto it = tiles_.find(key);
    if (it == tiles_.end()) return;
    bytes_ -= it->second.bytes;
    tiles_.erase(it);
}

void VectorTileKeeper::Put(std::size_t cell, std::shared_ptr<const VectorTile> tile) {
    const std::size_t bytes = tile ? tile->MemoryBytes() : 0;
    std::lock_guard lock(mutex_);
    if (!armed_) return;
    const auto columns = static_cast<std::size_t>(grid_.maxX - grid_.minX + 1);
    const auto rows = static_cast<std::size_t>(grid_.maxY - grid_.minY + 1);
    if (cell >= columns * rows) return;
    const Key key{grid_.zoom, grid_.minX + static_cast<int>(cell % columns),
                  grid_.minY + static_cast<int>(cell / columns)};
    Erase(key);
    if (!tile || bytes > kMaxKeptBytes - bytes_) return;
    bytes_ += bytes;
    tiles_[key] = Entry{std::move(tile), bytes};
}

void VectorTileKeeper::Clear() {
    std::lock_guard lock(mutex_);
    tiles_.clear();
    bytes_ = 0;
}

std::shared_ptr<const VectorTile> VectorTileKeeper::Find(int z, int x, int y) const {
    std::lock_guard lock(mutex_);
    const auto it = tiles_.find(Key{z, x, y});
    return it == tiles_.end() ? nullptr : it->second.tile;
}

std::vector<std::string> VectorTileKeeper::LayerNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    std::set<std::string, std::less<>> seen;
    for (const auto& [key, entry] : tiles_)
        for (const VectorLayer& layer : entry.tile->layers)
            if (seen.insert(layer.name).second) names.push_back(layer.name);
    return names;
}

std::size_t VectorTileKeeper::Count() const {
    std::lock_guard lock(mutex_);
    return tiles_.size();
}

}  // namespace corvalis
