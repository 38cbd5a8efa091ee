#include "decompress.h"

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <array>
#include <climits>

namespace corvalis {

namespace {

enum class Step : std::uint8_t { Progress, End, Error };

// The largest zstd window accepted: 64 MiB, as much as the largest output
// any caller allows. Frames that ask for more are refused instead of
// allocating their window.
constexpr int kZstdWindowLogMax = 26;
// The longest zstd frame header (the library's own constant is not part of
// its stable interface).
constexpr std::size_t kZstdFrameHeaderMax = 18;
// First output allocation; it then doubles up to the limit.
constexpr std::size_t kFirstOutput = 16 * 1024;

}  // namespace

struct Decompressor::Engine {
    virtual ~Engine() = default;
    virtual bool ready() const = 0;
    // Decompresses what it can of in into out; reports what it took and gave.
    virtual Step Run(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out,
                     std::size_t outSize, std::size_t& consumed, std::size_t& written) = 0;
};

namespace {

// zlib's counters are unsigned int; pieces are cut to fit them.
unsigned int ZlibCount(std::size_t n) {
    return static_cast<unsigned int>(std::min<std::size_t>(n, UINT_MAX));
}

class ZlibEngine : public Decompressor::Engine {
public:
    // 15 + 32: the largest window, with the gzip or zlib header detected.
    ZlibEngine() { ok_ = inflateInit2(&zs_, 15 + 32) == Z_OK; }
    ~ZlibEngine() override {
        if (ok_) inflateEnd(&zs_);
    }
    bool ready() const override { return ok_; }
    Step Run(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize,
             std::size_t& consumed, std::size_t& written) override {
        zs_.next_in = const_cast<Bytef*>(in);
        zs_.avail_in = ZlibCount(inSize);
        zs_.next_out = out;
        zs_.avail_out = ZlibCount(outSize);
        const unsigned int inBefore = zs_.avail_in, outBefore = zs_.avail_out;
        const int rc = inflate(&zs_, Z_NO_FLUSH);
        consumed = inBefore - zs_.avail_in;
        written = outBefore - zs_.avail_out;
        if (rc == Z_STREAM_END) return Step::End;
        return rc == Z_OK || rc == Z_BUF_ERROR ? Step::Progress : Step::Error;
    }

private:
    z_stream zs_{};
    bool ok_ = false;
};

class ZstdEngine : public Decompressor::Engine {
public:
    ZstdEngine() : ctx_(ZSTD_createDCtx()) {
        if (ctx_) ZSTD_DCtx_setParameter(ctx_, ZSTD_d_windowLogMax, kZstdWindowLogMax);
    }
    ~ZstdEngine() override { ZSTD_freeDCtx(ctx_); }
    bool ready() const override { return ctx_ != nullptr; }
    Step Run(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize,
             std::size_t& consumed, std::size_t& written) override {
        const std::size_t headPart = std::min(inSize, head_.size() - headSize_);
        std::copy(in, in + headPart, head_.begin() + static_cast<std::ptrdiff_t>(headSize_));
        headSize_ += headPart;
        ZSTD_inBuffer input{in, inSize, 0};
        ZSTD_outBuffer output{out, outSize, 0};
        const std::size_t rc = ZSTD_decompressStream(ctx_, &output, &input);
        consumed = input.pos;
        written = output.pos;
        total_ += written;
        if (ZSTD_isError(rc)) return Step::Error;
        return rc != 0 ? Step::Progress : SizeAsDeclared() ? Step::End : Step::Error;
    }

private:
    // The streaming decoder of libzstd 1.5.4 lets a frame that ends with an
    // empty block stop short of the content size its header declares; the
    // one-shot decoder refuses it, and so is it refused here.
    bool SizeAsDeclared() const {
        const unsigned long long declared = ZSTD_getFrameContentSize(head_.data(), headSize_);
        return declared == ZSTD_CONTENTSIZE_UNKNOWN || declared == ZSTD_CONTENTSIZE_ERROR ||
               declared == total_;
    }

