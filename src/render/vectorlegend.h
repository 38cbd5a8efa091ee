// The layers of a vector store as the legend lists them: the names the
// metadata declares, then those met in decoded tiles, each with its colour
// and whether it is hidden.
#pragma once

#include <QColor>

#include <cstddef>
#include <string>
#include <vector>

#include "vectorpainter.h"

namespace corvalis {

struct LegendEntry {
    std::string name;
    QColor colour;
    bool hidden = false;
};

class VectorLegend {
public:
    // A legend holds at most this many layers (as many as a tile may have).
    static constexpr std::size_t kMaxEntries = VectorTileLimits::kMaxLayers;

    // Starts afresh with the declared layers (duplicates and empty names
    // passed over); nothing is hidden.
    void Reset(const std::vector<std::string>& declared);
    // Appends the names not listed yet; true when any was.
    bool Merge(const std::vector<std::string>& names);
    const std::vector<LegendEntry>& Entries() const { return entries; }
    // Hides a shown layer or shows a hidden one; false for an index past the end.
    bool Toggle(std::size_t index);
    // style with the hidden layers of this legend.
    VectorStyle Apply(VectorStyle style) const;

private:
    std::vector<LegendEntry> entries;
};

}  // namespace corvalis
