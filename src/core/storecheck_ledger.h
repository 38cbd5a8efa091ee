// What the store check keeps of every tile after its bytes are gone, and what
// it finds from that once the scan is over: duplicate rows, the distinct
// tiles of each level, the coverage picture and identical contents.
//
// A tile within the world grid costs 16 bytes: its key (level, column and
// row in one number, plus a flag) and the hash of its content. A tile outside
// the grid costs 24: its three numbers.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "storecheck.h"

namespace corvalis {

inline constexpr std::uint32_t kNoEntry = UINT32_MAX;

// Key of world tile (z, x, y) within the grid: the tiles of the levels
// before z, then column by column. Below 2^63 for every level 0..31.
std::uint64_t TileKey(std::int32_t z, std::int64_t x, std::int64_t y);
void TileFromKey(std::uint64_t key, std::int32_t& z, std::int64_t& x, std::int64_t& y);

// The hash of a tile's content with its length; never 0 (0 marks "no content").
std::uint64_t ContentHash(const std::uint8_t* data, std::size_t size);

class TileLedger {
public:
    struct Entry {
        std::uint64_t key;   // TileKey, kFlagBit when the tile has a problem
        std::uint64_t hash;  // ContentHash; 0 for no content
    };
    static constexpr std::uint64_t kFlagBit = std::uint64_t{1} << 63;

    void Reserve(std::int64_t tiles);
    // The tile's entry number, or kNoEntry when the ledger is full.
    std::uint32_t AddInGrid(std::int32_t z, std::int64_t x, std::int64_t y, std::uint64_t hash);
    void AddOther(std::int64_t z, std::int64_t x, std::int64_t y, bool stored);
    void MarkProblem(std::uint32_t entry);
    bool Full() const { return full_; }

    // Sorts by key; counts the rows beyond the first of each (z, x, y) into
    // rows, flags them as problems and drops their content from the search
    // for identical contents; sets distinct[z] to the distinct tiles of z.
    void FindDuplicateRows(Finding& rows, std::array<std::int64_t, kZoomLevels>& distinct);
    // Valid between FindDuplicateRows and FindDuplicateContents.
    const std::vector<Entry>& SortedEntries() const { return entries_; }

    // Groups the contents by hash and confirms each group byte for byte with
    // a second scan of the store, or with reads by key when the groups hold
    // few of its scannedTiles. Uses the entries up.
    DuplicateContents FindDuplicateContents(TileDatabase& store, std::int64_t scannedTiles,
                                            const CheckOptions& options);

private:
    struct OtherKey {
        std::int64_t z, x, y;
        bool operator<(const OtherKey& o) const;
        bool operator==(const OtherKey& o) const { return z == o.z && x == o.x && y == o.y; }
    };

    std::size_t GroupByHash(DuplicateContents& result);
    void ConfirmByScan(TileDatabase& store, std::size_t groups, const CheckOptions& options,
                       DuplicateContents& result);
    static void FindDuplicateKeys(std::vector<OtherKey>& keys, bool stored, Finding& rows);

    std::vector<Entry> entries_;
    std::vector<OtherKey> outside_;   // world numbers outside the grid
    std::vector<OtherKey> unplaced_;  // stored numbers
    bool full_ = false;
};

}  // namespace corvalis
