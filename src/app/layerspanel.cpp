#include "layerspanel.h"

#include <QPainter>
#include <QPixmap>
#include <QScrollBar>

#include <algorithm>

namespace {

QIcon Swatch(const QColor& colour) {
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(colour.darker(140));
    painter.setBrush(colour);
    painter.drawRect(0, 0, 13, 13);
    return QIcon(pixmap);
}

}  // namespace

TLayersPanel::TLayersPanel(QWidget* parent) : QListWidget(parent) {
    setObjectName("PanelLayers");
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setToolTip("Layers of the vector tiles: click one to hide or show it");
    connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        if (OnToggle && item != nullptr) OnToggle(static_cast<std::size_t>(row(item)));
    });
}

void TLayersPanel::SetEntries(const std::vector<corvalis::LegendEntry>& entries) {
    const int scrolled = verticalScrollBar() != nullptr ? verticalScrollBar()->value() : 0;
    clear();
    for (const corvalis::LegendEntry& e : entries) {
        auto* item = new QListWidgetItem(Swatch(e.colour), QString::fromStdString(e.name), this);
        // Checked shows; the click on the row toggles, not the box alone.
        item->setFlags(Qt::ItemIsEnabled);
        item->setCheckState(e.hidden ? Qt::Unchecked : Qt::Checked);
    }
    if (verticalScrollBar() != nullptr) verticalScrollBar()->setValue(scrolled);
    // As tall as its rows, up to kMaxHeight; a scroll bar beyond.
    const int rowHeight = count() > 0 ? sizeHintForRow(0) : 0;
    resize(width(), std::clamp(count() * rowHeight + 2 * frameWidth() + 4, 40, kMaxHeight));
}
