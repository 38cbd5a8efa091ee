// Vector tiles against raster tiles of the same cell size:
//   vector/draw/SIDE       a generated Earth tile (a few thousand features:
//                          land, coastline, graticule, roads, places; gzip)
//                          inflated, decoded and drawn into a cell, against
//   jpeg/draw/SIDE         TileDecoder::DrawTile of the JPEG tile (quality 85)
//                          of the same place and size;
//   vector/decode          inflating and decoding alone, against the JPEG
//                          draw of 512 pixels;
//   hostile/KIND/512       tiles at the vertex budget (2^20 vertices of
//                          sub-pixel steps) as hairlines, road lines, polygons
//                          and points: how long the worst tile admitted takes;
//   view/KIND/threads:N    the cells of a 1920 x 1080 view (a block of 4 x 3
//                          cells of 512 pixels) drawn into one frame by N
//                          threads, each with its own codec and its own
//                          picture over the frame, as the decode pool does:
//                          vector against JPEG, and N threads against one;
//   render/KIND/threads:N  a forced render of a 1920 x 1080 view through the
//                          renderer (frames forgotten first, N decode
//                          threads) at level 4 of a store of 512-pixel tiles:
//                          the generator's vector tiles against the JPEG
//                          photo store's (quality 85).
// Each runs three times, interleaved at random; ratios use the fastest run.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "earthtiles.h"
#include "maprenderer.h"
#include "mvtwriter.h"
#include "photostores.h"
#include "ratioreporter.h"
#include "tiledecoder.h"
#include "tilesource.h"
#include "vectorcodec.h"
#include "vectortiles.h"

namespace {

namespace mvt = testsupport::mvt;
using Bytes = std::vector<std::uint8_t>;
constexpr int kRepetitions = 3;
constexpr int kLevel = 4;

struct Tiles {
    std::vector<Bytes> vector, jpeg256, jpeg512;
};

// Eight tiles of level 4 across the northern mid-latitudes: land and sea.
const Tiles& Scene() {
    static const Tiles tiles = [] {
        Tiles t;
        const QImage world = testsupport::LoadWorld(testsupport::kDefaultEarthPicture);
        for (int x = 0; x < 16; x += 2) {
            t.vector.push_back(mvt::Gzip(testsupport::EarthVectorTile(world, kLevel, x, 5)));
            for (int side : {256, 512}) {
                const QImage tile = testsupport::RenderEarthTile(world, kLevel, x, 5, side);
                (side == 256 ? t.jpeg256 : t.jpeg512)
                    .push_back(testsupport::EncodeImage(tile, "JPG", 85));
            }
        }
        return t;
    }();
    return tiles;
}

// 2^20 vertices in parts of 16, each part a few tile units across.
Bytes Hostile(std::uint32_t type, const char* layerName) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> at(0, 4095), step(-3, 3);
    mvt::Layer layer(layerName);
    const std::size_t parts = corvalis::VectorTileLimits::kMaxVertices / 16;
    for (std::size_t p = 0; p < parts; ++p) {
        std::vector<mvt::Vertex> v = {{at(rng), at(rng)}};
        while (v.size() < 16) v.push_back({v.back().x + step(rng) + 1, v.back().y + step(rng)});
        if (type == mvt::kPoint) layer.features.push_back({type, mvt::Points(v)});
        if (type == mvt::kLine) layer.features.push_back({type, mvt::Lines({v})});
        if (type == mvt::kPolygon) layer.features.push_back({type, mvt::Polygon({v})});
    }
    return mvt::Gzip(mvt::Write({layer}));
}

struct Frame {
    explicit Frame(int side) : image(side + 64, side + 64, QImage::Format_RGB888) {
        image.fill(Qt::white);
    }
    QImage image;
};

