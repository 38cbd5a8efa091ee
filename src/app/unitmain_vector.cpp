// Vector stores in the window: the legend panel and the hover tooltip.
#include <QToolButton>
#include <QToolTip>

#include "layerspanel.h"
#include "unitmain.h"

void TFormMain::btnLayersClick() {
    PanelLayers->setVisible(PanelLayers->isHidden());
    btnLayers->setChecked(!PanelLayers->isHidden());
    RefreshLegend(true);
}

// The legend lists the layers met in the tiles drawn so far.
void TFormMain::RefreshLegend(bool always) {
    if (PanelLayers->isHidden()) return;
    if (session.GatherLegend() || always) PanelLayers->SetEntries(session.Legend().Entries());
}

void TFormMain::LayerToggled(std::size_t index) {
    if (!session.ToggleLayer(index)) return;
    PanelLayers->SetEntries(session.Legend().Entries());
    RenderMap(true);
}

// Positions in view (device) pixels; the tooltip goes where the pointer is.
void TFormMain::ShowHoverTip(int x, int y) {
    const std::string text = session.Dragging() ? std::string() : session.HoverText(x, y);
    if (text.empty()) {
        QToolTip::hideText();
        return;
    }
    const double ratio = MapPixelRatio();
    const QPoint logical(static_cast<int>(x / ratio), static_cast<int>(y / ratio));
    QToolTip::showText(imgMap->mapToGlobal(logical), QString::fromStdString(text), imgMap);
}
