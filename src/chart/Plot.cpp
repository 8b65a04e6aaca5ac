#include "chart/Plot.h"

#include "chart/CurveValues.h"
#include "chart/Ticks.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsLineItem>
#include <QGraphicsSimpleTextItem>
#include <QLegendMarker>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace eload::chart {

namespace {

using Range = discharge::Series::Range;

std::optional<Range> unite(std::optional<Range> a, std::optional<Range> b)
{
    if (!a) return b;
    if (!b) return a;
    return Range{std::min(a->min, b->min), std::max(a->max, b->max)};
}

// Room around the curve, and a span for a flat one; no negative room under
// values that cannot be negative (a current starting at zero).
Range padded(Range r)
{
    const double span = r.max - r.min;
    const double pad = span > 0 ? span * 0.05 : std::max(std::abs(r.max) * 0.05, 0.1);
    const double low = r.min - pad;
    return {r.min >= 0 ? std::max(low, 0.0) : low, r.max + pad};
}

// Never a moment with a small step over a wide range: Qt lays out every tick.
void setSpan(QValueAxis* axis, double min, double max)
{
    const double step = tickStep(max - min);
    if (step > axis->tickInterval()) axis->setTickInterval(step);
    axis->setRange(min, max);
    axis->setTickInterval(step);
}

constexpr double kMarkerRadius = 4;
// The values' resolution (hundredths of V, A, W; whole degrees and milliohms
// are coarser): a zoom of a value axis stops there.
constexpr double kMinYSpan = 0.01;

QString axisTitle(const QString& name, const QString& unit)
{
    return QStringLiteral("%1 (%2)").arg(name, unit);
}

} // namespace

Plot::Plot(const QFont& font, const QString& xName, const QString& xUnit, Text xText,
           double minXSpan)
    : font_(font), chart_(new QChart), x_(new QValueAxis), xText_(std::move(xText)), xName_(xName),
      xUnit_(xUnit), minXSpan_(minXSpan)
{
    chart_->legend()->setFont(font_);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    styleAxis(x_, axisTitle(xName, xUnit), Qt::black);
    chart_->addAxis(x_, Qt::AlignBottom);
    const QString names[] = {QStringLiteral("A"), QStringLiteral("B")};
    for (std::size_t k = 0; k < cursors_.size(); ++k) {
        Cursor& c = cursors_[k];
        c.line = new QGraphicsLineItem(chart_);
        c.line->setPen(QPen(QColor(60, 60, 60), 1, Qt::DashLine));
        c.label = new QGraphicsSimpleTextItem(names[k], chart_);
        c.label->setFont(font_);
        for (QGraphicsItem* item :
             {static_cast<QGraphicsItem*>(c.line), static_cast<QGraphicsItem*>(c.label)}) {
            item->setZValue(90);
            item->hide();
        }
    }
}

void Plot::styleAxis(QValueAxis* axis, const QString& title, const QColor& colour)
{
    axis->setTitleText(title);
    axis->setTitleFont(font_);
    axis->setLabelsFont(font_);
    axis->setTitleBrush(colour);
    axis->setLabelsColor(colour);
    axis->setLinePenColor(colour);
    // The axes span the curves exactly; the ticks and their decimals follow every zoom.
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    QObject::connect(axis, &QValueAxis::rangeChanged, chart_, [axis](qreal min, qreal max) {
        const double step = tickStep(max - min);
        axis->setTickInterval(step);
        axis->setLabelFormat(labelFormat(step));
    });
    axis->setRange(0, 1);
    axis->setTickInterval(tickStep(1));
    axis->setLabelFormat(labelFormat(tickStep(1)));
}

QValueAxis* Plot::addYAxis(const QString& title, Qt::Alignment side, const QColor& colour,
                           bool fromZero)
{
    auto* axis = new QValueAxis;
    styleAxis(axis, title, colour);
    chart_->addAxis(axis, side);
    yAxes_.push_back(axis);
    if (fromZero) fromZero_.push_back(axis);
    return axis;
}