void DrawVector(benchmark::State& state, const std::vector<Bytes>* tiles, int side) {
    Frame frame(side);
    corvalis::VectorCodec codec;
    std::size_t i = 0;
    for (auto _ : state) {
        const Bytes& tile = (*tiles)[i++ % tiles->size()];
        std::string error;
        if (!codec.Draw(frame.image, {32, 32, side, side}, tile.data(), tile.size(), {}, error))
            state.SkipWithError(error.c_str());
    }
}

void DecodeVector(benchmark::State& state, const std::vector<Bytes>* tiles) {
    corvalis::VectorCodec codec;
    corvalis::VectorTile tile;
    std::size_t i = 0;
    for (auto _ : state) {
        const Bytes& bytes = (*tiles)[i++ % tiles->size()];
        std::string error;
        if (!codec.Decode(bytes.data(), bytes.size(), tile, error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(tile.layers.data());
    }
}

void DrawJpeg(benchmark::State& state, const std::vector<Bytes>* tiles, int side) {
    Frame frame(side);
    corvalis::TileDecoder decoder;
    std::size_t i = 0;
    for (auto _ : state) {
        const Bytes& tile = (*tiles)[i++ % tiles->size()];
        if (!decoder.DrawTile(&frame.image, 32, 32, side, side, tile.data(),
                              static_cast<std::int64_t>(tile.size())))
            state.SkipWithError(decoder.LastError().c_str());
    }
}

// Cell i of the block gets tile i of the scene (cyclically); thread t of
// threads draws the cells t, t + threads, ...
template <class DrawCell>
void View(benchmark::State& state, int threads, DrawCell drawCell) {
    constexpr int kColumns = 4, kRows = 3, kSide = 512;
    QImage frame(kColumns * kSide, kRows * kSide, QImage::Format_RGB888);
    auto run = [&](int first) {
        QImage own(frame.bits(), frame.width(), frame.height(), frame.bytesPerLine(),
                   frame.format());
        auto drawer = drawCell();
        for (int cell = first; cell < kColumns * kRows; cell += threads)
            if (!drawer(own,
                        QRect((cell % kColumns) * kSide, (cell / kColumns) * kSide, kSide, kSide),
                        static_cast<std::size_t>(cell)))
                state.SkipWithError("a tile failed");
    };
    for (auto _ : state) {
        std::vector<std::thread> pool;
        for (int t = 1; t < threads; ++t) pool.emplace_back(run, t);
        run(0);
        for (auto& thread : pool) thread.join();
    }
}

void ViewVector(benchmark::State& state, int threads) {
    View(state, threads, [] {
        return [codec = std::make_shared<corvalis::VectorCodec>()](QImage& f, QRect cell,
                                                                   std::size_t i) {
            const Bytes& tile = Scene().vector[i % Scene().vector.size()];
            std::string error;
            return codec->Draw(f, cell, tile.data(), tile.size(), {}, error);
        };
    });
}

void ViewJpeg(benchmark::State& state, int threads) {
    View(state, threads, [] {
        return [decoder = std::make_shared<corvalis::TileDecoder>()](QImage& f, QRect cell,
                                                                     std::size_t i) {
            const Bytes& tile = Scene().jpeg512[i % Scene().jpeg512.size()];
            return decoder->DrawTile(&f, cell.x(), cell.y(), cell.width(), cell.height(),
                                     tile.data(), static_cast<std::int64_t>(tile.size()));
        };
    });
}

// Levels 4 of the Earth's vector tiles, written on first use.
const std::string& VectorStorePath() {
    static const std::string path = [] {
        const std::string file = benchsupport::Scratch().File("earth-vector.mbtiles");
        std::fprintf(stderr, "generating the vector store...\n");
        const QImage world = testsupport::LoadWorld(testsupport::kDefaultEarthPicture);
        testsupport::WriteVectorMbtiles(file, world, kLevel, kLevel);
        return file;
    }();
    return path;
}

void ForcedRender(benchmark::State& state, const std::string* path, int threads) {
    corvalis::TileDatabase store;
    std::string error;
    if (!store.Open(*path, error)) return state.SkipWithError(error.c_str());
    corvalis::MapViewport viewport;
    viewport.SetViewSize(1920, 1080);
    viewport.AttachStore(&store);
    viewport.SetZoom(kLevel, true);
    corvalis::MapRenderer renderer;
    corvalis::TileDecoder decoder;
    renderer.SetDecodeThreads(threads);
    renderer.SetVectorStyle({}, store.vectorTiles());
    for (auto _ : state) {
        renderer.ResetFrames();
        renderer.Render(store, decoder, viewport, true);
        if (renderer.MissingCount() != 0 || renderer.LoadedCount() == 0)
            state.SkipWithError("not every tile was drawn");
    }
    state.counters["tiles"] = renderer.LoadedCount();
}

}  // namespace

int main(int argc, char** argv) {
    // The painter needs a GUI application, not a display: run headless unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    auto add = [](const std::string& name, auto&&... args) {
        return benchmark::RegisterBenchmark(name.c_str(), args...)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime()
            ->Repetitions(kRepetitions);
    };
    const Tiles& scene = Scene();
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int side : {256, 512}) {
        const std::string s = std::to_string(side);
        const auto* jpeg = side == 256 ? &scene.jpeg256 : &scene.jpeg512;
        add("jpeg/draw/" + s, DrawJpeg, jpeg, side);
        add("vector/draw/" + s, DrawVector, &scene.vector, side);
        pairs.emplace_back("vector/draw/" + s + "/real_time", "jpeg/draw/" + s + "/real_time");
    }
    add("vector/decode", DecodeVector, &scene.vector);
    pairs.emplace_back("vector/decode/real_time", "jpeg/draw/512/real_time");
    static std::vector<std::vector<Bytes>> hostile;
    const std::pair<const char*, std::pair<std::uint32_t, const char*>> kinds[] = {
        {"hairlines", {mvt::kLine, "lines"}},
        {"roads", {mvt::kLine, "roads"}},
        {"polygons", {mvt::kPolygon, "areas"}},
        {"points", {mvt::kPoint, "places"}}};
    hostile.reserve(std::size(kinds));
    for (const auto& [name, kind] : kinds) {
        hostile.push_back({Hostile(kind.first, kind.second)});
        const std::string full = std::string("hostile/") + name + "/512";
        add(full, DrawVector, &hostile.back(), 512);
        pairs.emplace_back(full + "/real_time", "jpeg/draw/512/real_time");
    }
    const int threads = static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
    for (int n : {1, threads}) {
        const std::string t = "/threads:" + std::to_string(n);
        add("view/jpeg" + t, ViewJpeg, n)->Unit(benchmark::kMillisecond);
        add("view/vector" + t, ViewVector, n)->Unit(benchmark::kMillisecond);
        pairs.emplace_back("view/vector" + t + "/real_time", "view/jpeg" + t + "/real_time");
    }
    pairs.emplace_back("view/vector/threads:" + std::to_string(threads) + "/real_time",
                       "view/vector/threads:1/real_time");
    static const std::string vectorStore = VectorStorePath();
    static const std::string jpegStore =
        benchsupport::PhotoStorePath({benchsupport::PhotoFormat::Jpeg, 512});
    for (int n : {1, threads}) {
        const std::string t = "/threads:" + std::to_string(n);
        add("render/jpeg512" + t, ForcedRender, &jpegStore, n)->Unit(benchmark::kMillisecond);
        add("render/vector" + t, ForcedRender, &vectorStore, n)->Unit(benchmark::kMillisecond);
        pairs.emplace_back("render/vector" + t + "/real_time", "render/jpeg512" + t + "/real_time");
    }
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, interleave.data());
    return benchsupport::RunWithRatios(static_cast<int>(args.size()), args.data(), pairs);
}
