#include "discharge/Series.h"

#include <algorithm>
#include <cmath>

namespace eload::discharge {

namespace {

constexpr std::size_t kFanOut = 16;
constexpr std::size_t kFanOutMask = kFanOut - 1;

} // namespace

Series::Series(std::size_t maxPoints) : maxPoints_(std::max(maxPoints, kMinMaxPoints)) {}

std::size_t Series::size() const { return xs_.size(); }
bool Series::empty() const { return xs_.empty(); }
QPointF Series::at(std::size_t i) const { return {xs_[i], double(ys_[i])}; }

std::optional<QPointF> Series::last() const
{
    if (empty()) return std::nullopt;
    return at(size() - 1);
}

std::size_t Series::memoryBytes() const
{
    std::size_t bytes = xs_.capacity() * sizeof(double) + ys_.capacity() * sizeof(float);
    for (const auto& level : levels_)
        bytes += level.capacity() * sizeof(Extremes);
    return bytes;
}

void Series::clear()
{
    xs_.clear();
    ys_.clear();
    levels_ = {};
    mergedAway_ = 0;
    refused_ = 0;
}

bool Series::append(double x, double y)
{
    const auto yf = float(y);
    if (!std::isfinite(x) || !std::isfinite(yf) || (!empty() && x < xs_.back())) {
        ++refused_;
        return false;
    }
    xs_.push_back(x);
    ys_.push_back(yf);
    summarizeLast();
    if (size() > maxPoints_) mergeOldest();
    return true;
}

void Series::widen(Extremes& e, const Extremes& by)
{
    if (by.lowY < e.lowY) {
        e.lowY = by.lowY;
        e.low = by.low;
    }
    if (by.highY > e.highY) {
        e.highY = by.highY;
        e.high = by.high;
    }
}

Series::Extremes Series::pointExtremes(std::size_t i) const
{
    return {ys_[i], ys_[i], std::uint32_t(i), std::uint32_t(i)};
}

// Level 0 is the points themselves; level k >= 1 is levels_[k - 1].
Series::Extremes Series::extremes(std::size_t i0, std::size_t i1) const
{
    Extremes e = pointExtremes(i0);
    std::size_t lo = i0, hi = i1;
    for (std::size_t k = 0; lo < hi; ++k) {
        const auto widenBy = [&](std::size_t j) {
            widen(e, k == 0 ? pointExtremes(j) : levels_[k - 1][j]);
        };
        if (k == levels_.size()) {
            while (lo < hi)
                widenBy(lo++);
            break;
        }
        while (lo < hi && (lo & kFanOutMask))
            widenBy(lo++);
        while (lo < hi && (hi & kFanOutMask))
            widenBy(--hi);
        lo >>= kFanOutBits;
        hi >>= kFanOutBits;
    }
    return e;
}

void Series::summarizeLast()
{
    const std::size_t i = size() - 1;
    const Extremes point = pointExtremes(i);
    for (std::size_t k = 0; k < levels_.size(); ++k) {
        auto& level = levels_[k];
        const std::size_t block = i >> (kFanOutBits * (k + 1));
        if (block == level.size())
            level.push_back(point);
        else
            widen(level[block], point);
    }
    const std::size_t top = levels_.empty() ? size() : levels_.back().size();
    if (top > kFanOut) rebuildSummary();
}

// Adds levels above the highest until it has at most kFanOut blocks.
void Series::rebuildSummary()
{
    if (levels_.empty() && size() <= kFanOut) return;
    for (;;) {
        const std::size_t below = levels_.empty() ? size() : levels_.back().size();
        if (below <= kFanOut) return;
        std::vector<Extremes> level((below + kFanOutMask) >> kFanOutBits);
        for (std::size_t j = 0; j < below; ++j) {
            const Extremes child = levels_.empty() ? pointExtremes(j) : levels_.back()[j];
            Extremes& parent = level[j >> kFanOutBits];
            if ((j & kFanOutMask) == 0)
                parent = child;
            else
                widen(parent, child);
        }
        levels_.push_back(std::move(level));
    }
}

// The oldest half in groups of four, each down to its lowest and highest
// point in x order; then the summary anew (amortized: once per maxPoints/4
// appends).
void Series::mergeOldest()
{
    const std::size_t merged = (size() / 2) & ~std::size_t(3);
    std::size_t out = 0;
    for (std::size_t g = 0; g < merged; g += 4) {
        std::size_t low = g, high = g;
        for (std::size_t i = g + 1; i < g + 4; ++i) {
            if (ys_[i] < ys_[low]) low = i;
            if (ys_[i] > ys_[high]) high = i;
        }
        const std::size_t a = std::min(low, high), b = std::max(low, high);
        const double xa = xs_[a], xb = xs_[b];
        const float ya = ys_[a], yb = ys_[b];
        xs_[out] = xa;
        ys_[out++] = ya;
        if (b != a) {
            xs_[out] = xb;
            ys_[out++] = yb;
        }
    }
    for (std::size_t i = merged; i < size(); ++i, ++out) {
        xs_[out] = xs_[i];
        ys_[out] = ys_[i];
    }
    mergedAway_ += size() - out;
    xs_.truncate(out);
    ys_.truncate(out);
    levels_.clear();
    rebuildSummary();
}

template <typename Before>
std::size_t Series::partitionPoint(std::size_t from, std::size_t to, Before before) const
{
    while (from < to) {
        const std::size_t mid = from + (to - from) / 2;
        if (before(xs_[mid]))
            from = mid + 1;
        else
            to = mid;
    }
    return from;
}

std::size_t Series::lowerBound(double x) const
{
    return partitionPoint(0, size(), [x](double v) { return v < x; });
}

std::size_t Series::upperBound(double x) const
{
    return partitionPoint(0, size(), [x](double v) { return v <= x; });
}

std::optional<Series::Range> Series::xRange() const
{
    if (empty()) return std::nullopt;
    return Range{xs_[0], xs_.back()};
}

std::optional<Series::Range> Series::yRange(double x0, double x1) const
{
    if (!(x0 <= x1)) return std::nullopt;
    const std::size_t begin = lowerBound(x0), end = upperBound(x1);
    if (begin >= end) return std::nullopt;
    const Extremes e = extremes(begin, end);
    return Range{ys_[e.low], ys_[e.high]};
}

std::vector<QPointF> Series::decimated(double x0, double x1, int columns) const
{
    std::vector<QPointF> out;
    if (columns < 1 || empty() || !(x0 <= x1) || !std::isfinite(x0) || !std::isfinite(x1))
        return out;
    const std::size_t begin = lowerBound(x0), end = upperBound(x1);
    out.reserve(std::min(end - begin, 2 * std::size_t(columns)) + 2);
    if (begin > 0) out.push_back(at(begin - 1));

    // Column of x: monotone in x, so each column's points are one index range.
    const double width = (x1 - x0) / columns;
    const auto columnOf = [&](double x) {
        if (!(width > 0)) return 0;
        return int(std::min(double(columns - 1), std::floor((x - x0) / width)));
    };
    for (std::size_t i = begin; i < end;) {
        const int c = columnOf(xs_[i]);
        // The column's end: galloping from i, so the search stays near it.
        std::size_t inside = i, probe = i + 1;
        for (std::size_t step = 1; probe < end && columnOf(xs_[probe]) <= c; step *= 2) {
            inside = probe;
            probe += step;
        }
        const std::size_t j = partitionPoint(inside + 1, std::min(probe, end),
                                             [&](double x) { return columnOf(x) <= c; });
        const Extremes e = extremes(i, j);
        out.push_back(at(std::min(e.low, e.high)));
        if (e.low != e.high) out.push_back(at(std::max(e.low, e.high)));
        i = j;
    }
    if (end < size()) out.push_back(at(end));
    return out;
}

std::optional<QPointF> Series::nearest(double x) const
{
    if (empty() || std::isnan(x)) return std::nullopt;
    std::size_t i = lowerBound(x);
    if (i == size()) return at(size() - 1);
    if (i > 0 && x - xs_[i - 1] < xs_[i] - x) return at(i - 1);
    return at(upperBound(xs_[i]) - 1); // the latest of those at that x
}

} // namespace eload::discharge
