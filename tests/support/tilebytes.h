// Leading bytes of tiles in the formats a store names, enough for the header
// probe and the format sniffing (no decoder accepts them).
#pragma once

#include <cstdint>
#include <vector>

#include "storewriter.h"

namespace testsupport {

// A JPEG start with a baseline frame header of the given size.
inline Bytes JpegHeader(std::uint16_t w, std::uint16_t h) {
    Bytes b = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08};
    for (std::uint16_t v : {h, w}) {
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        b.push_back(static_cast<std::uint8_t>(v));
    }
    b.resize(24, 0);
    return b;
}

// A lossless WebP start of the given size.
inline Bytes WebpHeader(std::uint32_t w, std::uint32_t h) {
    Bytes b = {'R', 'I', 'F', 'F', 0,   0, 0, 0, 'W', 'E', 'B',
               'P', 'V', 'P', '8', 'L', 0, 0, 0, 0,   0x2F};
    const std::uint32_t v = (w - 1) | ((h - 1) << 14);
    for (int s = 0; s < 32; s += 8) b.push_back(static_cast<std::uint8_t>(v >> s));
    b.resize(32, 0);
    return b;
}

// header followed by a tag that tells the tile apart.
inline Bytes Tagged(Bytes header, int z, std::int64_t x, std::int64_t y) {
    const Bytes tag = Blob(z, x, y);
    header.insert(header.end(), tag.begin(), tag.end());
    return header;
}

}  // namespace testsupport
