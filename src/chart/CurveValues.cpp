#include "chart/CurveValues.h"

#include <cmath>

namespace eload::chart {

namespace {

// The first index whose x is above `x`.
std::size_t firstAbove(const discharge::Series& curve, double x)
{
    std::size_t from = 0, to = curve.size();
    while (from < to) {
        const std::size_t mid = from + (to - from) / 2;
        if (curve.at(mid).x() <= x)
            from = mid + 1;
        else
            to = mid;
    }
    return from;
}

} // namespace

std::optional<double> valueAt(const discharge::Series& curve, double x)
{
    if (curve.empty() || !std::isfinite(x)) return std::nullopt;
    const std::size_t i = firstAbove(curve, x);
    if (i == 0) return std::nullopt;
    const QPointF left = curve.at(i - 1);
    if (left.x() == x) return left.y();
    if (i == curve.size()) return std::nullopt;
    const QPointF right = curve.at(i);
    const double t = (x - left.x()) / (right.x() - left.x());
    return left.y() + t * (right.y() - left.y());
}

std::optional<QPointF> firstUnder(const discharge::Series& curve, double y,
                                  bool (*under)(double value, double limit))
{
    for (std::size_t i = 0; i < curve.size(); ++i)
        if (under(curve.at(i).y(), y)) return curve.at(i);
    return std::nullopt;
}

} // namespace eload::chart
