// Pictures built to cost a decoder time and memory: valid progressive JPEG
// streams of a flat grey square with as many scans as asked, and a fully
// transparent PNG of any size, each written without holding its pixels.
#pragma once

#include <spng.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

enum class JpegCoding { Huffman, Arithmetic };

namespace detail {

// Entropy-coded bits, most significant first, with 0xFF bytes stuffed.
class BitWriter {
public:
    explicit BitWriter(Bytes& out) : out_(out) {}
    ~BitWriter() {
        while (count_ != 0) Put(1, 1);  // pad the last byte with ones
    }
    void Put(unsigned bits, int width) {
        for (int i = width - 1; i >= 0; --i) {
            byte_ = (byte_ << 1) | ((bits >> i) & 1u);
            if (++count_ == 8) {
                out_.push_back(static_cast<std::uint8_t>(byte_));
                if (byte_ == 0xFF) out_.push_back(0);
                byte_ = 0, count_ = 0;
            }
        }
    }

private:
    Bytes& out_;
    unsigned byte_ = 0;
    int count_ = 0;
};

inline void Segment(Bytes& out, std::uint8_t marker, const Bytes& body) {
    const std::size_t length = body.size() + 2;
    out.insert(out.end(), {0xFF, marker, static_cast<std::uint8_t>(length >> 8),
                           static_cast<std::uint8_t>(length)});
    out.insert(out.end(), body.begin(), body.end());
}

// Huffman tables: DC category 0 is "0"; AC symbols EOB0..EOB14 are 4-bit codes 0..14.
inline Bytes HuffmanTables() {
    // DC table 0: one code of length 1 (symbol 0 at [17]); AC table 0 from
    // [18]: fifteen codes of length 4, symbols from [35].
    Bytes dht(17 + 1 + 17 + 15, 0);
    dht[1] = 1;
    dht[18] = 0x10;
    dht[18 + 4] = 15;
    for (int n = 0; n < 15; ++n) dht[35 + n] = static_cast<std::uint8_t>(n << 4);
    return dht;
}

// An all-zero scan of blocks blocks: one DC category 0 each, or end-of-band runs.
inline void HuffmanScan(Bytes& out, std::int64_t blocks, bool dc) {
    BitWriter bits(out);
    for (std::int64_t left = blocks; left > 0;) {
        if (dc) {
            bits.Put(0, 1);
            --left;
            continue;
        }
        const std::int64_t run = left < 32767 ? left : 32767;
        int n = 0;
        while ((std::int64_t{2} << n) <= run) ++n;
        bits.Put(static_cast<unsigned>(n), 4);
        bits.Put(static_cast<unsigned>(run - (std::int64_t{1} << n)), n);
        left -= run;
    }
}

}  // namespace detail

// A flat grey progressive JPEG (SOF2, or SOF10 when arithmetic coded): one DC
// scan, then acScans AC scans, one coefficient at a time with successive
// approximation from bit 10 down, a valid progression. Arithmetic coding is
// written for side 8192 only: its scan data (the QM coder's output for
// 1024 x 1024 blocks of zeros) is the same for every scan. A 300-scan
// arithmetic stream is under 4 KB.
inline Bytes ProgressiveJpeg(int side, int acScans, JpegCoding coding) {
    const bool arithmetic = coding == JpegCoding::Arithmetic;
    if (arithmetic && side != 8192) return {};
    Bytes out = {0xFF, 0xD8};
    Bytes quant = {0};
    quant.resize(65, 1);
    detail::Segment(out, 0xDB, quant);
    const auto hi = static_cast<std::uint8_t>(side >> 8), lo = static_cast<std::uint8_t>(side);
    detail::Segment(out, arithmetic ? 0xCA : 0xC2, {8, hi, lo, hi, lo, 1, 1, 0x11, 0});
    if (!arithmetic) detail::Segment(out, 0xC4, detail::HuffmanTables());
    const std::int64_t blocks = std::int64_t{(side + 7) / 8} * ((side + 7) / 8);
    constexpr int kTopBit = 10;
    for (int i = -1; i < acScans; ++i) {
        const int k = i < 0 ? 0 : 1 + i / (kTopBit + 1), pass = i < 0 ? 0 : i % (kTopBit + 1);
        const int ah = pass == 0 ? 0 : kTopBit + 1 - pass;
        const int al = i < 0 ? 0 : pass == 0 ? kTopBit : ah - 1;
        detail::Segment(out, 0xDA,
                        {1, 1, 0x00, static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k),
                         static_cast<std::uint8_t>(ah << 4 | al)});
        if (arithmetic)
            out.insert(out.end(), {static_cast<std::uint8_t>(i < 0 ? 0x4B : 0xA5),
                                   static_cast<std::uint8_t>(i < 0 ? 0xC6 : 0xE3)});
        else
            detail::HuffmanScan(out, blocks, i < 0);
    }
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

// A fully transparent RGBA PNG, encoded row by row.
inline Bytes TransparentPng(std::uint32_t side) {
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(SPNG_CTX_ENCODER),
                                                       spng_ctx_free);
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1);
    spng_ihdr header{side, side, 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 0, 0, 0};
    spng_set_ihdr(ctx.get(), &header);
    if (spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG,
                          SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE) != 0)
        return {};
    const Bytes row(std::size_t{side} * 4, 0);
    for (std::uint32_t y = 0; y < side; ++y) spng_encode_row(ctx.get(), row.data(), row.size());
    std::size_t size = 0;
    int error = 0;
    std::unique_ptr<std::uint8_t, void (*)(void*)> png(
        static_cast<std::uint8_t*>(spng_get_png_buffer(ctx.get(), &size, &error)), std::free);
    return png ? Bytes(png.get(), png.get() + size) : Bytes();
}

}  // namespace testsupport
