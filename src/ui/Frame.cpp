#include "ui/Frame.h"

#include <QPainter>

namespace eload {

void Frame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QFontMetrics fm(font());
    const int lineY = fm.height() / 2;
    p.setPen(QColor(160, 160, 160));
    p.drawRect(QRectF(0.5, lineY + 0.5, width() - 1, height() - lineY - 1));
    const QRect caption(8, 0, fm.horizontalAdvance(title()), fm.height());
    p.fillRect(caption, palette().window());
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, title());
}

} // namespace eload