void Plot::addTrace(const QString& name, const QColor& colour, const discharge::Series* data,
                    QValueAxis* y, Text yText)
{
    auto* line = new QLineSeries;
    line->setName(name);
    line->setPen(QPen(colour, 1.5));
    chart_->addSeries(line);
    line->attachAxis(x_);
    line->attachAxis(y);
    auto* marker = new QGraphicsEllipseItem(-kMarkerRadius, -kMarkerRadius, 2 * kMarkerRadius,
                                            2 * kMarkerRadius, chart_);
    marker->setPen(QPen(colour, 1.5));
    marker->setZValue(100);
    marker->hide();
    traces_.push_back({name, data, line, y, std::move(yText), marker});
}

void Plot::removeTraces(std::size_t first)
{
    while (traces_.size() > first) {
        Trace& t = traces_.back();
        chart_->removeSeries(t.line);
        delete t.line;
        delete t.marker;
        traces_.pop_back();
    }
}

void Plot::setTraceVisible(std::size_t index, bool visible)
{
    Trace& t = traces_.at(index);
    t.line->setVisible(visible);
    for (QLegendMarker* m : chart_->legend()->markers(t.line))
        m->setVisible(visible);
    // An axis with no visible curve left takes no room.
    const bool used = std::any_of(traces_.begin(), traces_.end(), [&](const Trace& o) {
        return o.y == t.y && o.line->isVisible();
    });
    t.y->setVisible(used);
    if (!visible) t.marker->hide();
}

// Qt Charts stacks the series in the order they were added: added anew, the
// trace is the last one painted.
void Plot::drawOnTop(std::size_t index)
{
    Trace& t = traces_.at(index);
    const bool visible = t.line->isVisible();
    chart_->removeSeries(t.line);
    chart_->addSeries(t.line);
    t.line->attachAxis(x_);
    t.line->attachAxis(t.y);
    setTraceVisible(index, visible);
}

void Plot::setXUnit(double perUnit, const QString& unit)
{
    if (perUnit == perUnit_ && unit == xUnit_) return;
    // The shown range stays where it was in the data.
    if (perUnit != perUnit_)
        setSpan(x_, x_->min() * perUnit_ / perUnit, x_->max() * perUnit_ / perUnit);
    perUnit_ = perUnit;
    xUnit_ = unit;
    x_->setTitleText(xTitle());
}

QString Plot::xTitle() const { return axisTitle(xName_, xUnit_); }

void Plot::redraw()
{
    if (following_) {
        // Qt Charts lays out every line of an axis anew on each range change:
        // emptied first, a line is laid out once per redraw, with its new points.
        for (Trace& t : traces_)
            t.line->clear();
        fitAxes();
    }
    const double x0 = x_->min() * perUnit_;
    const double x1 = x_->max() * perUnit_;
    const int columns = std::max(1, int(chart_->plotArea().width()));
    for (Trace& t : traces_) {
        if (!t.line->isVisible()) continue;
        const std::vector<QPointF> points = t.data->decimated(x0, x1, columns);
        QList<QPointF> shown;
        shown.reserve(qsizetype(points.size()));
        for (const QPointF& p : points)
            shown.append(QPointF(p.x() / perUnit_, p.y()));
        t.line->replace(shown);
    }
    placeCursors();
}

void Plot::fitAxes()
{
    const std::optional<Range> x = xExtent();
    if (!x) return;
    setSpan(x_, x->min, x->max);
    for (QValueAxis* axis : yAxes_)
        fitY(axis, x->min * perUnit_, x->max * perUnit_);
}

// Time and capacity count up from zero; a little room after the newest point.
std::optional<Range> Plot::xExtent() const
{
    std::optional<Range> x;
    for (const Trace& t : traces_)
        if (t.line->isVisible()) x = unite(x, t.data->xRange());
    if (!x) return std::nullopt;
    const double x0 = std::min(x->min, 0.0);
    const double span = x->max > x0 ? x->max - x0 : perUnit_;
    return Range{x0 / perUnit_, (x0 + span * 1.03) / perUnit_};
}

