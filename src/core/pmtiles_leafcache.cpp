#include "pmtiles_leafcache.h"

namespace corvalis {

const PmtilesDirectory* PmtilesLeafCache::Find(const Key& key) {
    const auto it = index_.find(key);
    if (it == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, it->second);
    return &it->second->second;
}

const PmtilesDirectory* PmtilesLeafCache::Insert(const Key& key, PmtilesDirectory&& dir) {
    const std::size_t bytes = dir.memoryBytes();
    if (bytes > budget_) return nullptr;
    if (const auto it = index_.find(key); it != index_.end()) {
        used_ -= it->second->second.memoryBytes();
        order_.erase(it->second);
        index_.erase(it);
    }
    while (!order_.empty() && used_ + bytes > budget_) {
        used_ -= order_.back().second.memoryBytes();
        index_.erase(order_.back().first);
        order_.pop_back();
    }
    order_.emplace_front(key, std::move(dir));
    index_[key] = order_.begin();
    used_ += bytes;
    return &order_.front().second;
}

void PmtilesLeafCache::Clear() {
    order_.clear();
    index_.clear();
    used_ = 0;
}

}  // namespace corvalis
