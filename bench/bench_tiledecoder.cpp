// DrawTile into a cell of a frame against the bare library decode of the same
// bytes into a plain buffer, and libpng against libspng on 256x256 PNG tiles.
// Ends with the ratios. Typical run:
//   bench_tiledecoder --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <png.h>
#include <spng.h>
#include <turbojpeg.h>

#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "tiledecoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kSide = 256;

enum Kind { Rgb, Palette, Rgba };
const char* const kKindNames[] = {"rgb", "palette", "rgba"};

// Photo-like content: gradients with per-pixel noise.
Bytes Photo(int channels) {
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> noise(-12, 12);
    auto clamp = [](int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); };
    Bytes px;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const std::uint8_t rgba[] = {clamp(x + noise(rng)), clamp(y + noise(rng)),
                                         clamp((x + y) / 2 + noise(rng)),
                                         clamp(255 - y + noise(rng))};
            px.insert(px.end(), rgba, rgba + channels);
        }
    return px;
}

void AppendBytes(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

// Nothing with a destructor is created after setjmp, so the longjmp is sound.
bool WritePng(Kind kind, const Bytes& px, Bytes& out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_color> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[static_cast<std::size_t>(i)] = {
            static_cast<png_byte>(i), static_cast<png_byte>(255 - i), static_cast<png_byte>(i * 7)};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const int type = kind == Rgb       ? PNG_COLOR_TYPE_RGB
                     : kind == Palette ? PNG_COLOR_TYPE_PALETTE
                                       : PNG_COLOR_TYPE_RGBA;
    png_set_write_fn(png, &out, AppendBytes, nullptr);
    png_set_IHDR(png, info, kSide, kSide, 8, type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (kind == Palette) png_set_PLTE(png, info, palette.data(), 256);
    png_write_info(png, info);
    const std::size_t rowBytes = px.size() / kSide;
    for (int y = 0; y < kSide; ++y)
        png_write_row(png, px.data() + static_cast<std::size_t>(y) * rowBytes);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

const Bytes& PngTile(Kind kind) {
    static std::map<Kind, Bytes> tiles;
    Bytes& tile = tiles[kind];
    if (tile.empty() && !WritePng(kind, Photo(kind == Rgb ? 3 : kind == Palette ? 1 : 4), tile))
        std::abort();
    return tile;
}

const Bytes& JpegTile() {
    static const Bytes tile = [] {
        const Bytes px = Photo(3);
        std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitCompress(), tjDestroy);
        unsigned char* data = nullptr;
        unsigned long size = 0;
        if (tjCompress2(tj.get(), px.data(), kSide, 0, kSide, TJPF_RGB, &data, &size, TJSAMP_420,
                        85, 0) != 0)
            std::abort();
        const Bytes out(data, data + size);
        tjFree(data);
        return out;
    }();
    return tile;
}

// A frame as the renderer makes them: rows 64-byte aligned on an outside buffer.
struct Frame {
    static constexpr int kWidth = 1024;
    static constexpr int kPitch = kWidth * 3 + 64;
    std::vector<std::uint8_t> bytes =
        std::vector<std::uint8_t>(static_cast<std::size_t>(kPitch) * kWidth);
    QImage image{bytes.data(), kWidth, kWidth, kPitch, QImage::Format_RGB888};
};

void DrawTile(benchmark::State& state, const Bytes& tile) {
    Frame frame;
    corvalis::TileDecoder decoder;
    for (auto _ : state)
        if (!decoder.DrawTile(&frame.image, 512, 256, kSide, kSide, tile.data(),
                              static_cast<std::int64_t>(tile.size())))
            state.SkipWithError(decoder.LastError().c_str());
    state.SetBytesProcessed(state.iterations() * kSide * kSide * 3);
}

void BareJpeg(benchmark::State& state) {
    const Bytes& tile = JpegTile();
    std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitDecompress(), tjDestroy);
    Bytes out(kSide * kSide * 3);
    for (auto _ : state) {
        if (tjDecompress2(tj.get(), tile.data(), tile.size(), out.data(), kSide, 0, kSide, TJPF_RGB,
                          TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE) != 0)
            state.SkipWithError(tjGetErrorStr2(tj.get()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * kSide * kSide * 3);
}

// libspng's whole-image decode, RGBA for the transparent kind.
void Spng(benchmark::State& state, Kind kind) {
    const Bytes& tile = PngTile(kind);
    const int format = kind == Rgba ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
    Bytes out(kSide * kSide * 4);
    for (auto _ : state) {
        std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(0), spng_ctx_free);
        spng_set_png_buffer(ctx.get(), tile.data(), tile.size());
        if (spng_decode_image(ctx.get(), out.data(), out.size(), format, 0) != 0)
            state.SkipWithError("spng");
        benchmark::DoNotOptimize(out.data());
    }
}

struct PngSource {
    const Bytes* data;
    std::size_t pos;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t n) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (source->data->size() - source->pos < n) png_error(png, "truncated");
    std::memcpy(out, source->data->data() + source->pos, n);
    source->pos += n;
}

// libpng to 8-bit RGB (RGBA for the transparent kind); as with WritePng,
// nothing with a destructor lives past setjmp.
bool Libpng(const Bytes& tile, std::uint8_t* out, png_bytep* rows) {
    PngSource source{&tile, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, ReadBytes);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_read_update_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    for (std::size_t y = 0; y < kSide; ++y) rows[y] = out + y * rowBytes;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

void LibpngBench(benchmark::State& state, Kind kind) {
    const Bytes& tile = PngTile(kind);
    Bytes out(kSide * kSide * 4);
    std::vector<png_bytep> rows(kSide);
    for (auto _ : state) {
        if (!Libpng(tile, out.data(), rows.data())) state.SkipWithError("libpng");
        benchmark::DoNotOptimize(out.data());
    }
}

// Console output as usual, plus the fastest repetition of each benchmark kept
// by name: the least disturbed by whatever else the machine is doing.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool minimum = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
            if (run.run_type != Run::RT_Iteration && !minimum) continue;
            const double t = run.GetAdjustedRealTime();
            auto [it, fresh] = fastest.emplace(run.run_name.str(), t);
            if (!fresh) it->second = std::min(it->second, t);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double Ratio(const std::string& a, const std::string& b) const {
        return fastest.count(a) && fastest.count(b) ? fastest.at(a) / fastest.at(b) : 0.0;
    }

private:
    std::map<std::string, double> fastest;
};

}  // namespace

