#include "libraryview/CurveData.h"

#include "discharge/Series.h"

namespace eload::libraryview {

namespace {

std::vector<QPointF> decimated(const discharge::Series& series, int columns)
{
    const auto range = series.xRange();
    if (!range) return {};
    return series.decimated(range->min, range->max, columns);
}

} // namespace

TestCurve curveOf(const library::TestRecord& test, std::span<const discharge::Sample> samples,
                  int columns)
{
    discharge::Series byCapacity, byTime;
    const double base = test.summary.baseCapacityAh;
    const qint64 start = samples.empty() ? 0 : samples.front().monotonicMsecs;
    for (const discharge::Sample& s : samples) {
        // A count that fell (the module cleared mid-test) is refused by the
        // series rather than drawn backwards.
        byCapacity.append(s.capacityAh - base, s.voltage);
        byTime.append((s.monotonicMsecs - start) / 3'600'000.0, s.voltage);
    }
    return {test.id, test.header.cell.name, decimated(byCapacity, columns),
            decimated(byTime, columns)};
}

} // namespace eload::libraryview
