#pragma once
// Opens the chart window again once it was closed, without changing how the
// panel looks: Ctrl+G in the panel's window, and "显示放电曲线" in the context
// menu of its picture box (Picture1(0)). A chart already open is raised.

#include <QKeySequence>

class QAction;
class QWidget;

namespace eload::chart {

class ChartWindow;

inline const QKeySequence kOpenChartKeys{QStringLiteral("Ctrl+G")};

// The action lives as long as `chart`.
QAction* addChartOpener(QWidget& panel, ChartWindow& chart);

} // namespace eload::chart
