// PNG tiles through the fast path against libspng alone, and the inflaters
// the fast path was chosen from, on four sets of Earth tiles as the photo
// stores draw them (bench/photostores.h):
//   photo256, photo512  RGB tiles of the deepest levels, written by Qt;
//   palette256          the same 256-pixel tiles in 256 colours (8-bit palette);
//   rgba256             the same with an alpha channel.
//   decode/fast/SET      PngCodec Open and Decode of every tile (the way DrawTile
//                        decodes), against decode/libspng/SET, the same codec
//                        with the fast path off (libspng as before);
//   inflate/LIB/SET      the tiles' image data (their zlib streams) inflated
//                        into a buffer of exactly the picture's size by zlib
//                        (libspng's inflater), libdeflate and ISA-L's igzip;
//   paired/SET/...       fast path and libspng timed in every iteration, in
//                        alternating order, for the steadier figure.
// Every benchmark runs three times, interleaved at random; the ratios use the
// fastest run (the median one for the paired runs).
#include <benchmark/benchmark.h>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <QImage>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "decode_codecs.h"
#include "earthtiles.h"
#include "pngwriter.h"
#include "ratioreporter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using corvalis::detail::PngCodec;

constexpr int kRepetitions = 3;
constexpr double kPairedSeconds = 2.0;

struct Tile {
    Bytes png;
    Bytes stream;          // the IDAT data together
    std::size_t inflated;  // rows and their filter bytes
    int side;
};

enum class Set { Photo256, Photo512, Palette256, Rgba256 };
const char* const kSetNames[] = {"photo256", "photo512", "palette256", "rgba256"};

// Tiles of a block in the middle of the deepest level (the world 8192 pixels
// wide), as the photo stores draw them.
std::vector<QImage> EarthTiles(int side) {
    static const QImage world = testsupport::LoadWorld(testsupport::kDefaultEarthPicture);
    const int z = side >= 512 ? 4 : 5;
    const int across = side >= 512 ? 4 : 8;
    std::vector<QImage> tiles;
    for (int y = (1 << z) / 2 - 2; y < (1 << z) / 2 + 2; ++y)
        for (int x = (1 << z) / 2 - across / 2; x < (1 << z) / 2 + across / 2; ++x)
            tiles.push_back(testsupport::RenderEarthTile(world, z, x, y, side));
    return tiles;
}

QImage WithAlpha(const QImage& tile) {
    QImage rgba = tile.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < rgba.height(); ++y) {
        auto* px = reinterpret_cast<QRgb*>(rgba.scanLine(y));
        for (int x = 0; x < rgba.width(); ++x)  // the sea see-through, the land solid
            px[x] = qRgba(qRed(px[x]), qGreen(px[x]), qBlue(px[x]),
                          qBlue(px[x]) > qGreen(px[x]) ? 96 + (x + y) % 64 : 255);
    }
    return rgba;
}

const std::vector<Tile>& Tiles(Set set) {
    static std::map<Set, std::vector<Tile>> made;
    std::vector<Tile>& tiles = made[set];
    if (!tiles.empty()) return tiles;
    const int side = set == Set::Photo512 ? 512 : 256;
    for (const QImage& earth : EarthTiles(side)) {
        const QImage picture = set == Set::Palette256
                                   ? earth.convertToFormat(QImage::Format_Indexed8)
                               : set == Set::Rgba256 ? WithAlpha(earth)
                                                     : earth;
        Tile t{testsupport::EncodeImage(picture, "PNG", -1), {}, 0, side};
        t.stream = testsupport::PngImageData(t.png);
        const std::uint8_t* ihdr = t.png.data() + 16;
        const int channels = ihdr[9] == 2 ? 3 : ihdr[9] == 6 ? 4 : ihdr[9] == 4 ? 2 : 1;
        const std::size_t rowBytes = (static_cast<std::size_t>(side) * channels * ihdr[8] + 7) / 8;
        t.inflated = static_cast<std::size_t>(side) * (rowBytes + 1);
        tiles.push_back(std::move(t));
    }
    return tiles;
}

// PngCodec over every tile of a set, into a plain buffer.
class DecodePass {
public:
    DecodePass(Set set, bool fastPath) : tiles_(Tiles(set)), codec_(fastPath) {}
    bool Run() {
        bool ok = true;
        for (const Tile& t : tiles_) {
            corvalis::detail::ImageSize size;
            std::string error;
            pixels_.resize(static_cast<std::size_t>(t.side) * t.side * 3);
            ok = codec_.Open(t.png.data(), t.png.size(), size, error) &&
                 codec_.Decode({pixels_.data(), t.side * 3, size.width, size.height}, error) && ok;
        }
        benchmark::DoNotOptimize(pixels_.data());
        return ok;
    }
    PngCodec::Route LastRoute() const { return codec_.LastRoute(); }
    const Bytes& Pixels() const { return pixels_; }

private:
    const std::vector<Tile>& tiles_;
    PngCodec codec_;
    Bytes pixels_;
};

// Each library inflates every tile's zlib stream into a buffer of its size.
enum class Inflater { Zlib, Libdeflate, Isal };
const char* const kInflaterNames[] = {"zlib", "libdeflate", "isal"};

class InflatePass {
public:
    explicit InflatePass(Set set, Inflater inflater)
        : tiles_(Tiles(set)),
          inflater_(inflater),
          libdeflate_(libdeflate_alloc_decompressor(), libdeflate_free_decompressor),
          isal_(std::make_unique<inflate_state>()) {
        if (inflateInit(&zlib_) != Z_OK) std::abort();
    }
    ~InflatePass() { inflateEnd(&zlib_); }
    InflatePass(const InflatePass&) = delete;
    InflatePass& operator=(const InflatePass&) = delete;

