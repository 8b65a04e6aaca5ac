#pragma once
// A frame as the form draws it: one thin line around the controls with the
// caption set into its top edge, on the window's own background. The style's
// group box shades its inside and puts the caption above the line.

#include <QGroupBox>

namespace eload {

class Frame final : public QGroupBox {
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace eload
