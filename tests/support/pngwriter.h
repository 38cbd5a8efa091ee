// PNG files written by libpng in any colour type, bit depth, filter and
// transparency, and chunk surgery on them, for the PNG decoder tests, the
// fuzz seeds and the benchmarks.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace testsupport {

using PngBytes = std::vector<std::uint8_t>;

struct PngRecipe {
    int width = 16;
    int height = 16;
    int colourType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    int filters =
        PNG_ALL_FILTERS;  // PNG_FILTER_NONE ... PNG_FILTER_PAETH, or several to choose from
    std::vector<png_color> palette;
    std::vector<std::uint8_t> paletteAlpha;  // tRNS of a palette picture
    std::optional<png_color_16> key;         // tRNS of a grey or RGB picture
    std::size_t idatSize = 8192;             // largest IDAT chunk
};

inline std::size_t PngRowBytes(const PngRecipe& r) {
    const int channels = r.colourType == PNG_COLOR_TYPE_RGB          ? 3
                         : r.colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                         : r.colourType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                                                                     : 1;
    return (static_cast<std::size_t>(r.width) * channels * r.bitDepth + 7) / 8;
}

// Samples for a recipe: smooth ramps with noise, so that every filter has work.
inline PngBytes PngSamples(const PngRecipe& r, unsigned seed = 1) {
    std::mt19937 rng(seed);
    const std::size_t rowBytes = PngRowBytes(r);
    PngBytes samples(rowBytes * static_cast<std::size_t>(r.height));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::size_t x = i % rowBytes, y = i / rowBytes;
        samples[i] = static_cast<std::uint8_t>(x * 3 + y * 5 + rng() % 24);
    }
    return samples;
}

namespace pngdetail {
inline void Append(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<PngBytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
}  // namespace pngdetail

// The PNG of samples (PngRowBytes bytes a row, 16-bit samples big-endian);
// empty when libpng refuses. Nothing with a destructor is made after setjmp.
inline PngBytes WritePng(const PngRecipe& r, const PngBytes& samples) {
    PngBytes out;
    std::vector<png_bytep> rows;
    for (int y = 0; y < r.height; ++y)
        rows.push_back(const_cast<png_bytep>(samples.data()) + y * PngRowBytes(r));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, pngdetail::Append, nullptr);
    png_set_compression_buffer_size(png, r.idatSize);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, r.filters);
    png_set_IHDR(png, info, static_cast<png_uint_32>(r.width), static_cast<png_uint_32>(r.height),
                 r.bitDepth, r.colourType, r.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!r.palette.empty())
        png_set_PLTE(png, info, r.palette.data(), static_cast<int>(r.palette.size()));
    if (!r.paletteAlpha.empty())
        png_set_tRNS(png, info, r.paletteAlpha.data(), static_cast<int>(r.paletteAlpha.size()),
                     nullptr);
    png_color_16 key = r.key.value_or(png_color_16{});
    if (r.key) png_set_tRNS(png, info, nullptr, 0, &key);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

inline std::uint32_t PngCrc(const std::uint8_t* p, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline void PutBig32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

inline std::uint32_t GetBig32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// A chunk: length, type, data, CRC.
inline PngBytes PngChunk(const std::string& type, const PngBytes& data) {
    PngBytes chunk(12 + data.size());
    PutBig32(chunk.data(), static_cast<std::uint32_t>(data.size()));
    std::memcpy(chunk.data() + 4, type.data(), 4);
    if (!data.empty()) std::memcpy(chunk.data() + 8, data.data(), data.size());
    PutBig32(chunk.data() + 8 + data.size(), PngCrc(chunk.data() + 4, 4 + data.size()));
    return chunk;
}

struct PngChunkAt {
    std::size_t offset;  // of the length field
    std::uint32_t length;
    std::string type;
};

// The chunks of a whole PNG, in order (stops at the first that does not fit).
inline std::vector<PngChunkAt> PngChunks(const PngBytes& png) {
    std::vector<PngChunkAt> chunks;
    for (std::size_t pos = 8; pos + 12 <= png.size();) {
        const std::uint32_t length = GetBig32(png.data() + pos);
        if (length > png.size() - pos - 12) break;
        chunks.push_back({pos, length, std::string(png.begin() + pos + 4, png.begin() + pos + 8)});
        pos += 12 + std::size_t{length};
    }
    return chunks;
}

// A PNG with the picture's IDAT chunks replaced by chunks, then IEND.
inline PngBytes WithImageChunks(const PngBytes& png, const std::vector<PngBytes>& chunks) {
    PngBytes out(png.begin(), png.begin() + 8);
    bool placed = false;
    for (const PngChunkAt& c : PngChunks(png)) {
        if (c.type == "IDAT" || c.type == "IEND") {
            if (!placed)
                for (const PngBytes& chunk : chunks)
                    out.insert(out.end(), chunk.begin(), chunk.end());
            placed = true;
            if (c.type == "IDAT") continue;
        }
        out.insert(out.end(), png.begin() + c.offset, png.begin() + c.offset + 12 + c.length);
    }
    return out;
}

// The picture's zlib stream: every IDAT chunk's data together.
inline PngBytes PngImageData(const PngBytes& png) {
    PngBytes data;
    for (const PngChunkAt& c : PngChunks(png))
        if (c.type == "IDAT")
            data.insert(data.end(), png.begin() + c.offset + 8,
                        png.begin() + c.offset + 8 + c.length);
    return data;
}

}  // namespace testsupport
