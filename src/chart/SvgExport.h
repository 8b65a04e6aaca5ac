#pragma once
// SVG of a drawing whose texts are outlines, not <text> elements: a viewer
// without the chart's Chinese face shows the same shapes, not boxes.

#include <QByteArray>
#include <QSize>
#include <QString>
#include <functional>

class QPainter;

namespace eload::chart {

// `draw` paints on a device of `size` pixels at `dpi` (the screen's, so that
// fonts in points come out as on the screen).
QByteArray svgWithOutlinedText(QSize size, int dpi, const QString& title,
                               const std::function<void(QPainter&)>& draw);

} // namespace eload::chart
