// Identical contents: candidates by hash, confirmed byte for byte.
//
// After FindDuplicateRows every entry is one (z, x, y). The entries whose
// hash occurs more than once are kept, each with the number of its group in
// place of the hash. When they are few, each group is confirmed with reads by
// key: its first tile is read once and every other one compared with it. When
// they are many, a second scan meets them in storage order: the first tile of
// each group is held (up to kHeldBytesLimit bytes in all, let go once the
// group's last tile has passed) and the later ones compared with it; groups
// whose first tile did not fit are confirmed by key afterwards.
#include <algorithm>
#include <unordered_map>

#include "storecheck_ledger.h"
#include "tilesource.h"

namespace corvalis {

namespace {

constexpr std::size_t kHeldBytesLimit = std::size_t{64} << 20;
// A read by key costs about as much as this many tiles of a scan.
constexpr std::int64_t kKeyedReadCost = 16;
constexpr const char* kPhase = "confirming identical tiles";

using Entry = TileLedger::Entry;

bool Stopped(const CheckOptions& options) {
    return options.stop && options.stop();
}

bool SameBytes(const std::vector<std::uint8_t>& a, const std::uint8_t* b, std::size_t n) {
    return a.size() == n && std::equal(a.begin(), a.end(), b);
}

void CountCopy(DuplicateContents& result, std::size_t bytes, bool& groupCounted) {
    ++result.tiles;
    result.bytes += static_cast<std::int64_t>(bytes);
    if (!groupCounted) ++result.groups;
    groupCounted = true;
}

bool ReadByKey(TileDatabase& store, std::uint64_t key, std::vector<std::uint8_t>& bytes) {
    std::int32_t z = 0;
    std::int64_t x = 0, y = 0;
    TileFromKey(key, z, x, y);
    return store.ReadTile(z, static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), bytes);
}

// Entries sorted by group, then key: the first readable tile of each group
// is compared with every later one.
void ConfirmByKey(TileDatabase& store, const std::vector<Entry>& entries,
                  const CheckOptions& options, DuplicateContents& result) {
    std::vector<std::uint8_t> first, other;
    const TileDatabase::ReadBatch batch(store);
    for (std::size_t i = 0; i < entries.size();) {
        std::size_t end = i;
        while (end < entries.size() && entries[end].hash == entries[i].hash) ++end;
        bool haveFirst = false, groupCounted = false;
        for (std::size_t k = i; k < end; ++k) {
            if (!haveFirst) {
                haveFirst = ReadByKey(store, entries[k].key, first);
            } else if (ReadByKey(store, entries[k].key, other) &&
                       SameBytes(first, other.data(), other.size())) {
                CountCopy(result, other.size(), groupCounted);
            }
            if ((k & 1023) == 0) {
                if (Stopped(options)) {
                    result.confirmed = false;
                    return;
                }
                if (options.progress)
                    options.progress({kPhase, static_cast<std::int64_t>(k),
                                      static_cast<std::int64_t>(entries.size())});
            }
        }
        i = end;
    }
}

// A function object, so that std::sort inlines it.
struct ByGroupThenKey {
    bool operator()(const Entry& a, const Entry& b) const {
        return a.hash != b.hash ? a.hash < b.hash : a.key < b.key;
    }
};

}  // namespace

// Keeps the entries of hashes that occur more than once, numbering their
// groups in the hash field; returns the number of groups.
std::size_t TileLedger::GroupByHash(DuplicateContents& result) {
    std::erase_if(entries_, [](const Entry& e) { return e.hash == 0; });
    std::sort(entries_.begin(), entries_.end(), ByGroupThenKey{});
    std::size_t kept = 0, groups = 0;
    for (std::size_t i = 0; i < entries_.size();) {
        std::size_t end = i + 1;
        while (end < entries_.size() && entries_[end].hash == entries_[i].hash) ++end;
        if (end - i > 1) {
            for (std::size_t k = i; k < end; ++k)
                entries_[kept++] = {entries_[k].key & ~kFlagBit, groups};
            ++groups;
        }
        i = end;
    }
    entries_.resize(kept);
    result.candidates = static_cast<std::int64_t>(kept - groups);
    return groups;
}

DuplicateContents TileLedger::FindDuplicateContents(TileDatabase& store, std::int64_t scannedTiles,
                                                    const CheckOptions& options) {
    DuplicateContents result;
    const std::size_t groups = GroupByHash(result);
    if (groups > 0 && Stopped(options)) {
        result.confirmed = false;
    } else if (groups > 0) {
        const auto members = static_cast<std::int64_t>(entries_.size());
        if (members * kKeyedReadCost <= scannedTiles)
            ConfirmByKey(store, entries_, options, result);
        else
            ConfirmByScan(store, groups, options, result);
    }
    std::vector<Entry>().swap(entries_);
    return result;
}

void TileLedger::ConfirmByScan(TileDatabase& store, std::size_t groups, const CheckOptions& options,
                               DuplicateContents& result) {
    enum : std::uint8_t { kUnseen, kHeld, kDeferred, kCounted = 4 };
    std::vector<std::uint32_t> remaining(groups, 0);
    for (const Entry& e : entries_) ++remaining[e.hash];
    std::vector<std::uint8_t> state(groups, kUnseen);
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> held;
    std::size_t heldBytes = 0;
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return a.key < b.key; });
    std::int64_t seen = 0;
    const auto visit = [&](const ScannedTile& tile) {
        if ((++seen & 1023) == 0) {
            if (Stopped(options)) return false;
            if (options.progress)
                options.progress({kPhase, seen, options.expectedTiles.value_or(0)});
        }
        if (tile.placement != TilePlacement::InGrid || tile.data == nullptr) return true;
        const std::uint64_t key = TileKey(static_cast<std::int32_t>(tile.z), tile.x, tile.y);
        // The flag marks an entry met already; the order is by the bare key.
        const auto it = std::lower_bound(
            entries_.begin(), entries_.end(), key,
            [](const Entry& e, std::uint64_t k) { return (e.key & ~kFlagBit) < k; });
        if (it == entries_.end() || it->key != key) return true;  // not a candidate, or met already
        it->key |= kFlagBit;
        const std::uint64_t group = it->hash;
        std::uint8_t& s = state[group];
        if ((s & 3) == kUnseen) {
            const bool fits = heldBytes + tile.size <= kHeldBytesLimit;
            s = static_cast<std::uint8_t>((s & kCounted) | (fits ? kHeld : kDeferred));
            if (fits) held[group].assign(tile.data, tile.data + tile.size);
            heldBytes += fits ? tile.size : 0;
        } else if ((s & 3) == kHeld && SameBytes(held[group], tile.data, tile.size)) {
            bool counted = (s & kCounted) != 0;
            CountCopy(result, tile.size, counted);
            s |= kCounted;
        }
        if (--remaining[group] == 0 && (s & 3) == kHeld) {
            heldBytes -= held[group].size();
            held.erase(group);
        }
        return true;
    };
    std::string error;
    store.ScanTiles(visit, error);
    if (Stopped(options)) {
        result.confirmed = false;
        return;
    }
    std::erase_if(entries_, [&](const Entry& e) { return (state[e.hash] & 3) != kDeferred; });
    std::sort(entries_.begin(), entries_.end(), ByGroupThenKey{});
    ConfirmByKey(store, entries_, options, result);
}

}  // namespace corvalis
