// Tiles in any other format (WebP, GIF, BMP, TIFF, ...) through Qt's readers.
#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <cstring>

#include "decode_codecs.h"

namespace corvalis::detail {

bool GenericCodec::Open(const std::uint8_t* bytes, std::size_t count, ImageSize cell,
                        ImageSize& result, std::string& error) {
    picture = QImage();
    QByteArray raw = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes),
                                             static_cast<qsizetype>(count));
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // Refuse an oversized picture from its header, before the reader allocates.
    // Formats that cannot tell their size up front are held by Qt's own
    // allocation limit (256 MB by default) and checked after reading.
    const QSize announced = reader.size();
    if (announced.isValid() &&
        !AcceptSize(static_cast<std::uint32_t>(announced.width()),
                    static_cast<std::uint32_t>(announced.height()), result, error))
        return false;
    // A picture that will be shrunk anyway is read at the cell's size: readers
    // that can (WebP, SVG, ...) decode less, the others scale smoothly.
    if (announced.isValid() && cell.width > 0 && cell.height > 0 &&
        announced.width() / 2 >= cell.width && announced.height() / 2 >= cell.height)
        reader.setScaledSize(QSize(cell.width, cell.height));
    if (!reader.read(&picture)) {
        error = reader.errorString().toStdString();
        if (error.empty()) error = "unknown decode error";
        return false;
    }
    return AcceptSize(static_cast<std::uint32_t>(picture.width()),
                      static_cast<std::uint32_t>(picture.height()), result, error);
}

bool GenericCodec::Decode(const PixelRows& rows, std::string& error) {
    const bool transparent = picture.hasAlphaChannel();
    const QImage pixels =
        picture.convertToFormat(transparent ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    picture = QImage();
    if (pixels.isNull()) {
        error = "out of memory";
        return false;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(rows.width) * 3;
    for (int row = 0; row < rows.height; ++row) {
        if (transparent)
            CompositeOverWhite(pixels.constScanLine(row), rows.width, rows.Row(row));
        else
            std::memcpy(rows.Row(row), pixels.constScanLine(row), rowBytes);
    }
    return true;
}

}  // namespace corvalis::detail
