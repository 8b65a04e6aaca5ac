#pragma once
// One view of the chart window: a QChart whose line series draw, for the
// visible x range and the plot's width in pixels, what each curve's
// discharge::Series decimates to, never all its points. While it follows
// the data the axes fit the curves; a zoom or pan by the user stops that
// until the view is reset.

#include "discharge/Series.h"

#include <QChart>
#include <QFont>
#include <QLineSeries>
#include <QString>
#include <QValueAxis>
#include <functional>
#include <vector>

class QGraphicsEllipseItem;

namespace eload::chart {

class Plot {
public:
    using Text = std::function<QString(double)>;

    // `xName` ("时间") heads the axis title ("时间 (分)") and the hover read-out.
    Plot(const QFont& font, const QString& xName, const QString& xUnit, Text xText);

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
    std::size_t traceCount() const { return traces_.size(); }
    const QLineSeries* line(std::size_t index) const { return traces_[index].line; }

    // x in the chart = x of the data / `perUnit` (seconds shown as minutes ...).
    void setXUnit(double perUnit, const QString& unit);

    void redraw();
    void follow() { following_ = true; }
    void stopFollowing() { following_ = false; }
    bool following() const { return following_; }

    // The values of each curve's point nearest to the pointer, marked on the
    // curves; empty outside the plot.
    QString hover(QPointF scenePos);
    void hideHover();

private:
    struct Trace {
        QString name;
        const discharge::Series* data;
        QLineSeries* line;
        QValueAxis* y;
        Text text;
        QGraphicsEllipseItem* marker;
    };

    void fitAxes();
    void fitX();
    void fitY(QValueAxis* axis, double x0, double x1);
    void styleAxis(QValueAxis* axis, const QString& title, const QColor& colour);

    QFont font_;
    QChart* chart_;
    QValueAxis* x_;
    Text xText_;
    QString xName_;
    double perUnit_ = 1;
    std::vector<QValueAxis*> yAxes_;
    std::vector<QValueAxis*> fromZero_;
    std::vector<Trace> traces_;
    bool following_ = true;
};

} // namespace eload::chart
