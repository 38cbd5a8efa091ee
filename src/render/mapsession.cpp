#include "mapsession.h"

#include <QPainter>

#include "logging.h"
#include "textutil.h"
#include "tiledecoder.h"
#include "tilesource.h"
#include "vectorcodec.h"

namespace corvalis {

MapSession::MapSession() : decoder(std::make_unique<TileDecoder>()) {
    SetVectorTileRecogniser(&LooksLikeVectorTile);
    renderer.SetMissingTile(LoadMissingTile(kMissingTileResource));
}

MapSession::~MapSession() {
    renderer.CancelComposition();
    viewport.AttachStore(nullptr);
}

bool MapSession::Open(const std::string& path, int viewWidth, int viewHeight,
                      std::string& errorText) {
    if (!store) store = std::make_unique<TileDatabase>();
    // Nothing may read the store while it is opened again.
    renderer.CancelComposition();
    store->SetReadHook(readHook);
    // The store is closed once Open fails; events handled meanwhile must not
    // take the old store for a shown one.
    storeOpen = false;
    if (!store->Open(path, errorText)) {
        LogLine("open failed: " + path + " / " + errorText);
        Close();  // nothing of the earlier store stays on show
        return false;
    }
    viewport.SetViewSize(viewWidth, viewHeight);
    viewport.AttachStore(store.get());
    renderer.ResetFrames();
    StartVectorLegend();
    wheelRemainder = 0;
    frameMissing = false;
    overview.Build(*store, renderer.Drawer(*decoder));
    // The overview's picture stands in for the first composition.
    if (Async() && overview.Ready()) renderer.SetStandIn(overview.Picture(), overview.Placement());
    storeOpen = true;
    LogLine(Format("opened %s  kind=%s  zoom=%d-%d  tile=%dx%d  format=%s", path.c_str(),
                   store->KindName().c_str(), store->minZoom(), store->maxZoom(),
                   store->tileWidth(), store->tileHeight(), store->format().c_str()));
    // Every tile read scans the whole table: tell the user why panning is slow.
    if (!store->hasTileIndex()) LogLine("slow store: no tile index");
    if (!store->notice().empty()) LogLine(store->notice() + ": " + path);
    if (store->TileSizeHintDiffers())
        LogLine(Format("tile size hint %d differs from the tiles", store->tileSizeHint()));
    return true;
}

void MapSession::Close() {
    storeOpen = false;
    renderer.CancelComposition();
    frameMissing = false;
    renderer.ResetFrames();
    overview.Reset();
    // Nothing is drawn on the overview any more, so no press may map onto it.
    thumbBox = {};
    wheelRemainder = 0;
    if (store) store->Close();
    viewport.AttachStore(nullptr);
    renderer.ClearView();
}

void MapSession::SyncViewSize(int width, int height) {
    width = std::max(1, width);
    height = std::max(1, height);
    if (width != viewport.ViewWidth() || height != viewport.ViewHeight())
        viewport.SetViewSize(width, height);
}

RenderOutcome MapSession::Render(bool force) {
    if (!storeOpen || !store) return RenderOutcome::EmptyGrid;
    const RenderOutcome outcome = renderer.Render(*store, *decoder, viewport, force);
    if (outcome != RenderOutcome::EmptyGrid) frameMissing = outcome == RenderOutcome::NoFrame;
    return outcome;
}

void MapSession::SetAsync(bool on, std::function<void()> progress) {
    WaitForComposition();
    renderer.SetBackground(on, std::move(progress));
}

RenderProgress MapSession::Update() {
    if (!store) return {};
    return renderer.Update(*store, *decoder, viewport);
}

void MapSession::WaitForComposition() {
    if (store) renderer.WaitForComposition(*store, *decoder, viewport);
}

void MapSession::PaintOverview(QPainter& painter, int width, int height) {
    painter.fillRect(0, 0, width, height, Qt::black);
    if (!storeOpen) return;
    const OverviewSource source =
        ChooseOverviewSource(overview, viewport, renderer.LastFrame(), renderer.LastGrid());
    corvalis::PaintOverview(painter, width, height, source, viewport, thumbBox);
}

std::string MapSession::ZoomLabel() const {
    if (!storeOpen || !store) return "Zoom -";
    return Format("Zoom %d / %d-%d", viewport.Zoom(), store->minZoom(), store->maxZoom());
}

std::string MapSession::PointerLine() const {
    if (frameMissing) return "Not enough memory to draw the map at this zoom level";
    std::string line = store->notice().empty() ? "Move the mouse over the map to read coordinates"
                                               : "Note: " + store->notice();
    if (!pointerKnown) return line;
    int cx = 0, cy = 0;
    viewport.ViewToContent(pointerX, pointerY, cx, cy);
    double lon = 0.0, lat = 0.0;
    int column = 0, row = 0;
    if (viewport.ContentToLonLat(cx, cy, lon, lat) && viewport.ContentToTile(cx, cy, column, row))
        line = Format("Lon %.5f   Lat %.5f      z=%d  x=%d  y=%d", lon, lat, viewport.Zoom(),
                      column, row);
    return line;
}

std::array<std::string, 3> MapSession::StatusTexts() const {
    if (!storeOpen || !store) return {"No file opened", "", ""};
    std::string kind = store->KindName() + "   ";
    if (store->vectorTiles())
        kind += "vector tiles";
    else
        kind += Format("%dx%d tiles", store->tileWidth(), store->tileHeight());
    if (store->geoUnknown())
        return {"Local tile grid - lon/lat unavailable (missing .omm)", kind, "m/px -"};
    return {PointerLine(), kind, Format("%.2f m/px", viewport.MetersPerPixel())};
}

}  // namespace corvalis
