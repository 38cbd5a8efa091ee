// Turns one tile's stored bytes into pixels inside a rectangle of a 24-bit frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class QImage;
class QRect;

namespace corvalis {

struct VectorStyle;
struct VectorTile;

// PNG and JPEG are recognised by their leading bytes and read by libspng and
// TurboJPEG; anything else goes to Qt's image readers. Tile bytes are untrusted:
// pictures over 8192 pixels on a side, truncated files and JPEG streams whose
// scans would cost more than 2^27 pixel-scans are refused before anything is
// drawn. A picture at least twice the cell's size on both sides is decoded at
// a reduced scale where the codec can (JPEG at 1/2, 1/4 or 1/8). Scratch
// memory an oversized tile needed is released after it. Tiles of a vector
// store, and any tile that starts like a gzip or zlib stream, are vector
// tiles (vectorcodec.h) drawn over the whole cell in the style given. One
// decoder serves every tile; it is not thread-safe.
class TileDecoder {
public:
    TileDecoder();
    ~TileDecoder();
    TileDecoder(const TileDecoder&) = delete;
    TileDecoder& operator=(const TileDecoder&) = delete;

    // Draws the image held in bytes into the rectangle (x, y, width, height) of
    // target, which must be QImage::Format_RGB888 (any row pitch). A picture of
    // the rectangle's size is decoded straight into the target's rows; any other
    // size is stretched smoothly. Transparent pictures are composited over
    // white. True when decoded and drawn; on false LastError tells why (it stays
    // empty for a null target, null bytes or count < 1).
    bool DrawTile(QImage* target, int x, int y, int width, int height, const std::uint8_t* bytes,
                  std::int64_t count);
    const std::string& LastError() const { return lastError; }

    // How vector tiles are drawn (null: the default style), and whether every
    // tile is one (raw MVT has no signature). Set between tiles only.
    void SetVectorStyle(std::shared_ptr<const VectorStyle> style, bool vectorStore);
    bool VectorStore() const;
    // The tile the last DrawTile decoded, when it drew a vector tile; null
    // otherwise, and after it was taken.
    std::shared_ptr<const VectorTile> TakeVectorTile();

private:
    struct Codecs;
    bool DrawVector(QImage& target, const QRect& cell, const std::uint8_t* bytes,
                    std::size_t count);
    bool Draw(QImage& target, int x, int y, int width, int height, const std::uint8_t* bytes,
              std::size_t count);

    std::unique_ptr<Codecs> codecs;
    std::string lastError;
};

}  // namespace corvalis
