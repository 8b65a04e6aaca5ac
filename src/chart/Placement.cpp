#include "chart/Placement.h"

#include <algorithm>
#include <limits>

namespace eload::chart {

namespace {

// The step of the search for the least covering place, in pixels.
constexpr int kSearchStep = 4;

enum class Side { Right, Left, Below, Above };

QRect roomOn(Side side, const QRect& panel, const QRect& available)
{
    const QRect a = available;
    switch (side) {
    case Side::Right: return QRect(QPoint(panel.right() + 1, a.top()), a.bottomRight());
    case Side::Left: return QRect(a.topLeft(), QPoint(panel.left() - 1, a.bottom()));
    case Side::Below: return QRect(QPoint(a.left(), panel.bottom() + 1), a.bottomRight());
    case Side::Above: return QRect(a.topLeft(), QPoint(a.right(), panel.top() - 1));
    }
    return {};
}

int clampTo(int at, int low, int high) { return std::max(low, std::min(at, high)); }

// The frame of `size` in `room`, against the panel's side and aligned with its edge.
QRect besideIn(Side side, const QRect& room, const QRect& panel, QSize size)
{
    QRect r(QPoint(0, 0), size);
    const int y = clampTo(panel.top(), room.top(), room.bottom() + 1 - size.height());
    const int x = clampTo(panel.left(), room.left(), room.right() + 1 - size.width());
    switch (side) {
    case Side::Right: r.moveTopLeft({room.left(), y}); break;
    case Side::Left: r.moveTopRight({room.right(), y}); break;
    case Side::Below: r.moveTopLeft({x, room.top()}); break;
    case Side::Above: r.moveBottomLeft({x, room.bottom()}); break;
    }
    return r;
}

std::vector<int> positions(int low, int high)
{
    std::vector<int> at;
    for (int p = low; p < high; p += kSearchStep)
        at.push_back(p);
    at.push_back(std::max(low, high));
    return at;
}

qint64 distance(QPoint a, QPoint b)
{
    const qint64 dx = a.x() - b.x(), dy = a.y() - b.y();
    return dx * dx + dy * dy;
}

// The place of `size` that covers the least of the controls; of equals, the
// one nearest to the right of the panel.
QRect leastCovering(const QRect& panel, const std::vector<QRect>& controls, const QRect& available,
                    QSize size)
{
    const QPoint wanted(panel.right() + 1, panel.top());
    QRect best;
    qint64 bestCovered = std::numeric_limits<qint64>::max(), bestDistance = 0;
    for (int y : positions(available.top(), available.bottom() + 1 - size.height()))
        for (int x : positions(available.left(), available.right() + 1 - size.width())) {
            const QRect r(QPoint(x, y), size);
            const qint64 covered = coveredArea(r, controls);
            const qint64 d = distance(r.topLeft(), wanted);
            if (covered < bestCovered || (covered == bestCovered && d < bestDistance)) {
                best = r;
                bestCovered = covered;
                bestDistance = d;
            }
        }
    return best;
}

} // namespace

qint64 coveredArea(const QRect& r, const std::vector<QRect>& controls)
{
    qint64 area = 0;
    for (const QRect& c : controls) {
        const QRect o = r.intersected(c);
        if (!o.isEmpty()) area += qint64(o.width()) * o.height();
    }
    return area;
}

Placement placeChart(const QRect& panel, const std::vector<QRect>& controls, const QRect& available,
                     QSize minimum, QSize preferred)
{
    const QSize least = minimum.boundedTo(available.size());
    const QSize most = preferred.expandedTo(least).boundedTo(available.size());
    for (Side side : {Side::Right, Side::Left, Side::Below, Side::Above}) {
        const QRect room = roomOn(side, panel, available).intersected(available);
        if (room.width() >= least.width() && room.height() >= least.height())
            return {besideIn(side, room, panel, most.boundedTo(room.size())), false};
    }
    const std::vector<QRect> covered = controls.empty() ? std::vector<QRect>{panel} : controls;
    return {leastCovering(panel, covered, available, least), true};
}

} // namespace eload::chart
