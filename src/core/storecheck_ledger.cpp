#include "storecheck_ledger.h"

#include <isa-l/crc64.h>

#include <algorithm>
#include <tuple>

namespace corvalis {

namespace {

// The tiles of the levels before z: (4^z - 1) / 3.
std::uint64_t LevelBase(std::int32_t z) {
    return ((std::uint64_t{1} << (2 * z)) - 1) / 3;
}

std::uint64_t Bare(std::uint64_t key) {
    return key & ~TileLedger::kFlagBit;
}

// Entries are numbered by 32 bits; the last number means "none".
constexpr std::size_t kMaxEntries = kNoEntry;

}  // namespace

std::uint64_t TileKey(std::int32_t z, std::int64_t x, std::int64_t y) {
    return LevelBase(z) + (static_cast<std::uint64_t>(x) << z) + static_cast<std::uint64_t>(y);
}

void TileFromKey(std::uint64_t key, std::int32_t& z, std::int64_t& x, std::int64_t& y) {
    key = Bare(key);
    z = 0;
    while (z < kZoomLevels - 1 && LevelBase(z + 1) <= key) ++z;
    const std::uint64_t within = key - LevelBase(z);
    x = static_cast<std::int64_t>(within >> z);
    y = static_cast<std::int64_t>(within & ((std::uint64_t{1} << z) - 1));
}

// CRC-64 (ISA-L's, a few bytes a cycle) mixed with the length: two tiles
// count as candidates for one content only when both agree.
std::uint64_t ContentHash(const std::uint8_t* data, std::size_t size) {
    const std::uint64_t crc = crc64_ecma_refl(0, data, size);
    const std::uint64_t hash = crc ^ (std::uint64_t{size} * 0x9E3779B97F4A7C15u);
    return hash == 0 ? 1 : hash;
}

bool TileLedger::OtherKey::operator<(const OtherKey& o) const {
    return std::tie(z, x, y) < std::tie(o.z, o.x, o.y);
}

void TileLedger::Reserve(std::int64_t tiles) {
    if (tiles > 0)
        entries_.reserve(static_cast<std::size_t>(std::min<std::int64_t>(tiles, kMaxEntries)));
}

std::uint32_t TileLedger::AddInGrid(std::int32_t z, std::int64_t x, std::int64_t y,
                                    std::uint64_t hash) {
    if (entries_.size() >= kMaxEntries) {
        full_ = true;
        return kNoEntry;
    }
    entries_.push_back({TileKey(z, x, y), hash});
    return static_cast<std::uint32_t>(entries_.size() - 1);
}

void TileLedger::AddOther(std::int64_t z, std::int64_t x, std::int64_t y, bool stored) {
    std::vector<OtherKey>& keys = stored ? unplaced_ : outside_;
    if (keys.size() >= kMaxEntries) {
        full_ = true;
        return;
    }
    keys.push_back({z, x, y});
}

void TileLedger::MarkProblem(std::uint32_t entry) {
    if (entry < entries_.size()) entries_[entry].key |= kFlagBit;
}

void TileLedger::FindDuplicateRows(Finding& rows, std::array<std::int64_t, kZoomLevels>& distinct) {
    const auto byKey = [](const Entry& a, const Entry& b) { return Bare(a.key) < Bare(b.key); };
    // Stores written in key order scan in key order: no sort needed then.
    if (!std::is_sorted(entries_.begin(), entries_.end(), byKey))
        std::sort(entries_.begin(), entries_.end(), byKey);
    distinct.fill(0);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries_.size();) {
        std::size_t end = i + 1;
        Entry merged = entries_[i];
        while (end < entries_.size() && Bare(entries_[end].key) == Bare(merged.key))
            merged.key |= entries_[end++].key & kFlagBit;
        if (end - i > 1) {
            merged.key |= kFlagBit;
            TileSample sample;
            sample.order = Bare(merged.key);
            std::int32_t z = 0;
            TileFromKey(merged.key, z, sample.x, sample.y);
            sample.z = z;
            sample.note = std::to_string(end - i) + " rows";
            // The rows after the first may hold other bytes than a read by key
            // finds: none of them takes part in the search for identical contents.
            merged.hash = 0;
            rows.Add(std::move(sample));
            rows.count += static_cast<std::int64_t>(end - i - 2);
        }
        std::int32_t z = 0;
        std::int64_t x = 0, y = 0;
        TileFromKey(merged.key, z, x, y);
        ++distinct[static_cast<std::size_t>(z)];
        entries_[kept++] = merged;
        i = end;
    }
    entries_.resize(kept);
    FindDuplicateKeys(outside_, false, rows);
    FindDuplicateKeys(unplaced_, true, rows);
}

void TileLedger::FindDuplicateKeys(std::vector<OtherKey>& keys, bool stored, Finding& rows) {
    std::sort(keys.begin(), keys.end());
    for (std::size_t i = 0; i < keys.size();) {
        std::size_t end = i + 1;
        while (end < keys.size() && keys[end] == keys[i]) ++end;
        if (end - i > 1) {
            TileSample sample{kFlagBit + i, keys[i].z, keys[i].x,
                              keys[i].y,    stored,    std::to_string(end - i) + " rows"};
            rows.Add(std::move(sample));
            rows.count += static_cast<std::int64_t>(end - i - 2);
        }
        i = end;
    }
    std::vector<OtherKey>().swap(keys);
}

}  // namespace corvalis
