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
#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>

#include "composition.h"
#include "maprenderer_frame.h"
#include "mapviewport.h"

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

    // Composes (when needed) and presents the map for the viewport's current
    // state. The caller has brought the view size in line with the map area.
    // A forced request always composes and writes the grid line to the log
    // (nothing when the frame cannot be allocated).
    RenderOutcome Render(TileDatabase& store, TileDecoder& decoder, const MapViewport& viewport,
                         bool force);

    // 1: every tile is decoded on the composing thread with the decoder given
    // to Render. More: on that many worker threads (at most 16), each with a
    // decoder of its own, created now and kept.
    void SetDecodeThreads(int count);
    int DecodeThreads() const;
    // What draws the tiles of a composition: the pool, or decoder on the
    // composing thread.
    CellDrawer& Drawer(TileDecoder& decoder);

    // Forgets the last composition, so that the next one reuses nothing.
    void ResetFrames();

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
    // False when the frame cannot be had: nothing is composed and the last
    // composition is forgotten.
    bool Compose(TileDatabase& store, TileDecoder& decoder, const TileGrid& grid);

    FrameBuffer frameA;
    FrameBuffer frameB;
    FrameBuffer* lastFrame = nullptr;
    TileGrid lastGrid;
    QImage missingTile;
    CompositionTallies tallies;
    QImage view;
    double devicePixelRatio = 1.0;
    std::unique_ptr<DecodePool> pool;  // null: decode on the composing thread
    InlineDrawer inlineDrawer;
    CellStates cellStates;
};

}  // namespace corvalis