    bool Run() {
        bool ok = true;
        for (const Tile& t : tiles_) {
            out_.resize(t.inflated);
            ok = Inflate(t) && ok;
        }
        benchmark::DoNotOptimize(out_.data());
        return ok;
    }

private:
    bool Inflate(const Tile& t) {
        auto* in = const_cast<std::uint8_t*>(t.stream.data());
        if (inflater_ == Inflater::Libdeflate)
            return libdeflate_zlib_decompress(libdeflate_.get(), in, t.stream.size(), out_.data(),
                                              out_.size(), nullptr) == LIBDEFLATE_SUCCESS;
        if (inflater_ == Inflater::Isal) {
            isal_inflate_init(isal_.get());
            isal_->crc_flag = ISAL_ZLIB;
            isal_->next_in = in;
            isal_->avail_in = static_cast<std::uint32_t>(t.stream.size());
            isal_->next_out = out_.data();
            isal_->avail_out = static_cast<std::uint32_t>(out_.size());
            return isal_inflate_stateless(isal_.get()) == ISAL_DECOMP_OK &&
                   isal_->total_out == out_.size();
        }
        inflateReset(&zlib_);
        zlib_.next_in = in;
        zlib_.avail_in = static_cast<uInt>(t.stream.size());
        zlib_.next_out = out_.data();
        zlib_.avail_out = static_cast<uInt>(out_.size());
        return inflate(&zlib_, Z_FINISH) == Z_STREAM_END && zlib_.avail_out == 0;
    }

    const std::vector<Tile>& tiles_;
    Inflater inflater_;
    std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> libdeflate_;
    std::unique_ptr<inflate_state> isal_;
    z_stream zlib_{};
    Bytes out_;
};

template <class Pass, class Way>
void Repeat(benchmark::State& state, Set set, Way way) {
    Pass pass(set, way);
    for (auto _ : state)
        if (!pass.Run()) state.SkipWithError("a tile failed");
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Tiles(set).size()));
}

double Seconds(DecodePass& pass, bool& ok) {
    const auto start = std::chrono::steady_clock::now();
    ok = pass.Run() && ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Both ways in every iteration, in alternating order; "ratio" is fast over libspng.
void Paired(benchmark::State& state, Set set) {
    DecodePass fast(set, true);
    DecodePass libspng(set, false);
    double fastSum = 0, libspngSum = 0;
    bool ok = true, libspngFirst = false;
    for (auto _ : state) {
        double b = libspngFirst ? Seconds(libspng, ok) : 0;
        const double m = Seconds(fast, ok);
        if (!libspngFirst) b = Seconds(libspng, ok);
        libspngFirst = !libspngFirst;
        fastSum += m;
        libspngSum += b;
        state.SetIterationTime(m);
    }
    if (!ok) state.SkipWithError("a tile failed");
    state.counters["libspng_ms"] = libspngSum * 1e3 / static_cast<double>(state.iterations());
    state.counters["ratio"] = libspngSum > 0 ? fastSum / libspngSum : 0;
}

bool Decode(PngCodec& codec, const Tile& t, Bytes& pixels) {
    corvalis::detail::ImageSize size;
    std::string error;
    pixels.assign(static_cast<std::size_t>(t.side) * t.side * 3, 0);
    return codec.Open(t.png.data(), t.png.size(), size, error) &&
           codec.Decode({pixels.data(), t.side * 3, size.width, size.height}, error);
}

// Every tile of every set goes the fast way, with libspng's pixels.
void CheckSets() {
    PngCodec fast, libspng(false);
    Bytes a, b;
    for (Set set : {Set::Photo256, Set::Photo512, Set::Palette256, Set::Rgba256})
        for (const Tile& t : Tiles(set))
            if (!Decode(fast, t, a) || !Decode(libspng, t, b) ||
                fast.LastRoute() != PngCodec::Route::Fast || a != b) {
                std::fprintf(stderr, "%s: the fast path does not match libspng\n",
                             kSetNames[static_cast<int>(set)]);
                std::abort();
            }
}

}  // namespace

int main(int argc, char** argv) {
    CheckSets();
    std::vector<std::pair<std::string, std::string>> pairs;
    auto add = [](const std::string& name, auto&&... args) {
        return benchmark::RegisterBenchmark(name.c_str(), args...)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime()
            ->Repetitions(kRepetitions);
    };
    for (Set set : {Set::Photo256, Set::Photo512, Set::Palette256, Set::Rgba256}) {
        const std::string name = kSetNames[static_cast<int>(set)];
        add("decode/libspng/" + name, Repeat<DecodePass, bool>, set, false);
        add("decode/fast/" + name, Repeat<DecodePass, bool>, set, true);
        pairs.emplace_back("decode/fast/" + name + "/real_time",
                           "decode/libspng/" + name + "/real_time");
        for (Inflater inflater : {Inflater::Zlib, Inflater::Libdeflate, Inflater::Isal})
            add(std::string("inflate/") + kInflaterNames[static_cast<int>(inflater)] + "/" + name,
                Repeat<InflatePass, Inflater>, set, inflater);
        for (const char* lib : {"libdeflate", "isal"})
            pairs.emplace_back(std::string("inflate/") + lib + "/" + name + "/real_time",
                               "inflate/zlib/" + name + "/real_time");
        benchmark::RegisterBenchmark(("paired/" + name + "/fast-vs-libspng").c_str(), Paired, set)
            ->Unit(benchmark::kMicrosecond)
            ->UseManualTime()
            ->MinTime(kPairedSeconds)
            ->Repetitions(kRepetitions);
    }
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, interleave.data());
    return benchsupport::RunWithRatios(static_cast<int>(args.size()), args.data(), pairs);
}
