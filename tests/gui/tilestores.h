// Real tile stores with real PNG tiles for the viewer's tests: every tile a
// solid colour that tells its address, never black.
#pragma once

#include <QBuffer>
#include <QColor>
#include <QImage>

#include <cstdint>
#include <string>

#include "storewriter.h"

namespace teststores {

using testsupport::Bytes;
using testsupport::Layout;
using testsupport::StoreWriter;

inline Bytes EncodePicture(const QImage& image, const char* format = "PNG") {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(data.begin(), data.end());
}

inline Bytes SolidPng(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(QColor::fromRgb(colour));
    return EncodePicture(image);
}

// The colour of tile (z, x, y) in world numbering (z up to 4); salt (0..100)
// tells stores apart.
inline QRgb TileColour(int z, std::int64_t x, std::int64_t y, int salt = 0) {
    return qRgb(60 + 20 * z + salt, static_cast<int>(20 + (x * 53) % 200),
                static_cast<int>(20 + (y * 97) % 200));
}

// An MBTiles store covering the whole world at levels z0..z1.
inline void WorldStore(const std::string& path, int z0, int z1, int tileSize = 256, int salt = 0) {
    StoreWriter store(path, Layout::MBTiles);
    store.Meta("name", "world");
    store.Meta("format", "png");
    store.FullWorld(z0, z1, [tileSize, salt](int z, std::int64_t x, std::int64_t y) {
        return SolidPng(tileSize, tileSize, TileColour(z, x, y, salt));
    });
}

// An MBTiles store whose level z holds columns 0..cols-1 and rows 0..rows-1
// (world numbering) and nothing else. Tiles are valid PNG headers only: they
// settle the tile size but do not decode.
inline void BlockStore(const std::string& path, int z, int cols, int rows, int tileSize = 256) {
    StoreWriter store(path, Layout::MBTiles);
    store.Meta("format", "png");
    const std::int64_t n = std::int64_t{1} << z;
    store.Exec("BEGIN;");
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            store.Tile(z, x, n - 1 - y,
                       testsupport::PngHeader(static_cast<std::uint32_t>(tileSize),
                                              static_cast<std::uint32_t>(tileSize)));
    store.Exec("COMMIT;");
}

}  // namespace teststores
