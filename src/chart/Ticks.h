#pragma once
// The axes' ticks: a round step for a span, and labels with as many
// decimals as the step needs, so that two ticks never read alike however
// deep the zoom.

#include <QString>

namespace eload::chart {

// About six ticks on 1, 2 or 5 times a power of ten; 1 for no span.
double tickStep(double span);

// Decimals that tell ticks `step` apart: 0 for steps of 1 and more.
int labelDecimals(double step);

// The printf pattern of an axis's labels at `step` ("%.2f").
QString labelFormat(double step);

} // namespace eload::chart
