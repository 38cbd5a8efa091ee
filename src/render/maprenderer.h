// Composes the visible map from stored tiles into off-screen frames and copies
// the visible part into the view picture with a black letterbox.
//
// Two frames swap roles at every composition: the previous one stays intact
// while the next is drawn, so that at an unchanged zoom the cells both blocks
// share are copied across instead of being read and decoded again.
//
// The composing thread reads every tile; decoding runs on worker threads
// (maprenderer_pool.h) into disjoint cells of the new frame, and the
// composition waits for all of them, so that frames, tallies and grid lines
// are those of decoding one tile after the other.
//
// In the background mode a composition runs on a composer thread of its own
// (backgroundcomposition.h), the cells the view shows first, and Render
// returns at once: the view shows the cells drawn so far over a stand-in
// (standin.h), and Update, called on the caller's thread when the notifier
// says there is progress, presents what came in and settles the composition
// once it has ended. A zoom step cancels a composition still running; a pan
// past its block is composed when it has ended, so that it lends its cells.
#pragma once

#include <QImage>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backgroundcomposition.h"
#include "composition.h"
#include "maprenderer_frame.h"
#include "mapviewport.h"
#include "standin.h"
#include "vectorkeeper.h"
#include "vectorpainter.h"

namespace corvalis {

class DecodePool;
class TileDatabase;
class TileDecoder;

// Resource path of the built-in placeholder picture.
inline const char* const kMissingTileResource = ":/missingtile.bmp";

// The placeholder loaded from a picture file or resource, as RGB888; the
// drawn fallback (dark grey with two lighter diagonals) when it cannot be read.
QImage LoadMissingTile(const QString& path);
QImage FallbackMissingTile();

enum class RenderOutcome {
    EmptyGrid,  // nothing composed or presented; the view keeps its last picture
    Presented,  // served from the last composition
    Composed,   // a new block was composed, then presented
    NoFrame,    // the block's frame could not be had: the view is cleared
    Composing,  // a block is being composed in the background; what is drawn is presented
};

// What Update brought.
struct RenderProgress {
    bool redraw = false;  // the view picture changed, within area (view pixels)
    QRect area;
    bool settled = false;  // a background composition ended (the last frame may have changed)
};

class MapRenderer {
public:
    // Decodes on DefaultDecodeThreads() threads.
    MapRenderer();
    ~MapRenderer();
    MapRenderer(const MapRenderer&) = delete;
    MapRenderer& operator=(const MapRenderer&) = delete;

    void SetMissingTile(QImage picture);
    const QImage& MissingTile() const { return missingTile; }

    // Device pixels per logical pixel of the widget that shows the view picture.
    void SetDevicePixelRatio(double ratio);

    // How the compositions from now on draw vector tiles (the device pixel
    // ratio comes from SetDevicePixelRatio), and whether the store's tiles are
    // all vector tiles. Drops a composition under way; the caller forces a
    // redraw after ResetFrames when the look changed.
    void SetVectorStyle(VectorStyle style, bool vectorStore);
    // The decoded vector tiles of the map's cells (vectorkeeper.h).
    const VectorTileKeeper& KeptVectorTiles() const { return keeper; }
    // The style the compositions draw with.
    VectorStyle CurrentVectorStyle() const;

    // Composes (when needed) and presents the map for the viewport's current
    // state. The caller has brought the view size in line with the map area.
    // A forced request always composes and writes the grid line to the log
    // (nothing when the frame cannot be allocated); in the background mode
    // when the composition ends, and not at all when it is cancelled.
    RenderOutcome Render(TileDatabase& store, TileDecoder& decoder, const MapViewport& viewport,
                         bool force);

    // The background mode, off at first. notify is called from any thread
    // (at most once until the next Update) when Update has something to take
    // in. Turning the mode off or on drops a composition under way.
    void SetBackground(bool on, std::function<void()> notify = {});
    bool Background() const { return background; }
    // Takes in the background composition's progress: copies the cells drawn
    // in the view since the last present into the view picture and settles a
    // composition that has ended, then starts the one a request asked for
    // meanwhile. Store, decoder and viewport are those given to Render.
    RenderProgress Update(TileDatabase& store, TileDecoder& decoder, const MapViewport& viewport);
    // Waits until no composition runs or is asked for, settling each.
    void WaitForComposition(TileDatabase& store, TileDecoder& decoder, const MapViewport& viewport);
    // Drops the composition under way and the one asked for: no grid line,
    // nothing of it is kept. The store may be touched again on return.
    void CancelComposition();
    bool Composing() const { return composition.Active() || pending.wanted; }
    // The view picture shows every cell the view covers, drawn (true when no
    // composition runs; false while one that was cancelled has not ended).
    bool ViewComplete(const MapViewport& viewport) const;
    // The picture shown where nothing is drawn yet, until a composition ends
    // with none asked for (a zoom step puts the last view picture there).
    void SetStandIn(QImage picture, const MapPlacement& placement);