    ZSTD_DCtx* ctx_;
    std::array<std::uint8_t, kZstdFrameHeaderMax> head_{};
    std::size_t headSize_ = 0;
    std::uint64_t total_ = 0;
};

class BrotliEngine : public Decompressor::Engine {
public:
    BrotliEngine() : state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
    ~BrotliEngine() override { BrotliDecoderDestroyInstance(state_); }
    bool ready() const override { return state_ != nullptr; }
    Step Run(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize,
             std::size_t& consumed, std::size_t& written) override {
        std::size_t availIn = inSize, availOut = outSize;
        const std::uint8_t* nextIn = in;
        std::uint8_t* nextOut = out;
        const BrotliDecoderResult rc =
            BrotliDecoderDecompressStream(state_, &availIn, &nextIn, &availOut, &nextOut, nullptr);
        consumed = inSize - availIn;
        written = outSize - availOut;
        if (rc == BROTLI_DECODER_RESULT_SUCCESS) return Step::End;
        return rc == BROTLI_DECODER_RESULT_ERROR ? Step::Error : Step::Progress;
    }

private:
    BrotliDecoderState* state_;
};

std::unique_ptr<Decompressor::Engine> MakeEngine(Compression compression) {
    switch (compression) {
        case Compression::Gzip: return std::make_unique<ZlibEngine>();
        case Compression::Zstd: return std::make_unique<ZstdEngine>();
        case Compression::Brotli: return std::make_unique<BrotliEngine>();
        case Compression::None: break;
    }
    return nullptr;
}

}  // namespace

Decompressor::Decompressor(Compression compression, std::size_t limit)
    : compression_(compression),
      limit_(std::min<std::size_t>(limit, SIZE_MAX - 1)),
      engine_(MakeEngine(compression)) {
    if (compression_ != Compression::None && !engine_->ready()) status_ = DecompressStatus::Corrupt;
}

Decompressor::~Decompressor() = default;

DecompressStatus Decompressor::Feed(const std::uint8_t* data, std::size_t size, bool last) {
    if (status_ != DecompressStatus::More) return status_;
    if (compression_ == Compression::None) {
        if (size > limit_ - produced_) return status_ = DecompressStatus::TooLarge;
        out_.insert(out_.end(), data, data + size);
        produced_ += size;
        return status_ = last ? DecompressStatus::Ok : DecompressStatus::More;
    }
    status_ = Run(data, size);
    if (status_ == DecompressStatus::More && last) status_ = DecompressStatus::Corrupt;
    if (status_ != DecompressStatus::Ok && status_ != DecompressStatus::More) out_.clear();
    return status_;
}

// Runs the engine over one piece, growing the output up to one byte past the
// limit: a stream that fills that byte is too large.
DecompressStatus Decompressor::Run(const std::uint8_t* data, std::size_t size) {
    std::size_t taken = 0;
    for (;;) {
        if (produced_ == out_.size()) {
            if (out_.size() > limit_) return DecompressStatus::TooLarge;
            out_.resize(std::min(limit_ + 1, std::max(out_.size() * 2, kFirstOutput)));
        }
        const std::size_t room = out_.size() - produced_;
        std::size_t consumed = 0, written = 0;
        const Step step = engine_->Run(data + taken, size - taken, out_.data() + produced_, room,
                                       consumed, written);
        taken += consumed;
        produced_ += written;
        if (produced_ > limit_) return DecompressStatus::TooLarge;
        if (step == Step::Error) return DecompressStatus::Corrupt;
        if (step == Step::End) {
            out_.resize(produced_);
            return DecompressStatus::Ok;
        }
        if (written < room) {
            // Room was left: the engine wants more input, or is stuck on what it has.
            if (taken == size) return DecompressStatus::More;
            if (consumed == 0 && written == 0) return DecompressStatus::Corrupt;
        }
    }
}

DecompressStatus Decompress(Compression compression, const std::uint8_t* data, std::size_t size,
                            std::size_t limit, std::vector<std::uint8_t>& out) {
    Decompressor d(compression, limit);
    const DecompressStatus status = d.Feed(data, size, true);
    out = status == DecompressStatus::Ok ? std::move(d.output()) : std::vector<std::uint8_t>{};
    return status;
}

}  // namespace corvalis
