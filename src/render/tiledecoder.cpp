#include "tiledecoder.h"

#include <QImage>
#include <QPainter>

#include <new>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "decode_codecs.h"
#include "imageformat.h"
#include "inflate.h"
#include "vectorcodec.h"

namespace corvalis {

struct TileDecoder::Codecs {
    detail::JpegCodec jpeg;
    detail::PngCodec png;
    std::unique_ptr<detail::GenericCodec> generic;  // made when a tile first needs it
    std::vector<std::uint8_t> picture;  // scratch for tiles not drawn 1:1, up to kScratchKeepBytes
    VectorCodec vector;
    std::shared_ptr<const VectorStyle> style;
    bool vectorStore = false;
    std::shared_ptr<VectorTile> lastVector;
};

namespace detail {

bool AcceptSize(std::uint64_t width, std::uint64_t height, ImageSize& size, std::string& error) {
    if (width == 0 || height == 0) {
        error = "image has no pixels";
        return false;
    }
    if (width > kMaxSide || height > kMaxSide) {
        error = "image too large: " + std::to_string(width) + "x" + std::to_string(height) +
                " (limit " + std::to_string(kMaxSide) + " pixels a side)";
        return false;
    }
    size.width = static_cast<int>(width);
    size.height = static_cast<int>(height);
    return true;
}

}  // namespace detail

namespace {

// Cells far beyond any frame are refused so that rectangle arithmetic cannot overflow.
constexpr int kCoordinateLimit = 1 << 28;

// Codecs that can decode a reduced picture are told the cell; size is the
// size the picture will be decoded at.
template <class Codec>
bool OpenFor(Codec& codec, const std::uint8_t* bytes, std::size_t count, const QRect& cell,
             detail::ImageSize& size, std::string& error) {
    const detail::ImageSize wanted{cell.width(), cell.height()};
    if constexpr (requires { codec.Open(bytes, count, wanted, size, error); })
        return codec.Open(bytes, count, wanted, size, error);
    else
        return codec.Open(bytes, count, size, error);
}

// A picture of the cell's size that lies wholly inside the frame is decoded
// straight into the frame's rows. Any other goes through the scratch picture,
// is stretched smoothly when its size differs, and is clipped to the frame.
template <class Codec>
bool DrawWith(Codec& codec, QImage& target, const QRect& cell, std::vector<std::uint8_t>& scratch,
              const std::uint8_t* bytes, std::size_t count, detail::ImageSize& size,
              std::string& error) {
    if (!OpenFor(codec, bytes, count, cell, size, error)) return false;
    const bool sameSize = size.width == cell.width() && size.height == cell.height();
    if (sameSize && target.rect().contains(cell)) {
        const qsizetype pitch = target.bytesPerLine();
        std::uint8_t* origin = target.bits() + cell.y() * pitch + qsizetype{cell.x()} * 3;
        return codec.Decode({origin, pitch, size.width, size.height}, error);
    }
    const std::size_t pitch = static_cast<std::size_t>(size.width) * 3;
    const std::size_t needed = pitch * static_cast<std::size_t>(size.height);
    if (scratch.size() < needed) scratch.resize(needed);
    const detail::PixelRows rows{scratch.data(), static_cast<std::ptrdiff_t>(pitch), size.width,
                                 size.height};
    if (!codec.Decode(rows, error)) return false;
    if (cell.isEmpty()) return true;
    const QImage picture(scratch.data(), size.width, size.height, static_cast<qsizetype>(pitch),
                         QImage::Format_RGB888);
    const QImage fitted =
        sameSize ? picture
                 : picture.scaled(cell.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&target);
    if (fitted.isNull() || !painter.isActive()) {
        error = "cannot draw the picture into the frame";
        return false;
    }
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(cell.topLeft(), fitted);
    return true;
}

// Draws, then lets go of memory an oversized tile made the decoder take: the
// scratch picture, and the codec itself (whatever buffers it grew) when the
// tile or its picture is larger than the scratch limit.
template <class Codec>
bool DrawAndRelease(Codec& codec, QImage& target, const QRect& cell,
                    std::vector<std::uint8_t>& scratch, const std::uint8_t* bytes,
                    std::size_t count, std::string& error) {
    detail::ImageSize size;
    auto release = [&] {
        const std::size_t pictureBytes =
            static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) * 4;
        // The PNG codec gives its own oversized buffers back after each tile.
        if constexpr (std::is_move_assignable_v<Codec>)
            if (count > detail::kScratchKeepBytes || pictureBytes > detail::kScratchKeepBytes)
                codec = Codec();
        if (scratch.capacity() > detail::kScratchKeepBytes)
            std::vector<std::uint8_t>().swap(scratch);
    };
    try {
        const bool drawn = DrawWith(codec, target, cell, scratch, bytes, count, size, error);
        release();
        return drawn;
    } catch (...) {
        release();
        throw;
    }
}

}  // namespace

