// The command streams of MVT geometries, checked and turned into parts of a layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "vectortile.h"

namespace corvalis::detail {

// Appends the parts and vertices of one feature's geometry to layer and sets
// the feature's part range. Spends vertices from verticesLeft. False with a
// reason in error when the stream breaks the rules of its type or the budget.
bool DecodeGeometry(std::span<const std::uint32_t> commands, VectorLayer& layer,
                    VectorFeature& feature, std::size_t& verticesLeft, std::string& error);

}  // namespace corvalis::detail
