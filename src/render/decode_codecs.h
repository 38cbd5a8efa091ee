// Codec wrappers behind TileDecoder. Each codec reads a tile in two steps:
// Open checks the header (size limit, completeness) without allocating for the
// picture, then Decode writes RGB rows into any destination with any pitch.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct spng_ctx;
struct spng_ihdr;
struct spng_trns;

namespace corvalis::detail {

// Tiles are untrusted: no picture larger than this on either side is decoded.
inline constexpr std::uint32_t kMaxSide = 8192;

// Scratch buffers larger than this (a 1024 x 1024 RGBA picture) are released
// after the tile that needed them, so one oversized tile does not stay resident.
inline constexpr std::size_t kScratchKeepBytes = std::size_t{4} << 20;

struct ImageSize {
    int width = 0;
    int height = 0;
};

// Writable 24-bit RGB rows: a cell of a frame or a scratch picture.
struct PixelRows {
    std::uint8_t* first = nullptr;  // top-left pixel
    std::ptrdiff_t pitch = 0;       // bytes from one row to the next
    int width = 0;
    int height = 0;

    std::uint8_t* Row(int row) const { return first + row * pitch; }
};

// Fills size and returns true when both sides are within kMaxSide; otherwise
// sets error and returns false.
bool AcceptSize(std::uint64_t width, std::uint64_t height, ImageSize& size, std::string& error);

// Writes one row of straight (not premultiplied) RGBA pixels as RGB composited
// over opaque white.
inline void CompositeOverWhite(const std::uint8_t* rgba, int width, std::uint8_t* rgb) {
    for (int i = 0; i < width; ++i, rgba += 4, rgb += 3) {
        const unsigned alpha = rgba[3];
        const unsigned white = 255u * (255u - alpha) + 127u;
        rgb[0] = static_cast<std::uint8_t>((rgba[0] * alpha + white) / 255u);
        rgb[1] = static_cast<std::uint8_t>((rgba[1] * alpha + white) / 255u);
        rgb[2] = static_cast<std::uint8_t>((rgba[2] * alpha + white) / 255u);
    }
}

// TurboJPEG: one decompressor handle for the codec's life. Open is told the
// cell the picture will be drawn into; a picture at least twice the cell's
// size on both sides reports (and decodes at) a reduced size that still covers it.
class JpegCodec {
public:
    JpegCodec();

    bool Open(const std::uint8_t* bytes, std::size_t count, ImageSize cell, ImageSize& size,
              std::string& error);
    bool Decode(const PixelRows& rows, std::string& error);

private:
    struct HandleDestroy {
        void operator()(void* handle) const;
    };

    std::unique_ptr<void, HandleDestroy> handle;  // tjhandle
    const std::uint8_t* data = nullptr;
    unsigned long dataSize = 0;
    ImageSize size;
    bool cmyk = false;
    std::vector<std::uint8_t> cmykPixels;  // grows up to kScratchKeepBytes
};

class PngFastPath;

// PNG tiles. Non-interlaced pictures of up to 8 bits a sample go through
// PngFastPath; those it does not take or cannot decode, through libspng,
// whose contexts read one image each, so Open makes a fresh one.
class PngCodec {
public:
    // Which decoder wrote the last picture.
    enum class Route { None, Fast, Libspng };

    // With fastPath false every tile goes through libspng alone.
    explicit PngCodec(bool fastPath = true);
    ~PngCodec();
    PngCodec(const PngCodec&) = delete;
    PngCodec& operator=(const PngCodec&) = delete;

    bool Open(const std::uint8_t* bytes, std::size_t count, ImageSize& size, std::string& error);
    bool Decode(const PixelRows& rows, std::string& error);
    Route LastRoute() const { return route; }
    // Bytes of scratch kept for the next tile.
    std::size_t ScratchSize() const;

private:
    struct ContextFree {
        void operator()(spng_ctx* ctx) const;
    };
    bool PrepareFastPath(const std::uint8_t* bytes, std::size_t count, const spng_ihdr& header,
                         const spng_trns* trns);
    bool DecodeOpaque(const PixelRows& rows, std::string& error);
    bool DecodeTransparent(const PixelRows& rows, std::string& error);

    std::unique_ptr<spng_ctx, ContextFree> context;
    std::unique_ptr<PngFastPath> fast;  // null when every tile goes to libspng
    bool fastReady = false;             // the fast path took the tile opened last
    Route route = Route::None;
    ImageSize size;
    bool transparent = false;
    std::vector<std::uint8_t> rgbaPixels;  // kept unless a large tile made it large
    std::vector<std::uint8_t> stripped;    // copy of a tile without compressed extras, likewise
};

// Every other format, through Qt's image readers and format plugins. Like
// JpegCodec, Open is told the cell: a picture that announces at least twice
// the cell's size is read scaled to the cell.
class GenericCodec {
public:
    bool Open(const std::uint8_t* bytes, std::size_t count, ImageSize cell, ImageSize& size,
              std::string& error);
    bool Decode(const PixelRows& rows, std::string& error);

private:
    QImage picture;
};

}  // namespace corvalis::detail
