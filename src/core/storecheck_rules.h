// The store check's judgements: which tile formats the metadata's format
// allows and which are pictures, and where the metadata disagrees with the tiles.
#pragma once

#include <optional>
#include <string>

#include "storecheck.h"

namespace corvalis {

class FormatRules {
public:
    // statedFormat: the metadata's format name, if it gives one.
    explicit FormatRules(const std::optional<std::string>& statedFormat);

    // Whether a tile of this format agrees with the metadata (always, when
    // it names no format; never, when it names one that is no tile format).
    bool Matches(CheckFormat format) const { return (allowed_ & Bit(format)) != 0; }
    // Whether the tile is a picture to decode and measure: vector tiles are
    // not, nor tiles of unknown bytes in a store whose metadata says vector.
    bool Raster(CheckFormat format) const;

private:
    static unsigned Bit(CheckFormat format) { return 1u << static_cast<unsigned>(format); }

    unsigned allowed_ = ~0u;
    bool vector_ = false;
};

// Adds to report.metadata each way the metadata disagrees with the tiles:
// minzoom and maxzoom against the levels that hold tiles within the grid,
// bounds further than half a tile from the tiles' extent at the deepest
// level (or unreadable), a format no tile has.
void CheckMetadata(const StatedMetadata& stated, CheckReport& report);

}  // namespace corvalis
