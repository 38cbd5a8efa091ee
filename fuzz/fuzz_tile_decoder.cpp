// TileDecoder::DrawTile on arbitrary bytes through each of its three paths
// (PNG, JPEG, Qt's readers) into a cell of a 24-bit frame. The first byte
// picks the path (the signature is put in front when the bytes lack it), the
// second the cell; the rest is the tile. Nothing outside the cell may change.
#include <QGuiApplication>
#include <QImage>

#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzcheck.h"
#include "tiledecoder.h"

namespace {

constexpr int kFrameWidth = 300;
constexpr int kFrameHeight = 280;
constexpr int kPitch = 960;  // spare bytes after every row

struct Cell {
    int x, y, w, h;
};
// Exact fits, stretches either way, clipping at every edge, degenerate sizes.
constexpr Cell kCells[] = {{0, 0, 256, 256},     {20, 10, 256, 256}, {-30, -40, 256, 256},
                           {100, 100, 256, 256}, {5, 5, 64, 64},     {0, 0, 300, 280},
                           {10, 10, 1, 1},       {50, 60, 0, 0},     {290, 270, 512, 512},
                           {-300, 0, 256, 256},  {7, 9, 17, 255},    {0, 0, 8, 8}};

std::vector<std::uint8_t> frameBytes(static_cast<std::size_t>(kPitch) * kFrameHeight);
std::vector<std::uint8_t> original;
corvalis::TileDecoder* decoder = nullptr;

bool InsideCell(std::size_t offset, const Cell& c) {
    const int column = static_cast<int>(offset % kPitch);
    const int row = static_cast<int>(offset / kPitch);
    if (column >= kFrameWidth * 3) return false;
    const int x = column / 3;
    return x >= c.x && x < c.x + c.w && row >= c.y && row < c.y + c.h;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv);
    decoder = new corvalis::TileDecoder;
    for (std::size_t i = 0; i < frameBytes.size(); ++i)
        frameBytes[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    original = frameBytes;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int path = data[0] % 3;
    const Cell cell = kCells[data[1] % (sizeof kCells / sizeof kCells[0])];
    std::vector<std::uint8_t> tile(data + 2, data + size);
    static const std::uint8_t kPng[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    static const std::uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF};
    const bool isPng = tile.size() >= 8 && std::memcmp(tile.data(), kPng, 4) == 0;
    const bool isJpeg = tile.size() >= 3 && std::memcmp(tile.data(), kJpeg, 3) == 0;
    if (path == 0 && !isPng) tile.insert(tile.begin(), std::begin(kPng), std::end(kPng));
    if (path == 1 && !isJpeg) tile.insert(tile.begin(), std::begin(kJpeg), std::end(kJpeg));
    if (path == 2 && (isPng || isJpeg)) tile[0] ^= 0x20;
    if (tile.empty()) return 0;

    QImage frame(frameBytes.data(), kFrameWidth, kFrameHeight, kPitch, QImage::Format_RGB888);
    const bool drawn = decoder->DrawTile(&frame, cell.x, cell.y, cell.w, cell.h, tile.data(),
                                         static_cast<std::int64_t>(tile.size()));
    if (!drawn) FUZZ_CHECK(!decoder->LastError().empty());
    for (std::size_t i = 0; i < frameBytes.size(); ++i) {
        if (frameBytes[i] == original[i]) continue;
        FUZZ_CHECK(InsideCell(i, cell));
        frameBytes[i] = original[i];
    }
    return 0;
}
