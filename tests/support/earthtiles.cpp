#include "earthtiles.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "webmercator.h"

namespace testsupport {

QImage LoadWorld(const std::string& path) {
    QImage img(QString::fromStdString(path));
    if (!img.isNull()) return img.convertToFormat(QImage::Format_RGB888);
    std::fprintf(stderr, "%s not readable, drawing a stand-in world\n", path.c_str());
    QImage world(1024, 512, QImage::Format_RGB888);
    for (int y = 0; y < world.height(); ++y)
        for (int x = 0; x < world.width(); ++x) {
            const int land = ((x / 64) + (y / 64)) % 3 == 0;
            world.setPixelColor(x, y,
                                land ? QColor(60 + y % 60, 120 + x % 80, 50)
                                     : QColor(20, 40 + y % 50, 120 + x % 100));
        }
    return world;
}

QRgb SampleBilinear(const QImage& src, double sx, double sy) {
    const int w = src.width(), h = src.height();
    sx = std::fmod(std::fmod(sx, w) + w, w);
    sy = std::clamp(sy, 0.0, h - 1.0);
    const int x0 = static_cast<int>(sx), y0 = static_cast<int>(sy);
    const int x1 = (x0 + 1) % w, y1 = std::min(y0 + 1, h - 1);
    const double fx = sx - x0, fy = sy - y0;
    // 24-bit pictures are read straight from their rows (the same values, faster).
    const bool rgb888 = src.format() == QImage::Format_RGB888;
    auto mix = [&](int shift) {
        auto c = [&](int x, int y) -> int {
            if (rgb888) return src.constScanLine(y)[x * 3 + (16 - shift) / 8];
            return (src.pixel(x, y) >> shift) & 0xFF;
        };
        const double top = c(x0, y0) * (1 - fx) + c(x1, y0) * fx;
        const double bottom = c(x0, y1) * (1 - fx) + c(x1, y1) * fx;
        return static_cast<int>(top * (1 - fy) + bottom * fy + 0.5);
    };
    return qRgb(mix(16), mix(8), mix(0));
}

QImage RenderEarthTile(const QImage& world, int z, int x, int y, int size) {
    QImage tile(size, size, QImage::Format_RGB888);
    const double n = corvalis::TilesAcross(z);
    for (int py = 0; py < size; ++py) {
        const double lat = corvalis::TileYToLat(y + (py + 0.5) / size, n);
        const double sy = (90.0 - lat) / 180.0 * world.height() - 0.5;
        for (int px = 0; px < size; ++px) {
            const double lon = corvalis::TileXToLon(x + (px + 0.5) / size, n);
            const double sx = (lon + 180.0) / 360.0 * world.width() - 0.5;
            const QRgb c = SampleBilinear(world, sx, sy);
            uchar* p = tile.scanLine(py) + px * 3;
            p[0] = static_cast<uchar>(qRed(c));
            p[1] = static_cast<uchar>(qGreen(c));
            p[2] = static_cast<uchar>(qBlue(c));
        }
    }
    return tile;
}

std::vector<std::uint8_t> EncodeImage(const QImage& img, const char* format, int quality) {
    QByteArray data;
    QBuffer buf(&data);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, format, quality);
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

}  // namespace testsupport
