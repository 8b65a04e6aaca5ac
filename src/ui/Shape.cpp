#include "ui/Shape.h"

#include <QPainter>

namespace eload {

Shape::Shape(QWidget* parent) : QWidget(parent) {}

void Shape::setFillColor(const QColor& colour)
{
    if (colour == fill_) return;
    fill_ = colour;
    update();
}

void Shape::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(fill_);
    const int side = qMin(width(), height()) - 1;
    p.drawEllipse(QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side));
}

} // namespace eload
