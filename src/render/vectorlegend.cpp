#include "vectorlegend.h"

#include <algorithm>

namespace corvalis {

void VectorLegend::Reset(const std::vector<std::string>& declared) {
    entries.clear();
    Merge(declared);
}

bool VectorLegend::Merge(const std::vector<std::string>& names) {
    bool added = false;
    for (const std::string& name : names) {
        if (entries.size() >= kMaxEntries) break;
        if (name.empty() || std::any_of(entries.begin(), entries.end(),
                                        [&](const LegendEntry& e) { return e.name == name; }))
            continue;
        entries.push_back({name, LayerColour(name), false});
        added = true;
    }
    return added;
}

bool VectorLegend::Toggle(std::size_t index) {
    if (index >= entries.size()) return false;
    entries[index].hidden = !entries[index].hidden;
    return true;
}

VectorStyle VectorLegend::Apply(VectorStyle style) const {
    style.hiddenLayers.clear();
    for (const LegendEntry& e : entries)
        if (e.hidden) style.hiddenLayers.insert(e.name);
    return style;
}

}  // namespace corvalis
