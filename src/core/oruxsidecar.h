// The ".omm" sidecar that places an Orux local grid on the world grid.
#pragma once

#include <string>

#include "tilenumbering.h"

namespace corvalis {

// Path of the sidecar beside an Orux store.
std::string OruxSidecarPath(const std::string& storePath);

// Reads the sidecar's per-level offsets (section XY, MinX_z and MinY_z) into
// the levels of numbering; true when at least one level has a usable pair.
bool LoadOruxSidecar(const std::string& storePath, TileNumbering& numbering);

}  // namespace corvalis
