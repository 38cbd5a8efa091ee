// What the rendering benchmarks share: a photo store opened in a 1920 x 1080
// view at its deepest level, and the bare library decodes they are measured
// against (straight into a frame's rows or into a plain buffer).
#pragma once

#include <spng.h>
#include <turbojpeg.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "maprenderer.h"
#include "maprenderer_frame.h"
#include "mapviewport.h"
#include "photostores.h"
#include "tiledecoder.h"
#include "tilesource.h"

namespace benchsupport {

inline constexpr int kViewWidth = 1920;
inline constexpr int kViewHeight = 1080;

// The store for kind in a 1920 x 1080 view centred on the world at the deepest
// level, and the block of tiles a forced render composes there.
struct Scene {
    corvalis::TileDatabase store;
    corvalis::MapViewport viewport;
    corvalis::TileGrid grid;

    explicit Scene(const PhotoKind& kind) {
        std::string error;
        if (!store.Open(PhotoStorePath(kind), error)) {
            std::fprintf(stderr, "cannot open the %s store: %s\n", kind.Name().c_str(),
                         error.c_str());
            std::abort();
        }
        viewport.SetViewSize(kViewWidth, kViewHeight);
        viewport.AttachStore(&store);
        viewport.SetZoom(kind.MaxZoom(), true);
        grid = corvalis::BuildTileGrid(viewport, corvalis::PrefetchFactor);
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    int Cells() const { return (grid.maxX - grid.minX + 1) * (grid.maxY - grid.minY + 1); }

    // Copies of the block's tiles, row by row.
    std::vector<std::vector<std::uint8_t>> TileBytes() {
        std::vector<std::vector<std::uint8_t>> out;
        for (int y = grid.minY; y <= grid.maxY; ++y)
            for (int x = grid.minX; x <= grid.maxX; ++x) {
                const std::uint8_t* data = nullptr;
                std::int32_t count = 0;
                if (store.ReadTile(grid.zoom, x, y, data, count))
                    out.emplace_back(data, data + count);
            }
        return out;
    }
};

inline Scene& SceneFor(const PhotoKind& kind) {
    static std::map<PhotoKind, std::unique_ptr<Scene>> scenes;
    auto& scene = scenes[kind];
    if (!scene) scene = std::make_unique<Scene>(kind);
    return *scene;
}

// The libraries called directly in their fastest mode: TurboJPEG, and libspng
// row by row (whole image into a plain buffer when pitch is width * 3).
class BareDecoder {
public:
    BareDecoder() : jpeg_(tjInitDecompress(), tjDestroy) {}

    bool Decode(PhotoFormat format, const std::uint8_t* bytes, std::int32_t count,
                std::uint8_t* first, std::ptrdiff_t pitch, int width, int height) {
        if (format == PhotoFormat::Jpeg)
            return tjDecompress2(jpeg_.get(), bytes, static_cast<unsigned long>(count), first,
                                 width, static_cast<int>(pitch), height, TJPF_RGB,
                                 TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE) == 0;
        std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(0), spng_ctx_free);
        if (!ctx || spng_set_png_buffer(ctx.get(), bytes, static_cast<std::size_t>(count)) != 0)
            return false;
        const auto rowBytes = static_cast<std::size_t>(width) * 3;
        if (pitch == static_cast<std::ptrdiff_t>(rowBytes))
            return spng_decode_image(ctx.get(), first, rowBytes * static_cast<std::size_t>(height),
                                     SPNG_FMT_RGB8, 0) == 0;
        if (spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGB8, SPNG_DECODE_PROGRESSIVE) != 0)
            return false;
        int rc = 0;
        for (int row = 0; row < height && rc == 0; ++row)
            rc = spng_decode_row(ctx.get(), first + row * pitch, rowBytes);
        return rc == SPNG_EOI;
    }

private:
    std::unique_ptr<void, int (*)(tjhandle)> jpeg_;
};

// One forced render of the scene from nothing (as after opening), on the
// given number of decode threads. Run is true when every tile was drawn.
class RenderPass {
public:
    RenderPass(Scene& scene, int threads) : scene_(scene) {
        renderer_.SetDecodeThreads(threads);
        renderer_.SetMissingTile(corvalis::FallbackMissingTile());
    }
    bool Run() {
        renderer_.ResetFrames();
        renderer_.Render(scene_.store, decoder_, scene_.viewport, true);
        return renderer_.LoadedCount() == scene_.Cells();
    }

private:
    Scene& scene_;
    corvalis::MapRenderer renderer_;
    corvalis::TileDecoder decoder_;
};

// The floor: the same tiles read and decoded straight into an aligned frame
// by a minimal loop. Run is true when every tile was drawn.
class FloorPass {
public:
    FloorPass(Scene& scene, PhotoFormat format) : scene_(scene), format_(format) {
        if (!frame_.Resize(scene.grid.pixelWidth, scene.grid.pixelHeight)) std::abort();
    }
    bool Run() {
        const corvalis::TileGrid& grid = scene_.grid;
        std::uint8_t* base = frame_.Image().bits();
        const std::ptrdiff_t pitch = frame_.Image().bytesPerLine();
        int drawn = 0;
        for (int y = grid.minY; y <= grid.maxY; ++y)
            for (int x = grid.minX; x <= grid.maxX; ++x) {
                const std::uint8_t* bytes = nullptr;
                std::int32_t count = 0;
                std::uint8_t* cell = base + (y - grid.minY) * grid.tileHeight * pitch +
                                     (x - grid.minX) * grid.tileWidth * 3;
                drawn += scene_.store.ReadTile(grid.zoom, x, y, bytes, count) &&
                         bare_.Decode(format_, bytes, count, cell, pitch, grid.tileWidth,
                                      grid.tileHeight);
            }
        return drawn == scene_.Cells();
    }

private:
    Scene& scene_;
    PhotoFormat format_;
    corvalis::FrameBuffer frame_;
    BareDecoder bare_;
};

}  // namespace benchsupport
