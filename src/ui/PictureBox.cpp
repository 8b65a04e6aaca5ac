#include "ui/PictureBox.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace eload {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {}

// A dark blue plate with a yellow lightning bolt at its left end.
QImage PictureBox::image(QSize size)
{
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient plate(0, 0, 0, size.height());
    plate.setColorAt(0, QColor(40, 70, 140));
    plate.setColorAt(1, QColor(10, 25, 70));
    p.fillRect(img.rect(), plate);

    const qreal h = size.height();
    const qreal x = h * 0.25;
    QPainterPath bolt;
    bolt.moveTo(x + h * 0.35, h * 0.10);
    bolt.lineTo(x + h * 0.05, h * 0.55);
    bolt.lineTo(x + h * 0.28, h * 0.55);
    bolt.lineTo(x + h * 0.15, h * 0.90);
    bolt.lineTo(x + h * 0.50, h * 0.40);
    bolt.lineTo(x + h * 0.27, h * 0.40);
    bolt.closeSubpath();
    p.setPen(QPen(QColor(120, 80, 0), 1));
    p.setBrush(QColor(255, 210, 0));
    p.drawPath(bolt);

    p.setPen(QColor(160, 160, 160));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1));
    return img;
}

void PictureBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawImage(0, 0, image(size()));
}

} // namespace eload
