#include "decode_png_fast.h"

#include <libdeflate.h>

#include <cstring>
#include <new>

#include "png_unfilter.h"

namespace corvalis::detail {

namespace {

std::uint32_t ReadBig32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

bool IsType(const std::uint8_t* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

// Samples a pixel: 0 for a colour type PNG does not define.
unsigned Channels(std::uint8_t colourType) {
    switch (colourType) {
        case 0: return 1;
        case 2: return 3;
        case 3: return 1;
        case 4: return 2;
        case 6: return 4;
        default: return 0;
    }
}

}  // namespace

std::uint8_t* ScratchBytes::Get(std::size_t size) {
    if (size > capacity_) {
        bytes_.reset();
        capacity_ = 0;
        bytes_.reset(new std::uint8_t[size]);
        capacity_ = size;
    }
    return bytes_.get();
}

void ScratchBytes::ReleaseIfOver(std::size_t keep) {
    if (capacity_ <= keep) return;
    bytes_.reset();
    capacity_ = 0;
}

void PngFastPath::DecompressorFree::operator()(libdeflate_decompressor* d) const {
    libdeflate_free_decompressor(d);
}

PngFastPath::PngFastPath() = default;

PngFastPath::~PngFastPath() = default;

std::size_t PngFastPath::ScratchSize() const {
    return joined_.Capacity() + inflated_.Capacity() + zeros_.Capacity() + rgba_.Capacity();
}

bool PngFastPath::Prepare(const std::uint8_t* bytes, std::size_t count, const PngPicture& picture) {
    data_.clear();
    const unsigned channels = Channels(picture.colourType);
    if (picture.interlaced || picture.bitDepth > 8 || channels == 0 || picture.width == 0 ||
        picture.height == 0 || picture.width > kMaxSide || picture.height > kMaxSide)
        return false;
    const unsigned bits = channels * picture.bitDepth;
    picture_ = picture;
    rowBytes_ = (std::size_t{picture.width} * bits + 7) / 8;
    pixelBytes_ = bits < 8 ? 1 : bits / 8;
    if (!FindImageData(bytes, count)) return false;
    const std::size_t inflated = std::size_t{picture.height} * (rowBytes_ + 1);
    if (inflated / kMaxInflateRatio > dataSize_) data_.clear();  // cannot inflate to the picture
    return !data_.empty();
}

// The first run of IDAT chunks, each with a correct CRC, and after it no
// other IDAT and no critical chunk but IEND.
bool PngFastPath::FindImageData(const std::uint8_t* bytes, std::size_t count) {
    dataSize_ = 0;
    bool past = false;  // past the run
    for (std::size_t pos = 8; count >= pos && count - pos >= 12;) {
        const std::uint32_t length = ReadBig32(bytes + pos);
        if (length > count - pos - 12) break;
        const std::uint8_t* type = bytes + pos + 4;
        const std::uint8_t* data = type + 4;
        if (IsType(type, "IEND")) return !data_.empty();
        if (IsType(type, "IDAT")) {
            if (past ||
                libdeflate_crc32(0, type, std::size_t{length} + 4) != ReadBig32(data + length))
                break;
            data_.push_back({data, length});
            dataSize_ += length;
        } else if (!data_.empty()) {
            past = true;
            if ((type[0] & 0x20) == 0) break;  // critical
        }
        pos += 12 + std::size_t{length};
    }
    data_.clear();
    return false;
}

// The image data inflated to exactly the picture's rows, each after its
// filter byte; null when it does not inflate so or a filter type is unknown.
std::uint8_t* PngFastPath::Inflate() {
    const std::uint8_t* source = data_.front().data;
    if (data_.size() > 1) {
        std::uint8_t* joined = joined_.Get(dataSize_);
        std::size_t at = 0;
        for (const Span& span : data_) {
            if (span.size != 0) std::memcpy(joined + at, span.data, span.size);
            at += span.size;
        }
        source = joined;
    }
    if (!decompressor_) decompressor_.reset(libdeflate_alloc_decompressor());
    if (!decompressor_) throw std::bad_alloc();
    const std::size_t stride = rowBytes_ + 1;
    const std::size_t size = std::size_t{picture_.height} * stride;
    std::uint8_t* image = inflated_.Get(size);
    if (libdeflate_zlib_decompress(decompressor_.get(), source, dataSize_, image, size, nullptr) !=
        LIBDEFLATE_SUCCESS)
        return nullptr;
    for (std::size_t at = 0; at < size; at += stride)
        if (image[at] > kFilterPaeth) return nullptr;
    return image;
}

bool PngFastPath::Decode(const PixelRows& rows) {
    if (data_.empty() || rows.width != static_cast<int>(picture_.width) ||
        rows.height != static_cast<int>(picture_.height))
        return false;
    std::uint8_t* image = Inflate();
    if (image != nullptr) {
        BuildLookup();
        if (picture_.colourType == 4 || (picture_.colourType == 2 && picture_.colourKey))
            rgba_.Get(std::size_t{picture_.width} * 4);  // before the first row is written
        std::uint8_t* zeros = zeros_.Get(rowBytes_);
        std::memset(zeros, 0, rowBytes_);
        const std::uint8_t* prev = zeros;
        for (int y = 0; y < rows.height; ++y) {
            std::uint8_t* row = image + static_cast<std::size_t>(y) * (rowBytes_ + 1);
            UnfilterRow(row[0], row + 1, prev, rowBytes_, pixelBytes_);
            ConvertRow(row + 1, rows.Row(y));
            prev = row + 1;
        }
    }
    data_.clear();
    for (ScratchBytes* scratch : {&joined_, &inflated_, &zeros_, &rgba_})
        scratch->ReleaseIfOver(kKeptScratch);
    return image != nullptr;
}

// RGB of every sample value of a grey or palette picture, composited over
// white exactly as a row of straight RGBA would be.
void PngFastPath::BuildLookup() {
    if (picture_.colourType != 0 && picture_.colourType != 3) return;
    const unsigned top = (1u << picture_.bitDepth) - 1;
    for (unsigned v = 0; v <= top; ++v) {
        std::uint8_t rgba[4];
        if (picture_.colourType == 3) {
            std::memcpy(rgba, &picture_.palette[v * 4], 4);
        } else {
            // 1, 2 and 4-bit grey widened by repeating its bits, as libspng does.
            const auto grey = static_cast<std::uint8_t>(v * 255 / top);
            const bool keyed = picture_.colourKey && v == picture_.keyGrey;
            rgba[0] = rgba[1] = rgba[2] = grey;
            rgba[3] = keyed ? 0 : 255;
        }
        CompositeOverWhite(rgba, 1, &lookup_[v * 3]);
    }
}

void PngFastPath::ConvertRow(const std::uint8_t* row, std::uint8_t* rgb) {
    const int width = static_cast<int>(picture_.width);
    const std::size_t pixels = picture_.width;
    switch (picture_.colourType) {
        case 6: CompositeOverWhite(row, width, rgb); return;
        case 2:
            if (!picture_.colourKey) {
                std::memcpy(rgb, row, pixels * 3);
                return;
            }
            [[fallthrough]];
        case 4: {
            std::uint8_t* const straight = rgba_.Get(pixels * 4);
            const bool grey = picture_.colourType == 4;
            std::uint8_t* rgba = straight;
            for (std::size_t i = 0; i < pixels; ++i, rgba += 4) {
                const std::uint8_t* px = row + i * (grey ? 2 : 3);
                rgba[0] = px[0];
                rgba[1] = px[grey ? 0 : 1];
                rgba[2] = px[grey ? 0 : 2];
                rgba[3] = grey ? px[1] : std::memcmp(px, picture_.keyRgb.data(), 3) == 0 ? 0 : 255;
            }
            CompositeOverWhite(straight, width, rgb);
            return;
        }
        default: break;
    }
    const unsigned depth = picture_.bitDepth;
    if (depth == 8) {
        for (std::size_t i = 0; i < pixels; ++i) std::memcpy(rgb + i * 3, &lookup_[row[i] * 3u], 3);
        return;
    }
    const unsigned perByte = 8 / depth;
    const unsigned mask = (1u << depth) - 1;
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned shift = 8 - depth * (static_cast<unsigned>(i % perByte) + 1);
        const unsigned v = (row[i / perByte] >> shift) & mask;
        std::memcpy(rgb + i * 3, &lookup_[v * 3], 3);
    }
}

}  // namespace corvalis::detail
