#pragma once
// The selected tests' curves overlaid: voltage over each discharge's own
// capacity, one line per test, the legend naming the cells. Two tests of
// one cell are told apart by their dates.

#include "libraryview/CurveData.h"

#include <QChartView>
#include <vector>

class QLineSeries;
class QValueAxis;

namespace eload::libraryview {

class CapacityView : public QChartView {
    Q_OBJECT
public:
    explicit CapacityView(QWidget* parent = nullptr);

    // `names`: the legend's entry of each curve, in order.
    void setCurves(const std::vector<TestCurve>& curves, const QStringList& names);
    int curveCount() const;
    QStringList legendNames() const;

private:
    void fitAxes();

    QChart* chart_ = nullptr;
    QValueAxis* x_;
    QValueAxis* y_;
};

} // namespace eload::libraryview
