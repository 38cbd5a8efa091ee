#include "selfcheck.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "logging.h"
#include "mapsession.h"
#include "mapviewport.h"
#include "safefile.h"
#include "textutil.h"
#include "tilesource.h"

using corvalis::Format;
using corvalis::MapViewport;
using corvalis::ReportLine;
using corvalis::TileDatabase;

namespace {

void ReportCheck(bool pass, const std::string& label, int& failures) {
    ReportLine((pass ? "  [PASS] " : "  [FAIL] ") + label);
    if (!pass) ++failures;
}

std::unique_ptr<TileDatabase> OpenStoreObject(const std::string& path, bool& ok,
                                              std::string& errorText) {
    auto store = std::make_unique<TileDatabase>();
    ok = store->Open(path, errorText);
    return store;
}

// 24-bit colour with red in the lowest byte and blue in the highest.
std::uint32_t ColourAt(const QImage& img, int x, int y) {
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) return 0xFFFFFFFFu;
    const QRgb c = img.pixel(x, y);
    return static_cast<std::uint32_t>(qRed(c)) | (static_cast<std::uint32_t>(qGreen(c)) << 8) |
           (static_cast<std::uint32_t>(qBlue(c)) << 16);
}

void StoreChecks(TileDatabase& db, int& failures) {
    ReportCheck(db.kind() == corvalis::KindMBTiles, "kind == MBTiles", failures);
    ReportCheck(db.minZoom() == 0, "minzoom == 0", failures);
    ReportCheck(db.maxZoom() == 3, "maxzoom == 3", failures);
    ReportCheck(db.tileWidth() == 256, "tile width == 256", failures);
    ReportCheck(db.tileHeight() == 256, "tile height == 256", failures);
    ReportCheck(db.format() == "png", "format == png", failures);

    double west = 0.0, south = 0.0, east = 0.0, north = 0.0;
    ReportCheck(db.GetBounds(west, south, east, north), "bounds parsed", failures);
    ReportCheck(std::fabs(west + 180) < 0.001 && std::fabs(east - 180) < 0.001,
                "bounds lon == +-180", failures);
    ReportCheck(std::fabs(north - 85) < 0.001 && std::fabs(south + 85) < 0.001,
                "bounds lat == +-85", failures);

    for (int z = db.minZoom(); z <= db.maxZoom(); ++z) {
        const std::int64_t m64 = (std::int64_t{1} << (z & 63)) - 1;
        const int m = static_cast<int>(m64);
        int minX = 0, maxX = 0, minY = 0, maxY = 0;
        const bool found = db.GetZoomExtent(z, minX, maxX, minY, maxY);
        ReportCheck(found && minX == 0 && maxX == m && minY == 0 && maxY == m,
                    Format("z%d extent == 0..%d (XYZ)", z, m), failures);
    }

    const int reads[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (const auto& r : reads) {
        const std::uint8_t* data = nullptr;
        std::int32_t count = 0;
        const bool ok = db.ReadTile(1, r[0], r[1], data, count);
        ReportCheck(ok && count > 100,
                    Format("z1 tile (x=%d,y=%d) fetched, %d bytes", r[0], r[1], count), failures);
    }
    const std::uint8_t* data = nullptr;
    std::int32_t count = 0;
    ReportCheck(!db.ReadTile(1, 99, 99, data, count), "out-of-range tile returns false", failures);
}

void OruxChecks(const std::string& referencePath, const std::string& oruxPath, int& failures) {
    bool ok = false;
    std::string errorText;
    auto orux = OpenStoreObject(oruxPath, ok, errorText);
    ReportCheck(ok, "orux fixture opens", failures);
    if (!ok) return;
    ReportCheck(orux->localGrid(), "orux detected as local grid", failures);
    ReportCheck(!orux->geoUnknown(), "orux sidecar .omm found", failures);

    struct Level {
        int z, first, last;
    };
    for (const Level& l : {Level{2, 1, 2}, Level{3, 1, 6}}) {
        int minX = 0, maxX = 0, minY = 0, maxY = 0;
        const bool found = orux->GetZoomExtent(l.z, minX, maxX, minY, maxY);
        ReportCheck(
            found && minX == l.first && maxX == l.last && minY == l.first && maxY == l.last,
            Format("orux z%d extent shifted -> x %d..%d y %d..%d", l.z, minX, maxX, minY, maxY),
            failures);
    }

    auto reference = OpenStoreObject(referencePath, ok, errorText);
    const std::uint8_t* oruxData = nullptr;
    const std::uint8_t* refData = nullptr;
    std::int32_t oruxCount = 0, refCount = 0;
    const bool oruxRead = orux->ReadTile(2, 1, 1, oruxData, oruxCount);
    const bool refRead = reference->ReadTile(2, 1, 1, refData, refCount);
    bool same = oruxRead && refRead && oruxCount > 0 && oruxCount == refCount;
    for (std::int32_t i = 0; same && i < oruxCount; ++i) same = oruxData[i] == refData[i];
    ReportCheck(same, "orux tile bytes == mbtiles at same geo place", failures);
}

void ProjectionChecks(const std::string& path, int& failures) {
    bool ok = false;
    std::string errorText;
    auto store = OpenStoreObject(path, ok, errorText);
    MapViewport vp;
    vp.AttachStore(store.get());
    vp.SetViewSize(800, 600);

    double lon = 0.0, lat = 0.0;
    vp.ContentToLonLat(128, 128, lon, lat);
    ReportCheck(std::fabs(lon) < 0.001 && std::fabs(lat) < 0.001, "z0 world center -> (0, 0)",
                failures);
    lon = lat = 0.0;
    vp.ContentToLonLat(0, 0, lon, lat);
    ReportCheck(std::fabs(lon + 180) < 0.001, "top-left lon == -180", failures);
    ReportCheck(std::fabs(lat - 85.0511) < 0.01, "top-left lat == 85.05", failures);

    vp.SetZoom(3, false);
    int px = 0, py = 0;
    vp.LonLatToContent(116.4, 39.9, px, py);
    lon = lat = 0.0;
    vp.ContentToLonLat(px, py, lon, lat);
    ReportCheck(std::fabs(lon - 116.4) < 0.25 && std::fabs(lat - 39.9) < 0.25,
                Format("z3 lon/lat roundtrip -> (%.3f, %.3f)", lon, lat), failures);

    vp.SetZoom(0, false);
    vp.CenterOnLonLat(0.0, 0.0);
    const bool zoomed = vp.ZoomIn();
    ReportCheck(zoomed && vp.Zoom() == 1, "zoom in 0 -> 1", failures);
    ReportCheck(vp.ContentWidth() == 512, "z1 world width == 512", failures);

    const corvalis::TileGrid grid = corvalis::BuildTileGrid(vp, 3);
    ReportCheck(!grid.IsEmpty(), "prefetch grid not empty", failures);
    ReportCheck(grid.Covers(grid), "grid covers itself", failures);
}

void WindowChecks(corvalis::MapSession& session,
                  const std::function<void(const std::string&)>& openInWindow,
                  const std::string& path, int& failures) {
    openInWindow(path);
    ReportCheck(session.StoreOpen(), "form opened the file", failures);
    if (!session.StoreOpen()) return;
    const corvalis::MapRenderer& renderer = session.Renderer();
    ReportCheck(!renderer.LastGrid().IsEmpty(), "render grid built", failures);
    ReportCheck(renderer.LoadedCount() > 0,
                Format("render loaded tiles = %d", renderer.LoadedCount()), failures);
    ReportCheck(renderer.MissingCount() == 0,
                Format("render missing tiles = %d", renderer.MissingCount()), failures);

    session.Viewport().SetZoom(2, false);
    session.Render(true);
    session.Viewport().SetZoom(0, false);
    session.Render(true);

    const QImage& picture = renderer.ViewImage();
    const int w = session.Viewport().ViewWidth(), h = session.Viewport().ViewHeight();
    const std::uint32_t corners[4] = {ColourAt(picture, 1, 1), ColourAt(picture, w - 2, 1),
                                      ColourAt(picture, 1, h - 2), ColourAt(picture, w - 2, h - 2)};
    ReportCheck(corners[0] == 0 && corners[1] == 0 && corners[2] == 0 && corners[3] == 0,
                Format("letterbox corners black (%06X %06X %06X %06X)", corners[0], corners[1],
                       corners[2], corners[3]),
                failures);
    bool mapFound = false;
    for (int dy = -4; dy <= 4 && !mapFound; ++dy)
        for (int dx = -4; dx <= 4 && !mapFound; ++dx)
            mapFound = ColourAt(picture, w / 2 + dx, h / 2 + dy) != 0;
    ReportCheck(mapFound, "letterbox center keeps map", failures);
}

void RenderDump(corvalis::MapSession& session) {
    if (!session.StoreOpen() || !session.Viewport().SetZoom(2, false)) return;
    session.Render(true);
    const std::string dump = corvalis::ExecutableDir() + "selftest_render.png";
    // Encoded first, then written beside and renamed into place: never
    // through a link, never a half-written picture.
    QByteArray png;
    QBuffer buffer(&png);
    std::string error;
    if (buffer.open(QIODevice::WriteOnly) && session.Renderer().ViewImage().save(&buffer, "PNG") &&
        corvalis::WriteFileAtomically(dump, std::string_view(png.constData(), static_cast<std::size_t>(png.size())), error))
        ReportLine("  render dump: " + dump);
    else
        ReportLine("  render dump failed: " + dump);
}

}  // namespace

int RunSelfCheck(corvalis::MapSession& session,
                 const std::function<void(const std::string&)>& openInWindow,
                 const std::string& path) {
    int failures = 0;
    ReportLine("=== SELFTEST begin ===");
    ReportLine("file: " + path);

    bool ok = false;
    std::string errorText;
    auto store = OpenStoreObject(path, ok, errorText);
    if (!ok) {
        ReportLine("  [FAIL] open: " + errorText);
        ReportLine("=== SELFTEST end: 1 failed ===");
        return 1;
    }
    StoreChecks(*store, failures);
    store.reset();

    const std::string oruxPath = std::string(corvalis::DirPart(path)) + "test_orux.db";
    std::error_code ec;
    if (std::filesystem::is_regular_file(oruxPath, ec)) OruxChecks(path, oruxPath, failures);

    ProjectionChecks(path, failures);
    WindowChecks(session, openInWindow, path, failures);
    RenderDump(session);

    ReportLine(Format("=== SELFTEST end: %d failed ===", failures));
    return failures;
}