std::optional<Range> Plot::yExtent(QValueAxis* axis) const
{
    std::optional<Range> y;
    for (const Trace& t : traces_) {
        if (t.y != axis || !t.line->isVisible()) continue;
        if (const auto x = t.data->xRange()) y = unite(y, t.data->yRange(x->min, x->max));
    }
    if (!y) return std::nullopt;
    if (std::find(fromZero_.begin(), fromZero_.end(), axis) != fromZero_.end())
        y->min = std::min(y->min, 0.0);
    return padded(*y);
}

void Plot::fitY(QValueAxis* axis, double x0, double x1)
{
    std::optional<Range> y;
    for (const Trace& t : traces_)
        if (t.y == axis && t.line->isVisible()) y = unite(y, t.data->yRange(x0, x1));
    if (!y) return;
    if (std::find(fromZero_.begin(), fromZero_.end(), axis) != fromZero_.end())
        y->min = std::min(y->min, 0.0);
    const Range r = padded(*y);
    setSpan(axis, r.min, r.max);
}

// `wanted`, at least `minSpan` wide, shifted into `extent` (all of it when it
// is wider). Whether the axis moved.
bool Plot::moveAxis(QValueAxis* axis, Range wanted, std::optional<Range> extent, double minSpan)
{
    Range r = wanted;
    if (r.max - r.min < minSpan) {
        const double centre = (r.min + r.max) / 2;
        r = {centre - minSpan / 2, centre + minSpan / 2};
    }
    if (extent) {
        const double span = r.max - r.min;
        if (span >= extent->max - extent->min)
            r = *extent;
        else if (r.min < extent->min)
            r = {extent->min, extent->min + span};
        else if (r.max > extent->max)
            r = {extent->max - span, extent->max};
    }
    if (r.min == axis->min() && r.max == axis->max()) return false;
    setSpan(axis, r.min, r.max);
    return true;
}

std::vector<QValueAxis*> Plot::visibleYAxes() const
{
    std::vector<QValueAxis*> shown;
    std::copy_if(yAxes_.begin(), yAxes_.end(), std::back_inserter(shown),
                 [](QValueAxis* a) { return a->isVisible(); });
    return shown;
}

void Plot::zoomX(double factor, QPointF scenePos)
{
    const std::optional<double> at = xAt(scenePos);
    const std::optional<Range> extent = xExtent();
    if (!at || !extent) return;
    const double p = *at / perUnit_;
    const double span = x_->max() - x_->min();
    const double whole = extent->max - extent->min;
    const double wanted = std::clamp(span * factor, minXSpan_ / perUnit_, whole);
    if (factor > 1 && wanted >= whole) {
        follow();
        return;
    }
    const double min = p - (p - x_->min()) * wanted / span;
    if (moveAxis(x_, {min, min + wanted}, extent, minXSpan_ / perUnit_)) following_ = false;
}

void Plot::zoomY(double factor, QPointF scenePos)
{
    const QRectF area = chart_->plotArea();
    const QPointF at = chart_->mapFromScene(scenePos);
    if (!area.contains(at)) return;
    const double fromBottom = (area.bottom() - at.y()) / area.height();
    for (QValueAxis* axis : visibleYAxes()) {
        const std::optional<Range> extent = yExtent(axis);
        const double span = axis->max() - axis->min();
        const double p = axis->min() + fromBottom * span;
        const double whole = extent ? extent->max - extent->min : span * factor;
        const double wanted = std::clamp(span * factor, kMinYSpan, std::max(whole, kMinYSpan));
        const double min = p - fromBottom * wanted;
        if (moveAxis(axis, {min, min + wanted}, extent, kMinYSpan)) following_ = false;
    }
}

