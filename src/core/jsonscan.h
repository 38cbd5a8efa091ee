// One string member of a JSON object, found without building the document.
//
// Written here because the core links no JSON library (Qt's stays out of it
// and none is among the build's packages) and one top-level string is all the
// archive metadata is read for. The scan is iterative and linear: nesting
// costs a counter, not stack, whatever the input.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvalis {

// The value of the first member named key of the top-level object in json,
// when it is a string (escapes decoded, \u escapes to UTF-8). Nothing when
// json is not an object, the member is missing or not a string, or the text
// before it is malformed.
std::optional<std::string> JsonTopLevelString(std::string_view json, std::string_view key);

// The "id" strings of the objects in the top-level "vector_layers" array of
// json (TileJSON, MBTiles metadata "json", PMTiles metadata), at most limit,
// in order; the scan stops at the first malformed text.
std::vector<std::string> JsonVectorLayerIds(std::string_view json, std::size_t limit);

}  // namespace corvalis
