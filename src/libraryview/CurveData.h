#pragma once
// A stored test's curve as the window and the report draw it: voltage over
// the discharge's own capacity (the module's count less the count the test
// started from) and over the time since its start, each decimated to what
// a plot of `columns` pixel columns shows, every column's lowest and highest
// point kept, so a nine-hour test costs what a short one does.

#include "library/TestRecord.h"

#include "discharge/Sample.h"

#include <QMetaType>
#include <QPointF>
#include <span>
#include <vector>

namespace eload::libraryview {

inline constexpr int kCurveColumns = 1600;

struct TestCurve {
    qint64 id = 0;
    QString cell;
    std::vector<QPointF> byCapacity; // x: A·h, y: V
    std::vector<QPointF> byTime;     // x: hours, y: V
};

TestCurve curveOf(const library::TestRecord& test, std::span<const discharge::Sample> samples,
                  int columns = kCurveColumns);

} // namespace eload::libraryview

Q_DECLARE_METATYPE(eload::libraryview::TestCurve)
