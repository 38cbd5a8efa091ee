// MapViewport and BuildTileGrid over stores of arbitrary extents (up to
// column 2^31 - 1 at level 31) and tile sizes (1 to 8191), driven by a
// sequence of operations with arbitrary arguments. Every invariant of the
// viewport is checked after each operation.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <tuple>

#include "fuzzcheck.h"
#include "mapviewport.h"
#include "storewriter.h"
#include "tilesource.h"

namespace {

using corvalis::MapViewport;
using corvalis::TileDatabase;
using corvalis::TileGrid;

struct Level {
    int z;
    std::int64_t x0, x1, y0, y1;
};

void CheckGrid(const MapViewport& vp, int factor) {
    const TileGrid g = corvalis::BuildTileGrid(vp, factor);
    if (!vp.HasOpenStore() || vp.ContentWidth() < 1 || vp.ContentHeight() < 1) {
        FUZZ_CHECK(g.IsEmpty() && g == TileGrid{});
        return;
    }
    FUZZ_CHECK(!g.IsEmpty() && g.zoom == vp.Zoom());
    const corvalis::ZoomExtent& e = vp.Extent();
    FUZZ_CHECK(g.minX >= e.minX && g.maxX <= e.maxX && g.minY >= e.minY && g.maxY <= e.maxY);
    FUZZ_CHECK(g.tileWidth == vp.TileWidth() && g.tileHeight == vp.TileHeight());
    FUZZ_CHECK(std::int64_t{g.pixelWidth} == (std::int64_t{g.maxX} - g.minX + 1) * g.tileWidth);
    FUZZ_CHECK(std::int64_t{g.pixelHeight} == (std::int64_t{g.maxY} - g.minY + 1) * g.tileHeight);
    FUZZ_CHECK(std::int64_t{g.originX} == (std::int64_t{g.minX} - e.minX) * g.tileWidth);
    FUZZ_CHECK(std::int64_t{g.originY} == (std::int64_t{g.minY} - e.minY) * g.tileHeight);
    // The block holds every content pixel the view shows.
    FUZZ_CHECK(g.originX <= vp.ScrollX() && g.originY <= vp.ScrollY());
    FUZZ_CHECK(
        std::int64_t{g.originX} + g.pixelWidth >=
        std::min<std::int64_t>(vp.ContentWidth(), std::int64_t{vp.ScrollX()} + vp.ViewWidth()));
    FUZZ_CHECK(
        std::int64_t{g.originY} + g.pixelHeight >=
        std::min<std::int64_t>(vp.ContentHeight(), std::int64_t{vp.ScrollY()} + vp.ViewHeight()));
    FUZZ_CHECK(std::int64_t{g.originX} + g.pixelWidth <= vp.ContentWidth());
    FUZZ_CHECK(std::int64_t{g.originY} + g.pixelHeight <= vp.ContentHeight());
    FUZZ_CHECK(g.Covers(g));
    int px = -1, py = -1;
    FUZZ_CHECK(g.CellOffset(g.maxX, g.maxY, px, py));
    FUZZ_CHECK(px == g.pixelWidth - g.tileWidth && py == g.pixelHeight - g.tileHeight);
}

void CheckViewport(const MapViewport& vp, const TileDatabase& db, FuzzedDataProvider& in) {
    const int cw = vp.ContentWidth(), ch = vp.ContentHeight();
    const int vw = vp.ViewWidth(), vh = vp.ViewHeight();
    FUZZ_CHECK(vw >= 1 && vh >= 1);
    FUZZ_CHECK(vp.ScrollX() >= 0 && vp.ScrollX() <= std::max(0, cw - vw));
    FUZZ_CHECK(vp.ScrollY() >= 0 && vp.ScrollY() <= std::max(0, ch - vh));
    FUZZ_CHECK(vp.LetterboxOffsetX() == (cw < vw ? (vw - cw) / 2 : 0));
    FUZZ_CHECK(vp.LetterboxOffsetY() == (ch < vh ? (vh - ch) / 2 : 0));
    FUZZ_CHECK(vp.ContentFitsView() == (cw <= vw || ch <= vh));
    if (!vp.HasOpenStore()) {
        FUZZ_CHECK(cw == 0 && ch == 0 && vp.MetersPerPixel() == 0.0);
        CheckGrid(vp, 3);
        return;
    }
    // The current level is a present one of the store's range, and the
    // content is its extent times the tile size, exactly.
    const int z = vp.Zoom();
    FUZZ_CHECK(z >= db.minZoom() && z <= db.maxZoom() && db.zoomPresent(z));
    std::int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    FUZZ_CHECK(db.GetZoomExtent(z, x0, x1, y0, y1));
    const corvalis::ZoomExtent& e = vp.Extent();
    FUZZ_CHECK(e.minX == x0 && e.maxX == x1 && e.minY == y0 && e.maxY == y1);
    FUZZ_CHECK(std::int64_t{cw} == (std::int64_t{x1} - x0 + 1) * db.tileWidth());
    FUZZ_CHECK(std::int64_t{ch} == (std::int64_t{y1} - y0 + 1) * db.tileHeight());
    FUZZ_CHECK(vp.CanZoomIn() == (z < db.maxZoom()) && vp.CanZoomOut() == (z > db.minZoom()));

    const int probes[][2] = {{0, 0},
                             {vw - 1, vh - 1},
                             {vw / 2, vh / 2},
                             {in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>()}};
    for (const auto& p : probes) {
        int cx = -1, cy = -1;
        vp.ViewToContent(p[0], p[1], cx, cy);
        FUZZ_CHECK(cx >= 0 && cx < cw && cy >= 0 && cy < ch);
        int column = 0, row = 0;
        FUZZ_CHECK(vp.ContentToTile(cx, cy, column, row));
        FUZZ_CHECK(column >= x0 && column <= x1 && row >= y0 && row <= y1);
        FUZZ_CHECK(std::int64_t{column} == std::int64_t{x0} + cx / db.tileWidth());
        double lon = 0, lat = 0;
        FUZZ_CHECK(vp.ContentToLonLat(cx, cy, lon, lat));
        FUZZ_CHECK(std::isfinite(lon) && std::isfinite(lat));
        int bx = -1, by = -1;
        FUZZ_CHECK(vp.LonLatToContent(lon, lat, bx, by));
        FUZZ_CHECK(bx >= 0 && bx < cw && by >= 0 && by < ch);
        // Inside the world the longitude leads back to the same pixel; columns
        // past the world's edge wrap around it.
        if (x0 >= 0 && std::int64_t{x1} < (std::int64_t{1} << z))
            FUZZ_CHECK(std::abs(std::int64_t{bx} - cx) <= 1);
    }
    const double lon = in.ConsumeFloatingPoint<double>();
    const double lat = in.ConsumeFloatingPoint<double>();
    int fx = -1, fy = -1;
    if (vp.LonLatToContent(lon, lat, fx, fy)) FUZZ_CHECK(fx >= 0 && fx < cw && fy >= 0 && fy < ch);
    const double mpp = vp.MetersPerPixel();
    FUZZ_CHECK(std::isfinite(mpp) && mpp >= 0.0);
    CheckGrid(vp, 1);
    CheckGrid(vp, corvalis::PrefetchFactor);
    CheckGrid(vp, in.ConsumeIntegral<int>());
}

void RunOperations(MapViewport& vp, TileDatabase& db, FuzzedDataProvider& in) {
    vp.SetViewSize(in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>());
    vp.AttachStore(&db);
    CheckViewport(vp, db, in);
    for (int step = 0; step < 48 && in.remaining_bytes() > 0; ++step) {
        const int oldX = vp.ScrollX(), oldY = vp.ScrollY(), oldZoom = vp.Zoom();
        switch (in.ConsumeIntegralInRange<int>(0, 11)) {
            case 0: vp.SetViewSize(in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>()); break;
            case 1: vp.PanBy(in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>()); break;
            case 2: {
                const int dir = in.ConsumeIntegralInRange<int>(0, 5);
                const bool moved = vp.ScrollBy(dir, in.ConsumeIntegral<int>());
                FUZZ_CHECK(moved == (vp.ScrollX() != oldX || vp.ScrollY() != oldY));
                if (dir < 1 || dir > 4) FUZZ_CHECK(!moved);
                break;
            }
            case 3: {
                const int z = in.ConsumeIntegralInRange<int>(-2, 33);
                const bool ok = vp.SetZoom(z, in.ConsumeBool());
                const bool allowed = vp.HasOpenStore() && z != oldZoom && z >= db.minZoom() &&
                                     z <= db.maxZoom() && db.zoomPresent(z);
                FUZZ_CHECK(ok == allowed);
                FUZZ_CHECK(ok ? vp.Zoom() == z : vp.Zoom() == oldZoom && vp.ScrollX() == oldX);
                break;
            }
            case 4: vp.ZoomIn(); break;
            case 5: vp.ZoomOut(); break;
            case 6: {
                const bool moved =
                    vp.CenterOnContent(in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>());
                FUZZ_CHECK(moved == (vp.ScrollX() != oldX || vp.ScrollY() != oldY));
                break;
            }
            case 7:
                vp.CenterOnLonLat(in.ConsumeFloatingPoint<double>(),
                                  in.ConsumeFloatingPoint<double>());
                break;
            case 8: vp.AttachStore(&db); break;
            case 9: vp.AttachStore(nullptr); break;
            case 10: vp.SetZoom(in.ConsumeIntegral<int>(), in.ConsumeBool()); break;
            default:
                vp.SetViewSize(in.ConsumeIntegralInRange<int>(-2, 4096),
                               in.ConsumeIntegralInRange<int>(-2, 4096));
                break;
        }
        CheckViewport(vp, db, in);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int tileW = in.ConsumeIntegralInRange<int>(1, 8191);
    const int tileH = in.ConsumeBool() ? tileW : in.ConsumeIntegralInRange<int>(1, 8191);
    const int levels = in.ConsumeIntegralInRange<int>(1, 4);
    std::vector<Level> list;
    for (int i = 0; i < levels; ++i) {
        Level l;
        l.z = in.ConsumeIntegralInRange<int>(0, 31);
        const std::int64_t last = (std::int64_t{1} << l.z) - 1;
        // Mostly inside the world; sometimes anything a file can hold.
        const bool wild = in.ConsumeIntegralInRange<int>(0, 15) == 0;
        auto pick = [&] {
            return wild ? in.ConsumeIntegral<std::int64_t>()
                        : in.ConsumeIntegralInRange<std::int64_t>(0, last);
        };
        l.x0 = pick(), l.x1 = pick(), l.y0 = pick(), l.y1 = pick();
        list.push_back(l);
    }

    const std::string path = (fuzzsupport::ScratchDir() / "v.db").string();
    {
        testsupport::StoreWriter w(path, testsupport::Layout::Xyz, false);
        w.Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;");
        // The first tile written at an address stays.
        std::set<std::tuple<int, std::int64_t, std::int64_t>> written;
        auto tile = [&](int z, std::int64_t x, std::int64_t y, const testsupport::Bytes& bytes) {
            if (written.insert({z, x, y}).second) w.Tile(z, x, y, bytes);
        };
        for (const Level& l : list) {
            tile(l.z, std::min(l.x0, l.x1), std::min(l.y0, l.y1),
                 testsupport::PngHeader(static_cast<std::uint32_t>(tileW),
                                        static_cast<std::uint32_t>(tileH)));
            tile(l.z, std::max(l.x0, l.x1), std::max(l.y0, l.y1), testsupport::Blob(l.z, 0, 0));
        }
        w.Exec("COMMIT;");
    }
    TileDatabase db;
    std::string error;
    if (!db.Open(path, error)) {
        // Only content that no int can hold is refused, and a store whose
        // tiles all lie off the world's grid has none.
        FUZZ_CHECK(error == "tile extent too large to display." ||
                   error == "the tiles table is empty.");
        return 0;
    }
    FUZZ_CHECK(db.tileWidth() >= 1 && db.tileHeight() >= 1);
    MapViewport vp;
    RunOperations(vp, db, in);
    return 0;
}
