#pragma once
// Where the chart window opens, as frames (title bar and borders included)
// in the screen's coordinates: beside the panel (right, else left), else
// below it, else above it, whichever side has room for the minimum size,
// shrunk to that room; where none has, at the minimum size where it covers
// the least of the panel's controls. Never larger than the available area.
// Pure: no window is asked.

#include <QRect>
#include <QSize>
#include <vector>

namespace eload::chart {

struct Placement {
    QRect frame;
    bool coversPanel = false; // no side had room
};

// `controls`: the frames of the panel's controls; `minimum`, `preferred`:
// the chart's frame sizes.
Placement placeChart(const QRect& panel, const std::vector<QRect>& controls, const QRect& available,
                     QSize minimum, QSize preferred);

// Pixels of `r` over the controls (each control counted on its own).
qint64 coveredArea(const QRect& r, const std::vector<QRect>& controls);

} // namespace eload::chart
