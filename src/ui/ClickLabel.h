#pragma once
// A label that reports a click: the left button pressed and released over it,
// or, when it takes the focus (a link), Space or Enter.

#include <QLabel>

namespace eload {

class ClickLabel final : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    void click() { Q_EMIT clicked(); }

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool pressed_ = false;
};

} // namespace eload