int main(int argc, char** argv) {
    auto fastest = [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    };
    std::vector<benchmark::internal::Benchmark*> all = {
        benchmark::RegisterBenchmark("jpeg/DrawTile", DrawTile, JpegTile()),
        benchmark::RegisterBenchmark("jpeg/bare", BareJpeg),
        benchmark::RegisterBenchmark("png/DrawTile", DrawTile, PngTile(Rgb)),
        benchmark::RegisterBenchmark("png/bare", Spng, Rgb),
    };
    for (Kind kind : {Rgb, Palette, Rgba}) {
        all.push_back(benchmark::RegisterBenchmark(
            (std::string("pnglib/libpng/") + kKindNames[kind]).c_str(), LibpngBench, kind));
        all.push_back(benchmark::RegisterBenchmark(
            (std::string("pnglib/spng/") + kKindNames[kind]).c_str(), Spng, kind));
    }
    for (auto* b : all) b->ComputeStatistics("min", fastest);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nDrawTile / bare decode (1.00 = same speed):\n");
    std::printf("  jpeg 256x256 %.3f\n", reporter.Ratio("jpeg/DrawTile", "jpeg/bare"));
    std::printf("  png  256x256 %.3f\n", reporter.Ratio("png/DrawTile", "png/bare"));
    std::printf("libpng / libspng (below 1.00: libpng faster):\n");
    for (const char* kind : kKindNames)
        std::printf("  %-8s %.3f\n", kind,
                    reporter.Ratio(std::string("pnglib/libpng/") + kind,
                                   std::string("pnglib/spng/") + kind));
    benchmark::Shutdown();
    return 0;
}
