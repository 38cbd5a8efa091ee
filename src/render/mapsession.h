// The map without its window: the open store, the viewport, the decoder, the
// renderer and the overview, and what the user's input does to them. The
// window holds one session and forwards its events to it; the self-check and
// the tests drive a session directly.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "maprenderer.h"
#include "mapviewport.h"
#include "overview.h"
#include "tilesource.h"
#include "vectorlegend.h"

class QPainter;

namespace corvalis {

class TileDecoder;

class MapSession {
public:
    // What a pointer move asks of the window.
    enum class PointerEffect { None, StatusBar, Redraw };
    // The map's cursor after a button release.
    enum class MapCursor { Unchanged, Default, Hand };

    MapSession();
    ~MapSession();
    MapSession(const MapSession&) = delete;
    MapSession& operator=(const MapSession&) = delete;

    // Opens path for a map area of viewWidth x viewHeight pixels: attaches the
    // viewport at the store's lowest level with its content centred, forgets
    // the frames of any earlier store, builds the overview and logs the
    // "opened" line. On failure logs "open failed", gives the reason in
    // errorText and leaves no store open. Nothing is drawn yet.
    bool Open(const std::string& path, int viewWidth, int viewHeight, std::string& errorText);
    // Closes the store: nothing of a map is left to show.
    void Close();
    bool StoreOpen() const { return storeOpen; }

    // Drawing. The view follows the map area (each side at least 1).
    void SetDevicePixelRatio(double ratio) { renderer.SetDevicePixelRatio(ratio); }
    void SyncViewSize(int width, int height);
    // Composes when needed and presents; EmptyGrid without a store.
    RenderOutcome Render(bool force);

    // Composing in the background (off at first; the window turns it on): a
    // render that composes returns at once with the stand-in shown, and the
    // composition goes on while events are handled. progress is called from
    // any thread when Update has something to take in. Switching waits for a
    // composition under way.
    void SetAsync(bool on, std::function<void()> progress = {});
    bool Async() const { return renderer.Background(); }
    // On the session's thread once progress was called: presents what was
    // drawn and settles a composition that has ended.
    RenderProgress Update();
    // Waits until no composition runs or is asked for, settling each.
    void WaitForComposition();
    // Drops the composition under way (it writes no grid line).
    void CancelComposition() { renderer.CancelComposition(); }
    bool Composing() const { return renderer.Composing(); }
    // For tests: called before every tile read of the stores opened from now on.
    void SetReadHook(TileDatabase::ReadHook hook) { readHook = std::move(hook); }

    // The map's pointer, in view pixels.
    bool PointerDown(bool leftButton, int x, int y);  // true: a drag begins
    PointerEffect PointerMove(int x, int y);
    MapCursor PointerUp();

    // Zoom steps and keys; true when the view changed and needs a redraw.
    bool ZoomIn();
    bool ZoomOut();
    // An arrow key pans by 40 pixels; true when the view moved.
    bool KeyPan(int qtKey);
    // Whole wheel notches (120 units; smaller deltas add up, a turn the other
    // way starts afresh) in the delta given: positive up, negative down.
    int WheelSteps(int angleDelta);

    // The overview panel, in its own pixels; true when the map must redraw.
    bool OverviewPress(int x, int y);
    bool OverviewDrag(int x, int y);
    void OverviewRelease() { thumbDragging = false; }
    bool OverviewDoubleClick() const;
    // Centres the map on the content under (x, y) of the overview picture.
    bool CenterOnOverviewPoint(int x, int y);
    // Paints a client area black with the overview picture and its frame.
    void PaintOverview(QPainter& painter, int width, int height);

    // Texts of the window.
    std::array<std::string, 3> StatusTexts() const;
    std::string ZoomLabel() const;
    bool CanZoomIn() const { return storeOpen && viewport.CanZoomIn(); }
    bool CanZoomOut() const { return storeOpen && viewport.CanZoomOut(); }

    // Vector stores (mapsession_vector.cpp).
    bool VectorStore() const { return storeOpen && store && store->vectorTiles(); }
    // Adds the layers of the tiles decoded so far to the legend; true when it grew.
    bool GatherLegend();
    const VectorLegend& Legend() const { return legend; }
    // Hides a shown layer or shows a hidden one; true when the map must be
    // redrawn (forced: the frames are forgotten).
    bool ToggleLayer(std::size_t index);
    // The layer and properties of the topmost feature under (x, y) of the
    // view, one a line ("layer", then "key = value"); empty when none.
    std::string HoverText(int x, int y) const;

    // State.
    MapViewport& Viewport() { return viewport; }
    const MapViewport& Viewport() const { return viewport; }
    MapRenderer& Renderer() { return renderer; }
    const MapRenderer& Renderer() const { return renderer; }
    const TileDatabase* Store() const { return store.get(); }
    const Overview& OverviewPicture() const { return overview; }
    const ThumbBox& OverviewBox() const { return thumbBox; }
    bool Dragging() const { return dragging; }

private:
    std::string PointerLine() const;
    void StartVectorLegend();

    std::unique_ptr<TileDatabase> store;  // made at the first open, kept for the next
    MapViewport viewport;
    std::unique_ptr<TileDecoder> decoder;
    MapRenderer renderer;
    Overview overview;
    bool storeOpen = false;
    bool dragging = false;
    int dragLastX = 0;
    int dragLastY = 0;
    bool pointerKnown = false;
    int pointerX = 0;
    int pointerY = 0;
    bool thumbDragging = false;
    int thumbLastX = 0;
    int thumbLastY = 0;
    ThumbBox thumbBox;
    int wheelRemainder = 0;     // angle delta not yet turned into a zoom step
    bool frameMissing = false;  // the last composition had no memory for its frame
    TileDatabase::ReadHook readHook;
    VectorLegend legend;
};

}  // namespace corvalis
