#include "chart/SvgExport.h"

#include <QBuffer>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QSvgGenerator>
#include <limits>

namespace eload::chart {

namespace {

// Hands every drawing call on to a painter on the SVG generator, except text:
// QPaintEngine's own drawTextItem fills the glyphs' outlines with drawPath.
class OutlineEngine final : public QPaintEngine {
public:
    explicit OutlineEngine(QPainter& target) : QPaintEngine(AllFeatures), target_(target) {}

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return User; }

    void updateState(const QPaintEngineState& state) override
    {
        const DirtyFlags dirty = state.state();
        // Clips are replayed with the transform they were set under.
        target_.setTransform(state.transform());
        if (dirty & DirtyPen) target_.setPen(state.pen());
        if (dirty & DirtyBrush) target_.setBrush(state.brush());
        if (dirty & DirtyBrushOrigin) target_.setBrushOrigin(state.brushOrigin());
        if (dirty & DirtyBackground) target_.setBackground(state.backgroundBrush());
        if (dirty & DirtyBackgroundMode) target_.setBackgroundMode(state.backgroundMode());
        if (dirty & DirtyHints) target_.setRenderHints(state.renderHints());
        if (dirty & DirtyCompositionMode) target_.setCompositionMode(state.compositionMode());
        if (dirty & DirtyOpacity) target_.setOpacity(state.opacity());
        if (dirty & DirtyFont) target_.setFont(state.font());
        if (dirty & DirtyClipRegion)
            target_.setClipRegion(state.clipRegion(), state.clipOperation());
        if (dirty & DirtyClipPath) target_.setClipPath(state.clipPath(), state.clipOperation());
        if (dirty & DirtyClipEnabled) target_.setClipping(state.isClipEnabled());
    }

    void drawPath(const QPainterPath& path) override { target_.drawPath(path); }
    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override
    {
        if (mode == PolylineMode)
            target_.drawPolyline(points, count);
        else
            target_.drawPolygon(points, count,
                                mode == WindingMode ? Qt::WindingFill : Qt::OddEvenFill);
    }
    void drawPixmap(const QRectF& r, const QPixmap& pixmap, const QRectF& source) override
    {
        target_.drawPixmap(r, pixmap, source);
    }
    void drawImage(const QRectF& r, const QImage& image, const QRectF& source,
                   Qt::ImageConversionFlags flags) override
    {
        target_.drawImage(r, image, source, flags);
    }

private:
    QPainter& target_;
};

class OutlineDevice final : public QPaintDevice {
public:
    OutlineDevice(QPainter& target, QSize size, int dpi) : engine_(target), size_(size), dpi_(dpi)
    {
    }
    ~OutlineDevice() override = default;
    QPaintEngine* paintEngine() const override { return &engine_; }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth: return size_.width();
        case PdmHeight: return size_.height();
        case PdmWidthMM: return qRound(size_.width() * 25.4 / dpi_);
        case PdmHeightMM: return qRound(size_.height() * 25.4 / dpi_);
        case PdmNumColors: return std::numeric_limits<int>::max();
        case PdmDepth: return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return dpi_;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    mutable OutlineEngine engine_;
    QSize size_;
    int dpi_;
};

} // namespace

QByteArray svgWithOutlinedText(QSize size, int dpi, const QString& title,
                               const std::function<void(QPainter&)>& draw)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setResolution(dpi);
    svg.setTitle(title);
    QPainter target(&svg);
    OutlineDevice device(target, size, dpi);
    {
        QPainter painter(&device);
        draw(painter);
    }
    target.end();
    return bytes;
}

} // namespace eload::chart
