#pragma once
// A chart view the user steers: the wheel zooms around the pointer, a drawn
// rectangle (left button) zooms into it, the right or middle button drags
// the view, a double click goes back to the whole curve. Hovering reports
// the pointer's place so that the window can show the nearest values.

#include <QChartView>
#include <optional>

namespace eload::chart {

class ChartView final : public QChartView {
    Q_OBJECT
public:
    explicit ChartView(QChart* chart, QWidget* parent = nullptr);

Q_SIGNALS:
    void viewMoved(); // zoomed or panned by the user
    void resetAsked();
    void hovered(QPointF scenePos);
    void hoverLeft();

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    static bool pans(Qt::MouseButton button);

    std::optional<QPointF> panFrom_;
    QPointF pressedAt_; // where a rectangle may start
};

} // namespace eload::chart
