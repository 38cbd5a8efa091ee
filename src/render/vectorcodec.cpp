#include "vectorcodec.h"

#include <new>

#include "inflate.h"

namespace corvalis {

bool VectorCodec::Decode(const std::uint8_t* bytes, std::size_t count, VectorTile& tile,
                         std::string& error) {
    tile.layers.clear();
    if (bytes == nullptr || count == 0) {
        error = "empty tile";
        return false;
    }
    if (!LooksCompressed(bytes, count)) return DecodeVectorTile(bytes, count, tile, error);
    try {
        if (!InflateGzipOrZlib(bytes, count, kMaxInflatedTile, inflated, error)) return false;
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    }
    const bool ok = DecodeVectorTile(inflated.data(), inflated.size(), tile, error);
    // A bomb's worth of scratch is not kept for the next tile.
    if (inflated.capacity() > (std::size_t{4} << 20)) std::vector<std::uint8_t>().swap(inflated);
    return ok;
}

bool VectorCodec::Draw(QImage& target, const QRect& cell, const std::uint8_t* bytes,
                       std::size_t count, const VectorStyle& style, std::string& error,
                       VectorTile* keep) {
    VectorTile& tile = keep != nullptr ? *keep : scratch;
    if (!Decode(bytes, count, tile, error)) return false;
    try {
        if (DrawVectorTile(target, cell, tile, style)) return true;
        error = "cannot draw into the frame";
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    }
    tile.layers.clear();
    return false;
}

bool DrawVectorTileBytes(QImage& target, const QRect& cell, const std::uint8_t* bytes,
                         std::size_t count, const VectorStyle& style, std::string& error,
                         VectorTile* keep) {
    VectorCodec codec;
    return codec.Draw(target, cell, bytes, count, style, error, keep);
}

bool LooksLikeVectorTile(const std::uint8_t* bytes, std::size_t count) {
    if (!LooksCompressed(bytes, count)) return false;
    VectorCodec codec;
    VectorTile tile;
    std::string error;
    return codec.Decode(bytes, count, tile, error) && !tile.layers.empty();
}

}  // namespace corvalis
