// Vector tiles from arbitrary bytes: decoded raw, or after gzip or zlib
// compression of the input (so that the fuzzer works on the message while the
// inflater is exercised), or as given (gzip and zlib streams made by the
// fuzzer). The first byte picks the path, the second the cell and the style.
// Every decoded model must hold together, drawing must not touch anything
// outside its cell (nor the cell when it fails), and hit tests anywhere must
// give bounded tooltips.
#include <QGuiApplication>
#include <QImage>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "fuzzcheck.h"
#include "inflate.h"
#include "mvtwriter.h"
#include "vectorcodec.h"

namespace {

using namespace corvalis;

constexpr int kFrameWidth = 300;
constexpr int kFrameHeight = 280;
const QRect kCells[] = {{0, 0, 256, 256},     {20, 10, 256, 256}, {-30, -40, 256, 256},
                        {100, 100, 256, 256}, {5, 5, 64, 64},     {7, 9, 17, 255},
                        {10, 10, 1, 1},       {50, 60, 0, 0}};

QImage* frame = nullptr;
QImage* original = nullptr;
VectorCodec* codec = nullptr;

void CheckModel(const VectorTile& tile) {
    for (const VectorLayer& l : tile.layers) {
        FUZZ_CHECK(l.extent > 0 && l.extent <= VectorTileLimits::kMaxExtent);
        for (std::size_t i = 0; i < l.partEnds.size(); ++i)
            FUZZ_CHECK(l.partEnds[i] <= l.vertices.size() &&
                       (i == 0 || l.partEnds[i - 1] < l.partEnds[i]));
        for (std::size_t i = 0; i < l.tags.size(); i += 2)
            FUZZ_CHECK(l.tags[i] < l.keys.size() && l.tags[i + 1] < l.values.size());
        for (const VectorFeature& f : l.features) {
            FUZZ_CHECK(f.partCount > 0 && f.firstPart + f.partCount <= l.partEnds.size());
            FUZZ_CHECK(2 * (std::size_t{f.firstTag} + f.tagCount) <= l.tags.size());
        }
        const std::int64_t margin = 4 * std::int64_t{l.extent};
        for (const TilePoint p : l.vertices)
            FUZZ_CHECK(p.x >= -margin && p.y >= -margin && p.x <= l.extent + margin &&
                       p.y <= l.extent + margin);
    }
    FUZZ_CHECK(tile.VertexCount() <= VectorTileLimits::kMaxVertices);
}

// Rows of the frame outside the cell, and the bytes left and right of it, are as they were.
bool OnlyCellChanged(const QRect& cell) {
    for (int y = 0; y < kFrameHeight; ++y) {
        const uchar* now = frame->constScanLine(y);
        const uchar* was = original->constScanLine(y);
        if (cell.isEmpty() || y < cell.top() || y > cell.bottom()) {
            if (std::memcmp(now, was, kFrameWidth * 3) != 0) return false;
            continue;
        }
        const std::size_t left = static_cast<std::size_t>(cell.left()) * 3;
        const std::size_t right = static_cast<std::size_t>(cell.right() + 1) * 3;
        if (std::memcmp(now, was, left) != 0 ||
            std::memcmp(now + right, was + right, kFrameWidth * 3 - right) != 0)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv);
    frame = new QImage(kFrameWidth, kFrameHeight, QImage::Format_RGB888);
    for (int y = 0; y < kFrameHeight; ++y)
        for (int x = 0; x < kFrameWidth; ++x) frame->setPixel(x, y, qRgb(x, y, x ^ y));
    original = new QImage(frame->copy());
    codec = new VectorCodec;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int path = data[0] % 4;
    const QRect cell = kCells[data[1] % std::size(kCells)];
    VectorStyle style;
    style.devicePixelRatio = (data[1] & 0x40) ? 2.0 : 1.0;
    std::vector<std::uint8_t> tile(data + 2, data + size);
    if (path == 1) tile = testsupport::mvt::Gzip(tile);
    if (path == 2) tile = testsupport::mvt::Zlib(tile);
    if (path == 0 && LooksCompressed(tile.data(), tile.size())) tile.insert(tile.begin(), 0x1A);
    VectorTile kept;
    std::string error;
    const bool drawn = codec->Draw(*frame, cell, tile.data(), tile.size(), style, error, &kept);
    if (path == 1 || path == 2) {  // compression changes nothing
        VectorTile direct;
        std::string directError;
        FUZZ_CHECK(DecodeVectorTile(data + 2, size - 2, direct, directError) == drawn);
        FUZZ_CHECK(direct.VertexCount() == kept.VertexCount());
    }
    FUZZ_CHECK(drawn || !error.empty());
    FUZZ_CHECK(drawn || kept.layers.empty());
    FUZZ_CHECK(OnlyCellChanged(drawn ? cell & frame->rect() : QRect()));
    if (!drawn) return 0;
    CheckModel(kept);
    if ((data[1] & 0x80) && !kept.layers.empty()) style.hiddenLayers.insert(kept.layers[0].name);
    for (const QPointF at :
         {QPointF(3, 3), QPointF(128.5, 64), QPointF(250, 250), QPointF(-5, 7)}) {
        const auto hit = HitTest(kept, at, QSizeF(cell.size()), style);
        if (!hit) continue;
        FUZZ_CHECK(hit->lines.size() <= kMaxHitLines && hit->layerIndex < kept.layers.size());
        for (const std::string& line : hit->lines) FUZZ_CHECK(line.size() <= 203);
    }
    // Leave the frame as it was for the next input.
    for (int y = 0; y < kFrameHeight; ++y)
        std::memcpy(frame->scanLine(y), original->constScanLine(y), kFrameWidth * 3);
    return 0;
}
