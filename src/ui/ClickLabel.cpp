#include "ui/ClickLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace eload {

void ClickLabel::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click) Q_EMIT clicked();
}

void ClickLabel::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (hasFocus() && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter))
        return click();
    QLabel::keyPressEvent(event);
}

// A label that takes the focus draws its text through a text document, a
// pixel higher than a plain label: this one draws it as a plain label does,
// and the focus as the style's focus frame.
void ClickLabel::paintEvent(QPaintEvent* event)
{
    if (focusPolicy() == Qt::NoFocus) return QLabel::paintEvent(event);
    QStylePainter painter(this);
    const int flags = QStyle::visualAlignment(layoutDirection(), alignment());
    painter.drawItemText(contentsRect(), flags | Qt::TextForceLeftToRight, palette(), isEnabled(),
                         text(), foregroundRole());
    if (!hasFocus()) return;
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.backgroundColor = palette().color(QPalette::Window);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, frame);
}

} // namespace eload
