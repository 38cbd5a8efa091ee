// Vector tiles from the bytes a store holds: inflated when gzip or zlib,
// decoded, and drawn into a cell of a frame.
#pragma once

#include <QImage>
#include <QRect>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vectorpainter.h"
#include "vectortile.h"

namespace corvalis {

// One per decoding thread: it keeps the inflated bytes and the decoded model
// of the last tile for reuse. Not thread-safe.
class VectorCodec {
public:
    // Inflates bytes when they look like gzip or zlib (bounded by
    // kMaxInflatedTile), then decodes the MVT message into tile.
    bool Decode(const std::uint8_t* bytes, std::size_t count, VectorTile& tile, std::string& error);

    // Decodes and draws over the whole cell of target (Format_RGB888). On
    // false nothing has been drawn and error says why. With keep, the decoded
    // tile is left there (for hit tests); it is emptied on failure.
    bool Draw(QImage& target, const QRect& cell, const std::uint8_t* bytes, std::size_t count,
              const VectorStyle& style, std::string& error, VectorTile* keep = nullptr);

private:
    std::vector<std::uint8_t> inflated;  // capacity reused
    VectorTile scratch;
};

// A VectorCodec's Draw with a codec of its own.
bool DrawVectorTileBytes(QImage& target, const QRect& cell, const std::uint8_t* bytes,
                         std::size_t count, const VectorStyle& style, std::string& error,
                         VectorTile* keep = nullptr);

// Whether the bytes are a gzip or zlib stream that inflates to a valid MVT
// message with at least one layer: how a tile of a store of unknown format is
// recognised as vector.
bool LooksLikeVectorTile(const std::uint8_t* bytes, std::size_t count);

}  // namespace corvalis
