// The fast way through PNG tiles: non-interlaced pictures of up to 8 bits a
// sample in every colour type. The image data is inflated in one call by
// libdeflate into a buffer of exactly the picture's size, unfiltered and turned
// into RGB rows (transparent pictures composited over white), the same bytes
// libspng writes for the same tile.
//
// What libspng reads before the image data (header, palette, transparency and
// every chunk before the first IDAT) it has read and checked already; this
// path starts from there. It is stricter than libspng about the image data: it
// checks the CRC of every IDAT chunk and the stream's Adler-32, refuses a
// stream that does not end exactly at the end of the picture, and takes no
// tile whose image data is split or followed by a critical chunk other than
// IEND. Whatever it does not take or cannot decode is left to libspng, so the
// tiles that fail and the pixels of those that do not are libspng's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "decode_codecs.h"

struct libdeflate_decompressor;

namespace corvalis::detail {

// Scratch up to this size stays for the next tile (a 1024 x 1024 RGBA tile
// inflates to 4 MB); larger scratch is given back after its tile.
inline constexpr std::size_t kKeptScratch = std::size_t{4} << 20;

// DEFLATE cannot give more than 1032 bytes for a byte of input (a 258-byte
// match in two bits).
inline constexpr std::uint64_t kMaxInflateRatio = 1032;

// A picture as libspng has read it from the chunks before the image data.
struct PngPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t bitDepth = 0;
    std::uint8_t colourType = 0;  // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
    bool interlaced = false;
    // An alpha channel or a tRNS chunk: composited over white.
    bool transparent = false;
    // Palette pictures: straight RGBA of each of the 256 indexes as libspng
    // uses them (black beyond the palette, opaque beyond the tRNS entries).
    std::array<std::uint8_t, 256 * 4> palette{};
    // Grey and RGB pictures with a tRNS chunk: the sample values shown fully
    // transparent, as libspng compares them (grey in full, RGB its low bytes).
    bool colourKey = false;
    std::uint16_t keyGrey = 0;
    std::array<std::uint8_t, 3> keyRgb{};
};

// Heap bytes that are kept for the next tile, unless a large tile made them
// large: then they are given back after that tile.
class ScratchBytes {
public:
    std::uint8_t* Get(std::size_t size);
    void ReleaseIfOver(std::size_t keep);
    std::size_t Capacity() const { return capacity_; }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t capacity_ = 0;
};

class PngFastPath {
public:
    PngFastPath();
    ~PngFastPath();
    PngFastPath(const PngFastPath&) = delete;
    PngFastPath& operator=(const PngFastPath&) = delete;

    // True when this path takes the tile: a picture it decodes, whose image
    // data lies in one run of IDAT chunks with correct CRCs. The bytes are a
    // whole chunk list up to IEND (as PngCodec::Open has checked) and must
    // stay valid until Decode.
    bool Prepare(const std::uint8_t* bytes, std::size_t count, const PngPicture& picture);

    // Writes every row of the picture prepared last. False, with nothing
    // written, when the image data does not inflate to exactly the picture or
    // holds an unknown filter type.
    bool Decode(const PixelRows& rows);

    // Bytes of scratch held between tiles.
    std::size_t ScratchSize() const;

private:
    struct Span {
        const std::uint8_t* data;
        std::size_t size;
    };
    struct DecompressorFree {
        void operator()(libdeflate_decompressor* d) const;
    };

    bool FindImageData(const std::uint8_t* bytes, std::size_t count);
    std::uint8_t* Inflate();
    void BuildLookup();
    void ConvertRow(const std::uint8_t* row, std::uint8_t* rgb);

    std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor_;
    PngPicture picture_;
    std::size_t rowBytes_ = 0;  // bytes of one unfiltered row
    unsigned pixelBytes_ = 1;   // filter distance
    std::vector<Span> data_;    // the IDAT chunks' data, in order
    std::size_t dataSize_ = 0;
    std::array<std::uint8_t, 256 * 3> lookup_{};  // RGB of each grey or palette sample
    ScratchBytes joined_;    // the IDAT data in one piece, when it came in several chunks
    ScratchBytes inflated_;  // filter byte and row, for every row
    ScratchBytes zeros_;     // the row above the first
    ScratchBytes rgba_;      // one row of straight RGBA, for pictures composited from it
};

}  // namespace corvalis::detail
