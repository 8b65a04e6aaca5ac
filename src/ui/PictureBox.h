#pragma once
// Picture1(0): the brand picture. The image is drawn here, not loaded, so the
// program carries no picture file of anyone else's.

#include <QWidget>

namespace eload {

class PictureBox final : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    // The fixed image, as drawn into the box.
    static QImage image(QSize size);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace eload
