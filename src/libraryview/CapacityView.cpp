#include "libraryview/CapacityView.h"

#include "ui/Fonts.h"

#include <QLegendMarker>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>

namespace eload::libraryview {

namespace {

// Distinct on white and for the common colour blindnesses (Okabe–Ito).
const QList<QColor> kColours = {QColor(0, 114, 178),   QColor(213, 94, 0),  QColor(0, 158, 115),
                                QColor(204, 121, 167), QColor(230, 159, 0), QColor(86, 180, 233),
                                QColor(0, 0, 0),       QColor(240, 228, 66)};

} // namespace

CapacityView::CapacityView(QWidget* parent)
    // The chart given at construction: setChart() would first make and drop a default one.
    : QChartView(new QChart, parent), x_(new QValueAxis), y_(new QValueAxis)
{
    chart_ = chart();
    const QFont font = songFont(9);
    chart_->setFont(font);
    chart_->legend()->setFont(font);
    chart_->legend()->setAlignment(Qt::AlignRight);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    x_->setTitleText(QStringLiteral("容量 (A·h)"));
    y_->setTitleText(QStringLiteral("电压 (V)"));
    for (QValueAxis* a : {x_, y_}) {
        a->setTitleFont(font);
        a->setLabelsFont(font);
        a->setLabelFormat(QStringLiteral("%.2f"));
    }
    x_->setTickCount(9); // a hint: applyNiceNumbers picks round steps near it
    y_->setTickCount(7);
    chart_->addAxis(x_, Qt::AlignBottom);
    chart_->addAxis(y_, Qt::AlignLeft);
    setRenderHint(QPainter::Antialiasing);
    setAccessibleName(QStringLiteral("容量曲线图"));
    fitAxes();
}

void CapacityView::setCurves(const std::vector<TestCurve>& curves, const QStringList& names)
{
    chart_->removeAllSeries();
    for (std::size_t i = 0; i < curves.size(); ++i) {
        auto* line = new QLineSeries;
        line->setName(int(i) < names.size() ? names[int(i)] : curves[i].cell);
        QPen pen(kColours[int(i % std::size_t(kColours.size()))]);
        pen.setWidthF(1.5);
        line->setPen(pen);
        line->replace(QList<QPointF>(curves[i].byCapacity.begin(), curves[i].byCapacity.end()));
        chart_->addSeries(line);
        line->attachAxis(x_);
        line->attachAxis(y_);
    }
    fitAxes();
}

int CapacityView::curveCount() const { return int(chart_->series().size()); }

QStringList CapacityView::legendNames() const
{
    QStringList names;
    for (QLegendMarker* m : chart_->legend()->markers())
        names << m->label();
    return names;
}

void CapacityView::fitAxes()
{
    double x1 = 0, y0 = 0, y1 = 0;
    bool any = false;
    for (QAbstractSeries* s : chart_->series())
        for (const QPointF& p : static_cast<QLineSeries*>(s)->points()) {
            x1 = std::max(x1, p.x());
            y0 = any ? std::min(y0, p.y()) : p.y();
            y1 = any ? std::max(y1, p.y()) : p.y();
            any = true;
        }
    if (!any) {
        x_->setRange(0, 1);
        y_->setRange(0, 5);
        return;
    }
    const double pad = std::max((y1 - y0) * 0.05, 0.05);
    x_->setRange(0, x1 > 0 ? x1 : 1);
    y_->setRange(std::max(0.0, y0 - pad), y1 + pad);
    x_->applyNiceNumbers();
    y_->applyNiceNumbers();
}

} // namespace eload::libraryview