void Plot::pan(QPointF pixels)
{
    const QRectF area = chart_->plotArea();
    if (area.isEmpty()) return;
    bool moved = false;
    const double dx = -pixels.x() * (x_->max() - x_->min()) / area.width();
    moved |= moveAxis(x_, {x_->min() + dx, x_->max() + dx}, xExtent(), minXSpan_ / perUnit_);
    for (QValueAxis* axis : visibleYAxes()) {
        const double dy = pixels.y() * (axis->max() - axis->min()) / area.height();
        moved |= moveAxis(axis, {axis->min() + dy, axis->max() + dy}, yExtent(axis), kMinYSpan);
    }
    if (moved) following_ = false;
}

void Plot::zoomedByRectangle()
{
    following_ = false;
    moveAxis(x_, {x_->min(), x_->max()}, xExtent(), minXSpan_ / perUnit_);
    for (QValueAxis* axis : visibleYAxes())
        moveAxis(axis, {axis->min(), axis->max()}, yExtent(axis), kMinYSpan);
}

std::optional<double> Plot::xAt(QPointF scenePos, bool held) const
{
    const QRectF area = chart_->plotArea();
    QPointF at = chart_->mapFromScene(scenePos);
    if (held)
        at = QPointF(std::clamp(at.x(), area.left(), area.right()),
                     std::clamp(at.y(), area.top(), area.bottom()));
    if (!area.contains(at) || traces_.empty()) return std::nullopt;
    return chart_->mapToValue(at, traces_.front().line).x() * perUnit_;
}

QString Plot::hover(QPointF scenePos)
{
    hideHover();
    const std::optional<double> x = xAt(scenePos);
    const bool anyData = std::any_of(traces_.begin(), traces_.end(), [](const Trace& t) {
        return t.line->isVisible() && !t.data->empty();
    });
    if (!x || !anyData) return {};
    QStringList parts{xName_ + QLatin1Char(' ') + xText_(*x)};
    for (Trace& t : traces_) {
        if (!t.line->isVisible()) continue;
        const std::optional<double> y = valueAt(*t.data, *x);
        parts << t.name + QLatin1Char(' ') + (y ? t.text(*y) : QStringLiteral("—"));
        if (!y) continue;
        t.marker->setPos(chart_->mapToPosition(QPointF(*x / perUnit_, *y), t.line));
        t.marker->setVisible(chart_->plotArea().contains(t.marker->pos()));
    }
    return parts.join(QStringLiteral("    "));
}

void Plot::hideHover()
{
    for (Trace& t : traces_)
        t.marker->hide();
}

void Plot::setCursor(std::size_t which, std::optional<double> x)
{
    cursors_.at(which).x = x;
    placeCursors();
}

double Plot::sceneXOf(double chartX) const
{
    return chart_->mapToPosition(QPointF(chartX, 0), traces_.front().line).x();
}

std::optional<std::size_t> Plot::cursorNear(QPointF scenePos, double pixels) const
{
    const QPointF at = chart_->mapFromScene(scenePos);
    std::optional<std::size_t> nearest;
    double best = pixels;
    for (std::size_t k = 0; k < cursors_.size(); ++k) {
        if (!cursors_[k].line->isVisible()) continue;
        const double d = std::abs(cursors_[k].line->line().x1() - at.x());
        if (d <= best) {
            best = d;
            nearest = k;
        }
    }
    return nearest;
}

void Plot::placeCursors()
{
    const QRectF area = chart_->plotArea();
    for (Cursor& c : cursors_) {
        const double x = c.x.value_or(0) / perUnit_;
        const bool shown = c.x && !traces_.empty() && x >= x_->min() && x <= x_->max();
        c.line->setVisible(shown);
        c.label->setVisible(shown);
        if (!shown) continue;
        const double sx = sceneXOf(x);
        c.line->setLine(sx, area.top(), sx, area.bottom());
        c.label->setPos(sx + 3, area.top() + 1);
    }
}

} // namespace eload::chart
