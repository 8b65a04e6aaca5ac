#pragma once
// The round port lamp: a circle in a solid fill colour, nothing else.

#include <QColor>
#include <QWidget>

namespace eload {

class Shape final : public QWidget {
    Q_OBJECT
public:
    explicit Shape(QWidget* parent = nullptr);

    QColor fillColor() const { return fill_; }
    void setFillColor(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_ = Qt::black;
};

} // namespace eload
