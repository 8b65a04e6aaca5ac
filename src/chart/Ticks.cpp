#include "chart/Ticks.h"

#include <algorithm>
#include <cmath>

namespace eload::chart {

double tickStep(double span)
{
    if (!(span > 0) || !std::isfinite(span)) return 1;
    const double raw = span / 6;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double n = raw / magnitude;
    return (n < 1.5 ? 1 : n < 3 ? 2 : n < 7 ? 5 : 10) * magnitude;
}

int labelDecimals(double step)
{
    if (!(step > 0) || !std::isfinite(step)) return 0;
    // A step is 1, 2 or 5 times 10^k; the rounding guards 10^k computed as 0.0999...
    return std::clamp(-int(std::floor(std::log10(step) + 1e-9)), 0, 12);
}

QString labelFormat(double step) { return QStringLiteral("%.%1f").arg(labelDecimals(step)); }

} // namespace eload::chart
