// A 24-bit picture on its own buffer, with every row starting on a 64-byte
// boundary and a row pitch that is a multiple of 64 bytes.
#pragma once

#include <QImage>

#include <cstdlib>
#include <memory>

namespace corvalis {

inline constexpr int kFrameRowAlignment = 64;

class FrameBuffer {
public:
    FrameBuffer() = default;
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    // Gives the frame width x height pixels (each at least 1). The buffer is
    // allocated again only when the size changes; the pixels are then
    // undefined until drawn. False when the memory cannot be had.
    bool Resize(int width, int height);
    void Release();

    QImage& Image() { return image; }
    const QImage& Image() const { return image; }
    int Width() const { return image.width(); }
    int Height() const { return image.height(); }
    bool IsNull() const { return image.isNull(); }

private:
    struct FreeBuffer {
        void operator()(unsigned char* p) const noexcept { std::free(p); }
    };
    // The picture refers to the buffer, so it is declared after it and goes first.
    std::unique_ptr<unsigned char, FreeBuffer> buffer;
    QImage image;
};

// Copies the rectangle (sx, sy, w, h) of src to (dx, dy) of dst, both RGB888,
// clipped to both pictures.
void CopyPixels(const QImage& src, int sx, int sy, int w, int h, QImage& dst, int dx, int dy);

// Fills the rectangle (x, y, w, h) of an RGB888 picture, clipped to it.
void FillPixels(QImage& dst, int x, int y, int w, int h, QRgb colour);

}  // namespace corvalis
