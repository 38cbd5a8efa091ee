// The legend of a vector store: one row per layer with its colour swatch,
// checked while the layer is shown. Clicking a row asks for it to be toggled.
#pragma once

#include <QListWidget>

#include <cstddef>
#include <functional>
#include <vector>

#include "vectorlegend.h"

class TLayersPanel : public QListWidget {
    Q_OBJECT
public:
    static constexpr int kMaxHeight = 320;
    explicit TLayersPanel(QWidget* parent);
    // Lists the legend's entries (the row under the pointer keeps its place).
    void SetEntries(const std::vector<corvalis::LegendEntry>& entries);
    // Called with the row's index when a row is clicked.
    std::function<void(std::size_t index)> OnToggle;
};
