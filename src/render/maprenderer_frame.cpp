#include "maprenderer_frame.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace corvalis {

bool FrameBuffer::Resize(int width, int height) {
    width = std::max(1, width);
    height = std::max(1, height);
    if (!image.isNull() && image.width() == width && image.height() == height) return true;
    Release();
    const std::int64_t rowBytes = std::int64_t{width} * 3;
    const std::int64_t pitch =
        (rowBytes + kFrameRowAlignment - 1) / kFrameRowAlignment * kFrameRowAlignment;
    const std::int64_t total = pitch * height;
    if (pitch > std::numeric_limits<int>::max() || total > std::numeric_limits<qsizetype>::max())
        return false;
    buffer.reset(static_cast<unsigned char*>(
        std::aligned_alloc(kFrameRowAlignment, static_cast<std::size_t>(total))));
    if (!buffer) return false;
    image =
        QImage(buffer.get(), width, height, static_cast<qsizetype>(pitch), QImage::Format_RGB888);
    return !image.isNull();
}

void FrameBuffer::Release() {
    image = QImage();
    buffer.reset();
}

namespace {

// Clips a w x h rectangle at (x, y) to a picture; false when nothing is left.
bool Clip(int& x, int& y, int& w, int& h, const QImage& img, int& shiftX, int& shiftY) {
    shiftX = x < 0 ? -x : 0;
    shiftY = y < 0 ? -y : 0;
    x += shiftX;
    y += shiftY;
    w = std::min(w - shiftX, img.width() - x);
    h = std::min(h - shiftY, img.height() - y);
    return w > 0 && h > 0;
}

}  // namespace

void CopyPixels(const QImage& src, int sx, int sy, int w, int h, QImage& dst, int dx, int dy) {
    if (src.format() != QImage::Format_RGB888 || dst.format() != QImage::Format_RGB888) return;
    int shiftX = 0;
    int shiftY = 0;
    if (!Clip(sx, sy, w, h, src, shiftX, shiftY)) return;
    dx += shiftX;
    dy += shiftY;
    if (!Clip(dx, dy, w, h, dst, shiftX, shiftY)) return;
    sx += shiftX;
    sy += shiftY;
    const std::size_t bytes = static_cast<std::size_t>(w) * 3;
    for (int row = 0; row < h; ++row)
        std::memcpy(dst.scanLine(dy + row) + std::ptrdiff_t{dx} * 3,
                    src.constScanLine(sy + row) + std::ptrdiff_t{sx} * 3, bytes);
}

void FillPixels(QImage& dst, int x, int y, int w, int h, QRgb colour) {
    if (dst.format() != QImage::Format_RGB888) return;
    int shiftX = 0;
    int shiftY = 0;
    if (!Clip(x, y, w, h, dst, shiftX, shiftY)) return;
    const auto r = static_cast<unsigned char>(qRed(colour));
    const auto g = static_cast<unsigned char>(qGreen(colour));
    const auto b = static_cast<unsigned char>(qBlue(colour));
    for (int row = 0; row < h; ++row) {
        unsigned char* p = dst.scanLine(y + row) + std::ptrdiff_t{x} * 3;
        if (r == g && g == b) {
            std::memset(p, r, static_cast<std::size_t>(w) * 3);
            continue;
        }
        for (int col = 0; col < w; ++col, p += 3) {
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
    }
}

}  // namespace corvalis
