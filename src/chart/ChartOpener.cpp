#include "chart/ChartOpener.h"

#include "chart/ChartWindow.h"

#include <QAction>
#include <QWidget>

namespace eload::chart {

QAction* addChartOpener(QWidget& panel, ChartWindow& chart)
{
    auto* open = new QAction(QStringLiteral("显示放电曲线"), &chart);
    open->setShortcut(kOpenChartKeys);
    open->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(open, &QAction::triggered, &chart, [&panel, &chart] {
        if (!chart.isVisible()) return chart.showBeside(panel);
        chart.setWindowState(chart.windowState() & ~Qt::WindowMinimized);
        chart.raise();
        chart.activateWindow();
    });
    panel.addAction(open);
    if (auto* picture = panel.findChild<QWidget*>(QStringLiteral("Picture1(0)"))) {
        picture->setContextMenuPolicy(Qt::ActionsContextMenu);
        picture->addAction(open);
    }
    return open;
}

} // namespace eload::chart
