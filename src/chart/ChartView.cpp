#include "chart/ChartView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <cmath>
#include <utility>

namespace eload::chart {

namespace {

// One wheel notch (120 units) zooms by this factor.
constexpr double kNotchZoom = 1.25;
// How near a cursor's line the pointer takes hold of it, in pixels.
constexpr double kCursorGrip = 5;

} // namespace

ChartView::ChartView(Plot& plot, QWidget* parent) : QChartView(plot.chart(), parent), plot_(plot)
{
    setRubberBand(QChartView::RectangleRubberBand);
    setRenderHint(QPainter::Antialiasing);
    setMouseTracking(true);
    click_.setSingleShot(true);
    connect(&click_, &QTimer::timeout, this, [this] { Q_EMIT clicked(clickedAt_); });
}

bool ChartView::pans(Qt::MouseButton button)
{
    return button == Qt::RightButton || button == Qt::MiddleButton;
}

QPointF ChartView::sceneAt(QPointF viewPos) const { return mapToScene(viewPos.toPoint()); }

void ChartView::wheelEvent(QWheelEvent* event)
{
    const QPointF at = chart()->mapFromScene(sceneAt(event->position()));
    if (!chart()->plotArea().contains(at) || event->angleDelta().y() == 0)
        return QChartView::wheelEvent(event);
    const double factor = std::pow(kNotchZoom, -event->angleDelta().y() / 120.0);
    if (event->modifiers() & Qt::ControlModifier)
        plot_.zoomY(factor, sceneAt(event->position()));
    else
        plot_.zoomX(factor, sceneAt(event->position()));
    event->accept();
    Q_EMIT viewMoved();
}

void ChartView::mousePressEvent(QMouseEvent* event)
{
    if (pans(event->button())) {
        panFrom_ = event->position();
        setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        dragging_ = plot_.cursorNear(sceneAt(event->position()), kCursorGrip);
        if (dragging_) {
            setCursor(Qt::SizeHorCursor);
            event->accept();
            return;
        }
    }
    pressedAt_ = event->position();
    QChartView::mousePressEvent(event);
}

void ChartView::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_) Q_EMIT cursorDragged(*dragging_, sceneAt(event->position()));
    if (panFrom_) {
        plot_.pan(event->position() - *panFrom_);
        panFrom_ = event->position();
        Q_EMIT viewMoved();
    }
    Q_EMIT hovered(sceneAt(event->position()));
    QChartView::mouseMoveEvent(event);
}

void ChartView::mouseReleaseEvent(QMouseEvent* event)
{
    if (pans(event->button()) || (dragging_ && event->button() == Qt::LeftButton)) {
        panFrom_.reset();
        dragging_.reset();
        unsetCursor();
        event->accept();
        return;
    }
    // A click is no rectangle; the rubber band ignores it too. The release
    // of a double click's second press is no click.
    const bool left = event->button() == Qt::LeftButton && !std::exchange(doubleClicked_, false);
    const bool zooms = left && (event->position() - pressedAt_).manhattanLength() > 4;
    QChartView::mouseReleaseEvent(event);
    if (zooms) {
        plot_.zoomedByRectangle();
        Q_EMIT viewMoved();
    } else if (left) {
        clickedAt_ = sceneAt(event->position());
        click_.start(QApplication::doubleClickInterval());
    }
}

void ChartView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QChartView::mouseDoubleClickEvent(event);
    click_.stop();
    doubleClicked_ = true;
    event->accept();
    Q_EMIT resetAsked();
}

void ChartView::leaveEvent(QEvent* event)
{
    Q_EMIT hoverLeft();
    QChartView::leaveEvent(event);
}

} // namespace eload::chart
