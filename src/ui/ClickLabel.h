#pragma once
// A label that reports a click: the left button pressed and released over it.

#include <QLabel>

namespace eload {

class ClickLabel final : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

} // namespace eload
