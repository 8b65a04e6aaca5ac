#pragma once
// One view of the chart window: a QChart whose line series draw, for the
// visible x range and the plot's width in pixels, what each curve's
// discharge::Series decimates to, never all its points. While it follows
// the data the axes fit the curves; a zoom or pan by the user stops that
// until the view is reset, and never goes past the data's extent.

#include "discharge/Series.h"

#include <QChart>
#include <QFont>
#include <QLineSeries>
#include <QString>
#include <QValueAxis>
#include <array>
#include <functional>
#include <optional>
#include <vector>

class QGraphicsEllipseItem;
class QGraphicsLineItem;
class QGraphicsSimpleTextItem;

namespace eload::chart {

class Plot {
public:
    using Text = std::function<QString(double)>;

    // `xName` ("时间") heads the axis title ("时间 (分)") and the hover read-out;
    // a zoom stops at `minXSpan` of the data's x.
    Plot(const QFont& font, const QString& xName, const QString& xUnit, Text xText,
         double minXSpan);

    QChart* chart() const { return chart_; }

    // `fromZero`: the axis always shows zero, so that a steady value's last
    // digit of noise does not fill the plot (current, power).
    QValueAxis* addYAxis(const QString& title, Qt::Alignment side, const QColor& colour,
                         bool fromZero = false);
    // A curve drawn from `data`, which must outlive the trace (or its removal).
    void addTrace(const QString& name, const QColor& colour, const discharge::Series* data,
                  QValueAxis* y, Text yText);
    // Drops the traces from `first` on.
    void removeTraces(std::size_t first);
    void setTraceVisible(std::size_t index, bool visible);
    // Draws the trace over all the others (the running discharge over its references).
    void drawOnTop(std::size_t index);
    std::size_t traceCount() const { return traces_.size(); }
    const QLineSeries* line(std::size_t index) const { return traces_[index].line; }

    // x in the chart = x of the data / `perUnit` (seconds shown as minutes ...);
    // `unit` follows the name in the axis title.
    void setXUnit(double perUnit, const QString& unit);
    QString xTitle() const;

    void redraw();
    void follow() { following_ = true; }
    bool following() const { return following_; }

    // The user's zoom and pan; each stops following when the view moves.
    // The wheel's zoom of x (or of every value axis) keeps the value under
    // the pointer in place; zooming x out to the whole extent follows again.
    void zoomX(double factor, QPointF scenePos);
    void zoomY(double factor, QPointF scenePos);
    void pan(QPointF pixels);
    // After Qt's own zoom into a drawn rectangle.
    void zoomedByRectangle();

    // The data's x at a scene position; nothing outside the plot area, unless
    // `held`: then the nearest x inside it.
    std::optional<double> xAt(QPointF scenePos, bool held = false) const;

    // Every visible curve's value at the pointer's x, interpolated between its
    // points and marked on the curve ("—" where a curve has none); empty
    // outside the plot.
    QString hover(QPointF scenePos);
    void hideHover();

    // Two vertical cursors, "A" and "B", at the data's x; nothing removes one.
    void setCursor(std::size_t which, std::optional<double> x);
    std::optional<double> cursor(std::size_t which) const { return cursors_[which].x; }
    // The cursor whose line is within `pixels` of the scene position.
    std::optional<std::size_t> cursorNear(QPointF scenePos, double pixels) const;

private:
    struct Trace {
        QString name;
        const discharge::Series* data;
        QLineSeries* line;
        QValueAxis* y;
        Text text;
        QGraphicsEllipseItem* marker;
    };
    struct Cursor {
        std::optional<double> x;
        QGraphicsLineItem* line;
        QGraphicsSimpleTextItem* label;
    };
    using Range = discharge::Series::Range;

    void fitAxes();
    std::optional<Range> xExtent() const; // in the chart's units
    std::optional<Range> yExtent(QValueAxis* axis) const;
    void fitY(QValueAxis* axis, double x0, double x1);
    void styleAxis(QValueAxis* axis, const QString& title, const QColor& colour);
    bool moveAxis(QValueAxis* axis, Range wanted, std::optional<Range> extent, double minSpan);
    std::vector<QValueAxis*> visibleYAxes() const;
    double sceneXOf(double chartX) const;
    void placeCursors();

    QFont font_;
    QChart* chart_;
    QValueAxis* x_;
    Text xText_;
    QString xName_;
    QString xUnit_;
    double perUnit_ = 1;
    double minXSpan_;
    std::vector<QValueAxis*> yAxes_;
    std::vector<QValueAxis*> fromZero_;
    std::vector<Trace> traces_;
    std::array<Cursor, 2> cursors_{};
    bool following_ = true;
};

} // namespace eload::chart
