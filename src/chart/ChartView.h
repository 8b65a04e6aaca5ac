#pragma once
// A chart view the user steers: the wheel zooms the time or capacity around
// the pointer (with Ctrl, the value axes), a drawn rectangle (left button)
// zooms into it, the right or middle button drags the view, a double click
// goes back to the whole curve. A left click places a cursor; a cursor's
// line is dragged with the left button. Hovering reports the pointer's place
// so that the window can show the values there.

#include "chart/Plot.h"

#include <QChartView>
#include <QTimer>
#include <optional>

namespace eload::chart {

class ChartView final : public QChartView {
    Q_OBJECT
public:
    explicit ChartView(Plot& plot, QWidget* parent = nullptr);

Q_SIGNALS:
    void viewMoved(); // zoomed or panned by the user
    void resetAsked();
    void hovered(QPointF scenePos);
    void hoverLeft();
    // A left click that drew no rectangle and began no double click.
    void clicked(QPointF scenePos);
    void cursorDragged(std::size_t which, QPointF scenePos);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    static bool pans(Qt::MouseButton button);
    QPointF sceneAt(QPointF viewPos) const;

    Plot& plot_;
    std::optional<QPointF> panFrom_;
    std::optional<std::size_t> dragging_;
    QPointF pressedAt_; // where a rectangle may start
    QTimer click_;      // a click waits to see whether a double click follows
    QPointF clickedAt_;
    bool doubleClicked_ = false;
};

} // namespace eload::chart