TileDecoder::TileDecoder() : codecs(std::make_unique<Codecs>()) {}

TileDecoder::~TileDecoder() = default;

bool TileDecoder::DrawTile(QImage* target, int x, int y, int width, int height,
                           const std::uint8_t* bytes, std::int64_t count) {
    lastError.clear();
    codecs->lastVector.reset();
    if (target == nullptr || bytes == nullptr || count < 1) return false;
    try {
        if (Draw(*target, x, y, width, height, bytes, static_cast<std::size_t>(count))) return true;
    } catch (const std::bad_alloc&) {
        lastError = "out of memory";
    } catch (const std::exception& e) {
        lastError = e.what();
    }
    if (lastError.empty()) lastError = "unknown decode error";
    return false;
}

void TileDecoder::SetVectorStyle(std::shared_ptr<const VectorStyle> style, bool vectorStore) {
    codecs->style = std::move(style);
    codecs->vectorStore = vectorStore;
}

bool TileDecoder::VectorStore() const {
    return codecs->vectorStore;
}

std::shared_ptr<const VectorTile> TileDecoder::TakeVectorTile() {
    return std::move(codecs->lastVector);
}

// Each tile gets a model of its own, so that it can be kept for hit tests
// while the next tile is decoded.
bool TileDecoder::DrawVector(QImage& target, const QRect& cell, const std::uint8_t* bytes,
                             std::size_t count) {
    static const VectorStyle kDefaultStyle;
    auto tile = std::make_shared<VectorTile>();
    const VectorStyle& style = codecs->style ? *codecs->style : kDefaultStyle;
    if (!codecs->vector.Draw(target, cell, bytes, count, style, lastError, tile.get()))
        return false;
    codecs->lastVector = std::move(tile);
    return true;
}

bool TileDecoder::Draw(QImage& target, int x, int y, int width, int height,
                       const std::uint8_t* bytes, std::size_t count) {
    if (target.format() != QImage::Format_RGB888) {
        lastError = "target is not a 24-bit RGB picture";
        return false;
    }
    auto inRange = [](int origin, int extent) {
        return extent >= 0 && extent <= kCoordinateLimit && origin >= -kCoordinateLimit &&
               origin <= kCoordinateLimit;
    };
    if (!inRange(x, width) || !inRange(y, height)) {
        lastError = "cell out of range";
        return false;
    }
    const QRect cell(x, y, width, height);
    Codecs& c = *codecs;
    if (c.vectorStore || LooksCompressed(bytes, count)) return DrawVector(target, cell, bytes, count);
    if (HasPngSignature(bytes, count))
        return DrawAndRelease(c.png, target, cell, c.picture, bytes, count, lastError);
    if (HasJpegSignature(bytes, count))
        return DrawAndRelease(c.jpeg, target, cell, c.picture, bytes, count, lastError);
    if (!c.generic) c.generic = std::make_unique<detail::GenericCodec>();
    return DrawAndRelease(*c.generic, target, cell, c.picture, bytes, count, lastError);
}

}  // namespace corvalis
