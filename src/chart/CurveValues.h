#pragma once
// Values read off a curve between its points, as the line drawn through
// them shows them: for the hover read-out and the figures down to a cut-off.

#include "discharge/Series.h"

#include <QPointF>
#include <optional>

namespace eload::chart {

// y of the curve at `x`, interpolated between the points either side (where
// several points share an x, the line leaves from the last of them); nothing
// outside the curve's x range.
std::optional<double> valueAt(const discharge::Series& curve, double x);

// The first point whose y is under `y`, compared by `under(y of point, y)`.
std::optional<QPointF> firstUnder(const discharge::Series& curve, double y,
                                  bool (*under)(double value, double limit));

} // namespace eload::chart
