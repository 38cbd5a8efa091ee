// The background mode: compositions on a composer thread, visible cells first,
// progress taken in by Update, superseded compositions cancelled.
#include "logging.h"
#include "maprenderer.h"
#include "maprenderer_pool.h"

namespace corvalis {

void MapRenderer::SetBackground(bool on, std::function<void()> notifier) {
    CancelComposition();
    background = on;
    // The window's thread goes first: its input and paints meet busy cores.
    if (on && pool) pool->LowerPriority();
    notify = on ? std::move(notifier) : std::function<void()>();
    cellStates.SetListener(on ? std::function<void()>([this] { Notify(); })
                              : std::function<void()>());
}

void MapRenderer::Notify() {
    if (!notifyPending.exchange(true, std::memory_order_acq_rel) && notify) notify();
}

bool MapRenderer::LiveAt(const MapViewport& viewport) const {
    return composition.Active() && !composition.Cancelled() &&
           composition.Grid().zoom == viewport.Zoom();
}

void MapRenderer::SetStandIn(QImage picture, const MapPlacement& placement) {
    standIn.Set(std::move(picture), placement);
}

RenderOutcome MapRenderer::RenderInBackground(TileDatabase& store, TileDecoder& decoder,
                                              const MapViewport& viewport, const TileGrid& grid,
                                              bool force) {
    // A composition that has ended is taken in before it could be superseded;
    // a request that waited for it is superseded by this one.
    if (composition.Active() && composition.Ended()) TakeEnded();
    if (pending.wanted && !composition.Active()) {
        force = force || pending.force;
        pending = {};
    }
    // A new level: the picture shown so far, scaled, stands in for it.
    if (presented.Valid() && presented.zoom != grid.zoom) {
        standIn.SwapIn(view, presented);
        presented = {};
    }
    RenderOutcome outcome = RenderOutcome::Composing;
    const bool start =
        !composition.Active() && (force || lastFrame == nullptr || !lastGrid.Covers(grid));
    if (start) {
        if (!StartComposition(store, decoder, viewport, grid, force)) {
            // No thread to be had: composed here and now.
            if (!Compose(store, decoder, grid)) return NoFrameForBlock();
            if (force) LogLine(GridLine());
            outcome = RenderOutcome::Composed;
        } else if (!composition.Active()) {
            return NoFrameForBlock();
        }
        // The composer runs at a lower priority: the stand-in is drawn at once.
        PresentView(viewport);
        return outcome;
    }
    if (composition.Active()) {
        if (composition.Grid().zoom != grid.zoom) composition.Cancel();
        // A pan inside the block is served as it is drawn; anything else waits for its end.
        if (composition.Cancelled() || force || !composition.Grid().Covers(grid)) {
            pending.wanted = true;
            pending.force = pending.force || force;
        }
    } else {
        standIn.Reset();  // the last frame shows all of the view
        outcome = RenderOutcome::Presented;
    }
    PresentView(viewport);
    return outcome;
}

// No memory for the block's frame: nothing composed, the view cleared.
RenderOutcome MapRenderer::NoFrameForBlock() {
    standIn.Reset();
    ClearView();
    return RenderOutcome::NoFrame;
}

bool MapRenderer::StartComposition(TileDatabase& store, TileDecoder& decoder,
                                   const MapViewport& viewport, const TileGrid& grid, bool force) {
    FrameBuffer& target = NextTarget();
    // Out of memory for the block: nothing to compose, which counts as done.
    if (!PrepareTarget(target, grid)) return true;
    QImage& image = target.Image();
    CompositionJob job;
    job.store = &store;
    job.grid = grid;
    job.target =
        QImage(image.bits(), image.width(), image.height(), image.bytesPerLine(), image.format());
    job.earlier = EarlierFrame{LastFrame(), lastGrid};
    job.drawer = &Drawer(decoder);
    job.states = &cellStates;
    job.placeholder = Placeholder();
    const QRect shown(viewport.ScrollX() - viewport.LetterboxOffsetX() - grid.originX,
                      viewport.ScrollY() - viewport.LetterboxOffsetY() - grid.originY,
                      viewport.ViewWidth(), viewport.ViewHeight());
    job.order = VisibleFirstOrder(grid, shown);
    keeper.Begin(grid);
    if (!composition.Start(std::move(job), [this] { Notify(); })) {
        keeper.End();
        return false;
    }
    composing = &target;
    composingForced = force;
    cellsShown.assign(CellCount(grid), 0);
    return true;
}

RenderProgress MapRenderer::Update(TileDatabase& store, TileDecoder& decoder,
                                   const MapViewport& viewport) {
    notifyPending.exchange(false, std::memory_order_acq_rel);
    RenderProgress progress;
    if (!composition.Active()) return progress;
    if (composition.Ended()) {
        Settle(store, decoder, viewport);
        progress.settled = true;
        progress.area = view.rect();
    } else if (LiveAt(viewport) && PresentedAt(viewport)) {
        progress.area = PresentNewCells(viewport);
    } else if (LiveAt(viewport)) {
        PresentView(viewport);
        progress.area = view.rect();
    }
    progress.redraw = !progress.area.isEmpty();
    return progress;
}

void MapRenderer::TakeEnded() {
    const bool cancelled = composition.Cancelled();
    const CompositionTallies result = composition.Join();
    keeper.End();
    if (!cancelled) {
        tallies = result;
        lastFrame = composing;
        lastGrid = composition.Grid();
        if (composingForced) LogLine(GridLine());
    }
    composing = nullptr;
}

void MapRenderer::Settle(TileDatabase& store, TileDecoder& decoder, const MapViewport& viewport) {
    TakeEnded();
    if (pending.wanted) {
        const bool force = pending.force;
        pending = {};
        const TileGrid grid = BuildTileGrid(viewport, PrefetchFactor);
        if (!grid.IsEmpty()) {
            RenderInBackground(store, decoder, viewport, grid, force);
            return;
        }
    }
    standIn.Reset();
    PresentView(viewport);
}

void MapRenderer::WaitForComposition(TileDatabase& store, TileDecoder& decoder,
                                     const MapViewport& viewport) {
    while (composition.Active()) {
        composition.Wait();
        Update(store, decoder, viewport);
    }
}

void MapRenderer::CancelComposition() {
    pending = {};
    if (!composition.Active()) return;
    composition.Cancel();
    composition.Join();
    keeper.End();
    composing = nullptr;
}

bool MapRenderer::ViewComplete(const MapViewport& viewport) const {
    if (!composition.Active()) return true;
    return LiveAt(viewport) && PresentedAt(viewport) && ViewCellsDone(viewport, true);
}

}  // namespace corvalis
