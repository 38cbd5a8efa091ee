// A full scan of a store: every stored tile once, in the order the file holds
// them, with its address and bytes. Readers of every kind offer one
// (StoreReader::ScanTiles); the store check is built on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace corvalis {

// Where a scanned tile lies on the world grid.
enum class TilePlacement : std::uint8_t {
    InGrid,       // world level z (0..31), x and y within 0..2^z-1
    OutsideGrid,  // world level z, but x or y outside 0..2^z-1
    Unplaced,     // the stored numbers name no world level (or are not integers)
};

// One stored tile as the scan meets it. Valid during the visit only.
struct ScannedTile {
    TilePlacement placement = TilePlacement::InGrid;
    // World numbers (rows from the north) when placed, possibly outside the
    // grid; for Unplaced tiles the numbers as the file stores them.
    std::int64_t z = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
    // The tile's bytes; null with size 0 when the tile has none, or when it is
    // larger than kMaxScannedTileBytes and was not read (storedSize tells).
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::int64_t storedSize = 0;  // the tile's size in the file
};

// Tiles larger than this are not read by a scan: no decoder accepts them.
// (A tile stored as text is measured in characters: up to 4 times as many bytes.)
inline constexpr std::int64_t kMaxScannedTileBytes = std::int64_t{64} << 20;

// Called for each tile in storage order; returning false ends the scan early.
using TileScanVisitor = std::function<bool(const ScannedTile&)>;

// Asked now and then during long operations; true ends them early.
using StopRequested = std::function<bool()>;

}  // namespace corvalis
