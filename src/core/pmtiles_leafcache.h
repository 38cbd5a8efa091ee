// The most recently used leaf directories of an archive, within a memory
// budget. A directory larger than the whole budget is not kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <utility>

#include "pmtiles_directory.h"

namespace corvalis {

class PmtilesLeafCache {
public:
    // Where a leaf directory's bytes lie in the file.
    struct Key {
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
        bool operator==(const Key&) const = default;
    };

    explicit PmtilesLeafCache(std::size_t budgetBytes) : budget_(budgetBytes) {}

    // The directory read from key, made the most recent; null when absent.
    const PmtilesDirectory* Find(const Key& key);
    // Keeps dir (moved from) for key, dropping the least recent ones beyond
    // the budget, and returns the kept copy; null, with dir left as it was,
    // when dir alone exceeds the budget.
    const PmtilesDirectory* Insert(const Key& key, PmtilesDirectory&& dir);
    void Clear();
    std::size_t memoryBytes() const { return used_; }

private:
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept {
            return static_cast<std::size_t>(k.offset * 0x9E3779B97F4A7C15ULL ^ k.length);
        }
    };
    using Item = std::pair<Key, PmtilesDirectory>;
    std::list<Item> order_;  // most recent first
    std::unordered_map<Key, std::list<Item>::iterator, KeyHash> index_;
    std::size_t budget_;
    std::size_t used_ = 0;
};

}  // namespace corvalis