    // 1: every tile is decoded on the composing thread with the decoder given
    // to Render. More: on that many worker threads (at most 16), each with a
    // decoder of its own, created now and kept. Drops a composition under way.
    void SetDecodeThreads(int count);
    int DecodeThreads() const;
    // What draws the tiles of a composition: the pool, or decoder on the
    // composing thread, each told the vector style. While no composition runs.
    CellDrawer& Drawer(TileDecoder& decoder);

    // Forgets the last composition (dropping one under way) and the
    // stand-in, so that the next one reuses nothing.
    void ResetFrames();

    // The last frame's part in the view, black around it.
    void PresentFrame(const MapViewport& viewport);
    void DrawMissingTile(QImage& target, int x, int y, int width, int height) const;

    // A 1 x 1 black view picture: nothing of a map is shown.
    void ClearView();

    const QImage* LastFrame() const { return lastFrame ? &lastFrame->Image() : nullptr; }
    const TileGrid& LastGrid() const { return lastGrid; }
    const QImage& ViewImage() const { return view; }
    int LoadedCount() const { return tallies.loaded; }
    int ReusedCount() const { return tallies.reused; }
    int MissingCount() const { return tallies.missing; }
    std::string GridLine() const;

private:
    // A request that waits for the composition under way to end.
    struct PendingRequest {
        bool wanted = false;
        bool force = false;
    };

    // False when the frame cannot be had: nothing is composed and the last
    // composition is forgotten.
    bool Compose(TileDatabase& store, TileDecoder& decoder, const TileGrid& grid);
    FrameBuffer& NextTarget() { return lastFrame == &frameA ? frameB : frameA; }
    bool PrepareTarget(FrameBuffer& target, const TileGrid& grid);
    PlaceholderPainter Placeholder() const;

    // Background mode (maprenderer_async.cpp).
    RenderOutcome NoFrameForBlock();
    RenderOutcome RenderInBackground(TileDatabase& store, TileDecoder& decoder,
                                     const MapViewport& viewport, const TileGrid& grid, bool force);
    bool StartComposition(TileDatabase& store, TileDecoder& decoder, const MapViewport& viewport,
                          const TileGrid& grid, bool force);
    // Takes in a composition that has ended: a complete one becomes the last frame.
    void TakeEnded();
    void Settle(TileDatabase& store, TileDecoder& decoder, const MapViewport& viewport);
    void Notify();
    // The composition under way when it shows at the viewport's zoom level.
    bool LiveAt(const MapViewport& viewport) const;

    // Presenting (maprenderer_present.cpp).
    bool PrepareView(const MapViewport& viewport);
    void PresentFrom(const QImage& frame, const TileGrid& grid, const MapViewport& viewport);
    // The view from the stand-in, the last frame and the cells drawn so far.
    void PresentView(const MapViewport& viewport);
    void PresentLayers(const MapViewport& viewport, bool lastHere, bool live);
    // The view picture shows the viewport's current state.
    bool PresentedAt(const MapViewport& viewport) const;
    // Copies the cells drawn since they were last presented; the area changed.
    QRect PresentNewCells(const MapViewport& viewport);
    // Every cell of the composition under way that the view shows is drawn
    // (shown: and presented).
    bool ViewCellsDone(const MapViewport& viewport, bool shown) const;
    void Presented(const MapViewport& viewport);

    FrameBuffer frameA;
    FrameBuffer frameB;
    FrameBuffer* lastFrame = nullptr;
    TileGrid lastGrid;
    QImage missingTile;
    CompositionTallies tallies;
    QImage view;
    double devicePixelRatio = 1.0;
    VectorStyle vectorLook;  // hidden layers; the ratio is devicePixelRatio
    bool vectorStore = false;
    std::shared_ptr<const VectorStyle> vectorStyle;  // made by Drawer, shared with the decoders
    VectorTileKeeper keeper;
    std::unique_ptr<DecodePool> pool;  // null: decode on the composing thread
    InlineDrawer inlineDrawer;
    CellStates cellStates;

    bool background = false;
    std::function<void()> notify;
    std::atomic<bool> notifyPending{false};
    FrameBuffer* composing = nullptr;  // the target of the composition under way
    bool composingForced = false;
    PendingRequest pending;
    StandIn standIn;
    MapPlacement presented;  // where the view picture shows the map
    // Per cell of the composition under way: the view picture shows it drawn.
    std::vector<std::uint8_t> cellsShown;
    // Declared last, so that it is cancelled and joined before the rest goes.
    BackgroundComposition composition;
};

}  // namespace corvalis
