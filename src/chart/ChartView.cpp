#include "chart/ChartView.h"

#include <QMouseEvent>
#include <QWheelEvent>
#include <cmath>

namespace eload::chart {

namespace {

// One wheel notch (120 units) zooms by this factor.
constexpr double kNotchZoom = 1.25;

} // namespace

ChartView::ChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent)
{
    setRubberBand(QChartView::RectangleRubberBand);
    setRenderHint(QPainter::Antialiasing);
    setMouseTracking(true);
}

bool ChartView::pans(Qt::MouseButton button)
{
    return button == Qt::RightButton || button == Qt::MiddleButton;
}

void ChartView::wheelEvent(QWheelEvent* event)
{
    const QRectF plot = chart()->plotArea();
    const QPointF at = chart()->mapFromScene(mapToScene(event->position().toPoint()));
    if (!plot.contains(at) || event->angleDelta().y() == 0) return QChartView::wheelEvent(event);
    // The shown rectangle shrinks (or grows) around the pointer, which stays on its value.
    const double scale = std::pow(kNotchZoom, -event->angleDelta().y() / 120.0);
    const QPointF offset = at - plot.topLeft();
    const QRectF shown(at - offset * scale, plot.size() * scale);
    chart()->zoomIn(shown);
    event->accept();
    Q_EMIT viewMoved();
}

void ChartView::mousePressEvent(QMouseEvent* event)
{
    if (!pans(event->button())) {
        pressedAt_ = event->position();
        return QChartView::mousePressEvent(event);
    }
    panFrom_ = event->position();
    setCursor(Qt::ClosedHandCursor);
    event->accept();
}

void ChartView::mouseMoveEvent(QMouseEvent* event)
{
    if (panFrom_) {
        const QPointF delta = event->position() - *panFrom_;
        panFrom_ = event->position();
        chart()->scroll(-delta.x(), delta.y());
        Q_EMIT viewMoved();
    }
    Q_EMIT hovered(mapToScene(event->position().toPoint()));
    QChartView::mouseMoveEvent(event);
}

void ChartView::mouseReleaseEvent(QMouseEvent* event)
{
    if (pans(event->button())) {
        panFrom_.reset();
        unsetCursor();
        event->accept();
        return;
    }
    // A click is no rectangle; the rubber band ignores it too.
    const bool zooms =
        event->button() == Qt::LeftButton && (event->position() - pressedAt_).manhattanLength() > 4;
    QChartView::mouseReleaseEvent(event);
    if (zooms) Q_EMIT viewMoved();
}

void ChartView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QChartView::mouseDoubleClickEvent(event);
    event->accept();
    Q_EMIT resetAsked();
}

void ChartView::leaveEvent(QEvent* event)
{
    Q_EMIT hoverLeft();
    QChartView::leaveEvent(event);
}

} // namespace eload::chart
