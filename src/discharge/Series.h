#pragma once
// One curve's points (x, y), x never decreasing, kept with a min/max summary
// at several resolutions, so that what a view of W pixel columns draws costs
// about W·log n, whatever the number of points n, and no spike is lost: each
// column keeps its lowest and highest point.
//
// Memory is bounded: past `maxPoints` the oldest half of the points is merged
// in groups of four, each group keeping its lowest and highest point in x
// order, so a week-long run cannot exhaust it; the oldest stretch of a long
// run thus gets coarser, never losing its extremes.
//
// Points are held as x double, y float (12 bytes) in fixed chunks, plus the
// summary (about 1 byte per point). An append costs O(log n), except the one
// that merges: O(maxPoints), once per maxPoints/4 appends.

#include "discharge/ChunkedArray.h"

#include <QPointF>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace eload::discharge {

class Series {
public:
    static constexpr std::size_t kDefaultMaxPoints = 2'000'000;
    static constexpr std::size_t kMinMaxPoints = 64;

    // `maxPoints` below kMinMaxPoints counts as kMinMaxPoints.
    explicit Series(std::size_t maxPoints = kDefaultMaxPoints);

    // A point with x below the last one's, or not finite, is refused (returns false).
    bool append(double x, double y);
    void clear();
    std::size_t size() const;
    bool empty() const;
    QPointF at(std::size_t i) const; // i < size(); oldest first
    std::optional<QPointF> last() const;
    // Bytes held by the points and their summary (capacity, not size).
    std::size_t memoryBytes() const;
    // Points given up to stay within maxPoints (each group's extremes stay),
    // and points refused by append(), since the last clear().
    std::size_t mergedAway() const { return mergedAway_; }
    std::size_t refused() const { return refused_; }

    struct Range {
        double min = 0;
        double max = 0;
    };
    std::optional<Range> xRange() const;
    // Lowest and highest y of the points with x in [x0, x1]; for autoscale.
    std::optional<Range> yRange(double x0, double x1) const;

    // The points to draw [x0, x1] over `columns` pixel columns, in x order:
    // per column at most its lowest and highest point (what its pixels show;
    // two points keep the line Qt lays out and strokes half as long as four
    // would), plus the nearest point outside each edge so that the line
    // reaches the border.
    // Column c holds x in [x0 + c·w, x0 + (c+1)·w), w = (x1 - x0) / columns;
    // the last one includes x1. Nothing for columns < 1 or x1 < x0.
    std::vector<QPointF> decimated(double x0, double x1, int columns) const;

    // The point whose x is nearest to x (the later one on a tie); for the hover read-out.
    std::optional<QPointF> nearest(double x) const;

private:
    // The lowest and highest y of a block and their indices; the values are
    // kept here so that a query reads no point out of order.
    struct Extremes {
        float lowY = 0, highY = 0;
        std::uint32_t low = 0, high = 0;
    };
    static constexpr int kFanOutBits = 4; // 16 children per summary block

    // The first index in [from, to) whose x fails `before`; x is ordered by it.
    template <typename Before>
    std::size_t partitionPoint(std::size_t from, std::size_t to, Before before) const;
    std::size_t lowerBound(double x) const;
    std::size_t upperBound(double x) const;
    Extremes extremes(std::size_t i0, std::size_t i1) const; // of [i0, i1), i0 < i1
    static void widen(Extremes& e, const Extremes& by);
    Extremes pointExtremes(std::size_t i) const;
    void summarizeLast();
    void rebuildSummary();
    void mergeOldest();

    std::size_t maxPoints_;
    std::size_t mergedAway_ = 0;
    std::size_t refused_ = 0;
    ChunkedArray<double> xs_;
    ChunkedArray<float> ys_;
    // levels_[k][j]: the extremes of points [j·16^(k+1), (j+1)·16^(k+1)).
    std::vector<std::vector<Extremes>> levels_;
};

} // namespace eload::discharge
