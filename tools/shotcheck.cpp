// Reads screenshots for the real-window tests: X window dumps (XWD, as the
// virtual X server writes its screen with -fbdir) or any picture Qt reads.
//
//   shotcheck png   <shot> <out.png>                 convert
//   shotcheck crop  <shot> <x> <y> <w> <h> <width> <out.png> [palette]
//                                                     the rectangle scaled smoothly to width
//                                                     pixels, as a compact PNG (256 colours,
//                                                     dithered, with "palette")
//   shotcheck pixel <shot> <x> <y>                    print RRGGBB
//   shotcheck match <shot> <x> <y> <picture>          count pixels differing from picture at (x, y)
//   shotcheck shift <a> <b> <x> <y> <w> <h> <dx> <dy> count pixels of a's rectangle that b
//                                                     does not show moved by (dx, dy)
//   shotcheck black <shot> <x> <y> <w> <h>            count pixels in the rectangle that are not black
//   shotcheck blacks <shot> <x> <y> <w> <h>           count pixels in the rectangle that are black
#include <QFile>
#include <QImage>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::uint32_t ReadBig(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

std::uint32_t ReadLittle(const unsigned char* p) {
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
           std::uint32_t{p[0]};
}

int Shift(std::uint32_t mask) {
    int s = 0;
    while (mask != 0 && (mask & 1u) == 0) {
        mask >>= 1;
        ++s;
    }
    return s;
}

// A 24- or 32-bit TrueColor ZPixmap dump; null for anything else.
QImage ReadXwd(const QByteArray& data) {
    constexpr int kHeaderWords = 25;
    if (data.size() < kHeaderWords * 4) return {};
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    std::uint32_t h[kHeaderWords];
    bool big = ReadBig(bytes + 4) == 7;
    for (int i = 0; i < kHeaderWords; ++i)
        h[i] = big ? ReadBig(bytes + 4 * i) : ReadLittle(bytes + 4 * i);
    if (h[1] != 7 || h[2] != 2) return {};
    const std::uint32_t width = h[4], height = h[5], byteOrder = h[7], bpp = h[11], pitch = h[12],
                        redMask = h[14], greenMask = h[15], blueMask = h[16], ncolors = h[19];
    if ((bpp != 32 && bpp != 24) || width == 0 || height == 0 || width > 32768 || height > 32768)
        return {};
    const std::uint64_t offset = std::uint64_t{h[0]} + std::uint64_t{ncolors} * 12;
    if (offset + std::uint64_t{pitch} * height > static_cast<std::uint64_t>(data.size())) return {};
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB888);
    const int rs = Shift(redMask), gs = Shift(greenMask), bs = Shift(blueMask);
    const std::uint32_t step = bpp / 8;
    for (std::uint32_t y = 0; y < height; ++y) {
        const unsigned char* row = bytes + offset + std::uint64_t{pitch} * y;
        unsigned char* out = image.scanLine(static_cast<int>(y));
        for (std::uint32_t x = 0; x < width; ++x, row += step, out += 3) {
            std::uint32_t v = 0;
            for (std::uint32_t k = 0; k < step; ++k) {
                const std::uint32_t b = row[k];
                v |= byteOrder == 0 ? b << (8 * k) : b << (8 * (step - 1 - k));
            }
            out[0] = static_cast<unsigned char>((v & redMask) >> rs);
            out[1] = static_cast<unsigned char>((v & greenMask) >> gs);
            out[2] = static_cast<unsigned char>((v & blueMask) >> bs);
        }
    }
    return image;
}

QImage Load(const char* path) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.readAll();
    QImage image = ReadXwd(data);
    if (image.isNull()) image.loadFromData(data);
    return image.isNull() ? image : image.convertToFormat(QImage::Format_RGB888);
}

int Int(const char* text) {
    return std::stoi(text);
}

bool Same(const QImage& a, int ax, int ay, const QImage& b, int bx, int by) {
    if (!a.valid(ax, ay) || !b.valid(bx, by)) return false;
    return std::memcmp(a.constScanLine(ay) + ax * 3, b.constScanLine(by) + bx * 3, 3) == 0;
}

int Usage() {
    std::fprintf(stderr, "usage: see the comment at the top of shotcheck.cpp\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    const QImage shot = Load(argv[2]);
    if (shot.isNull()) {
        std::fprintf(stderr, "shotcheck: cannot read %s\n", argv[2]);
        return 1;
    }
    if (command == "png" && argc == 4) return shot.save(QString::fromLocal8Bit(argv[3])) ? 0 : 1;
    if (command == "crop" && (argc == 9 || argc == 10)) {
        const QImage part = shot.copy(Int(argv[3]), Int(argv[4]), Int(argv[5]), Int(argv[6]));
        QImage scaled = part.scaledToWidth(Int(argv[7]), Qt::SmoothTransformation);
        if (argc == 10 && std::strcmp(argv[9], "palette") == 0)
            scaled = scaled.convertToFormat(QImage::Format_Indexed8, Qt::DiffuseDither);
        return scaled.save(QString::fromLocal8Bit(argv[8]), "PNG", 0) ? 0 : 1;  // 0: smallest
    }
    if (command == "pixel" && argc == 5) {
        const int x = Int(argv[3]), y = Int(argv[4]);
        if (!shot.valid(x, y)) return 1;
        std::printf("%06X\n", shot.pixel(x, y) & 0xFFFFFFu);
        return 0;
    }
    long differing = 0;
    if (command == "match" && argc == 6) {
        const QImage picture = Load(argv[5]);
        if (picture.isNull()) return 1;
        const int x0 = Int(argv[3]), y0 = Int(argv[4]);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (!Same(picture, x, y, shot, x0 + x, y0 + y)) ++differing;
    } else if (command == "shift" && argc == 10) {
        const QImage other = Load(argv[3]);
        if (other.isNull()) return 1;
        const int x0 = Int(argv[4]), y0 = Int(argv[5]), w = Int(argv[6]), h = Int(argv[7]);
        const int dx = Int(argv[8]), dy = Int(argv[9]);
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                if (!Same(shot, x, y, other, x + dx, y + dy)) ++differing;
    } else if ((command == "black" || command == "blacks") && argc == 7) {
        const int x0 = Int(argv[3]), y0 = Int(argv[4]), w = Int(argv[5]), h = Int(argv[6]);
        const bool wantBlack = command == "black";
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) {
                const bool black = shot.valid(x, y) && (shot.pixel(x, y) & 0xFFFFFFu) == 0;
                if (black != wantBlack) ++differing;
            }
    } else {
        return Usage();
    }
    std::printf("%ld\n", differing);
    return 0;
}
