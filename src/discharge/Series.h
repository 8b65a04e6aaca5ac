#pragma once
// One curve's points (x, y), x never decreasing, kept with a min/max summary
// at several resolutions, so that what a view of W pixel columns draws costs
// about W·log n, whatever the number of points n, and no spike is lost: each
// column keeps its first, lowest, highest and last point.
//
// Memory is bounded: past `maxPoints` the oldest points are merged (each
// group keeps its lowest and highest), so a week-long run cannot exhaust it.

#include <QPointF>
#include <cstddef>
#include <optional>
#include <vector>

namespace eload::discharge {

class Series {
public:
    static constexpr std::size_t kDefaultMaxPoints = 2'000'000;

    explicit Series(std::size_t maxPoints = kDefaultMaxPoints);

    // A point with x below the last one's is refused (returns false).
    bool append(double x, double y);
    void clear();
    std::size_t size() const;
    bool empty() const;

    struct Range {
        double min = 0;
        double max = 0;
    };
    std::optional<Range> xRange() const;
    // Lowest and highest y of the points with x in [x0, x1]; for autoscale.
    std::optional<Range> yRange(double x0, double x1) const;

    // The points to draw [x0, x1] over `columns` pixel columns, in x order:
    // per column at most its first, lowest, highest and last point, plus the
    // nearest point outside each edge so that the line reaches the border.
    std::vector<QPointF> decimated(double x0, double x1, int columns) const;

    // The point whose x is nearest to x; for the hover read-out.
    std::optional<QPointF> nearest(double x) const;

private:
    // (the implementer's choice of members)
    std::size_t maxPoints_;
    std::vector<QPointF> points_;
};

} // namespace eload::discharge
