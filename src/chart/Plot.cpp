#include "chart/Plot.h"

#include <QGraphicsEllipseItem>
#include <QLegendMarker>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <optional>

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

// About six ticks on 1, 2 or 5 times a power of ten.
double tickStep(double span)
{
    if (!(span > 0)) return 1;
    const double raw = span / 6;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double n = raw / magnitude;
    return (n < 1.5 ? 1 : n < 3 ? 2 : n < 7 ? 5 : 10) * magnitude;
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

QString axisTitle(const QString& name, const QString& unit)
{
    return QStringLiteral("%1 (%2)").arg(name, unit);
}

} // namespace

Plot::Plot(const QFont& font, const QString& xName, const QString& xUnit, Text xText)
    : font_(font), chart_(new QChart), x_(new QValueAxis), xText_(std::move(xText)), xName_(xName)
{
    chart_->legend()->setFont(font_);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    styleAxis(x_, axisTitle(xName, xUnit), Qt::black);
    chart_->addAxis(x_, Qt::AlignBottom);
}

void Plot::styleAxis(QValueAxis* axis, const QString& title, const QColor& colour)
{
    axis->setTitleText(title);
    axis->setTitleFont(font_);
    axis->setLabelsFont(font_);
    axis->setTitleBrush(colour);
    axis->setLabelsColor(colour);
    axis->setLinePenColor(colour);
    axis->setLabelFormat(QStringLiteral("%.4g"));
    // The axes span the curves exactly; the ticks follow every zoom.
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    QObject::connect(axis, &QValueAxis::rangeChanged, chart_,
                     [axis](qreal min, qreal max) { axis->setTickInterval(tickStep(max - min)); });
    axis->setRange(0, 1);
    axis->setTickInterval(tickStep(1));
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

void Plot::setXUnit(double perUnit, const QString& unit)
{
    if (perUnit == perUnit_) return;
    // The shown range stays where it was in the data.
    setSpan(x_, x_->min() * perUnit_ / perUnit, x_->max() * perUnit_ / perUnit);
    perUnit_ = perUnit;
    x_->setTitleText(axisTitle(xName_, unit));
}

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
}

void Plot::fitAxes()
{
    fitX();
    const double x0 = x_->min() * perUnit_;
    const double x1 = x_->max() * perUnit_;
    for (QValueAxis* axis : yAxes_)
        fitY(axis, x0, x1);
}

void Plot::fitX()
{
    std::optional<Range> x;
    for (const Trace& t : traces_)
        if (t.line->isVisible()) x = unite(x, t.data->xRange());
    if (!x) return;
    // Time and capacity count up from zero; a little room after the newest point.
    const double x0 = std::min(x->min, 0.0);
    const double span = x->max > x0 ? x->max - x0 : perUnit_;
    setSpan(x_, x0 / perUnit_, (x0 + span * 1.03) / perUnit_);
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

QString Plot::hover(QPointF scenePos)
{
    hideHover();
    const QPointF at = chart_->mapFromScene(scenePos);
    if (!chart_->plotArea().contains(at) || traces_.empty()) return {};
    const double x = chart_->mapToValue(at, traces_.front().line).x() * perUnit_;
    QStringList parts;
    std::optional<double> shownX;
    for (Trace& t : traces_) {
        if (!t.line->isVisible()) continue;
        const std::optional<QPointF> p = t.data->nearest(x);
        if (!p) continue;
        if (!shownX) shownX = p->x();
        parts << t.name + QLatin1Char(' ') + t.text(p->y());
        t.marker->setPos(chart_->mapToPosition(QPointF(p->x() / perUnit_, p->y()), t.line));
        t.marker->setVisible(chart_->plotArea().contains(t.marker->pos()));
    }
    if (!shownX) return {};
    parts.prepend(xName_ + QLatin1Char(' ') + xText_(*shownX));
    return parts.join(QStringLiteral("    "));
}

void Plot::hideHover()
{
    for (Trace& t : traces_)
        t.marker->hide();
}

} // namespace eload::chart
