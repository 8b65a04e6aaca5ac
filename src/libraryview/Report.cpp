#include "libraryview/Report.h"

#include "libraryview/Health.h"
#include "libraryview/TestTexts.h"

#include "ui/Fonts.h"

#include "modbus/Formats.h"

#include <QDateTime>
#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace eload::libraryview {

using library::TestRecord;

namespace {

constexpr int kPointsPerInch = 72;
constexpr qreal kMargin = 42;

struct Figure {
    QString label, value;
};

QString temperatureText(std::uint16_t celsius)
{
    return celsius > 0 ? QStringLiteral("%1℃").arg(celsius) : kNone;
}

QString healthText(const TestRecord& t, const library::GradeRules& rules)
{
    const Health h = healthOf(t.stateOfHealth, bandsFor(t.header.cell.type, rules));
    return h == Health::Unknown
               ? sohText(t.stateOfHealth)
               : QStringLiteral("%1（%2）").arg(sohText(t.stateOfHealth), healthName(h));
}

std::vector<Figure> testFigures(const TestRecord& t, const library::GradeRules& rules)
{
    const library::TestHeader& h = t.header;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    return {
        {QStringLiteral("电池"), h.cell.name},
        {QStringLiteral("类型"), h.cell.type.isEmpty() ? kNone : h.cell.type},
        {QStringLiteral("额定容量"), ratedText(h.cell)},
        {QStringLiteral("健康度"), healthText(t, rules)},
        {QStringLiteral("等级"), gradeText(t.grade)},
        {QStringLiteral("开始"), dateText(t.startMsecs())},
        {QStringLiteral("结束"), dateText(t.endMsecs())},
        {QStringLiteral("结束原因"), endText(t, now)},
        {QStringLiteral("工位"), h.station.isEmpty() ? kNone : h.station},
        {QStringLiteral("串口 / 地址"),
         QStringLiteral("%1 / %2").arg(h.port.isEmpty() ? kNone : h.port,
                                       h.address ? QString::number(*h.address) : kNone)},
        {QStringLiteral("预设电流"), presetText(h.presets.currentA, modbus::currentText)},
        {QStringLiteral("截止电压"), presetText(h.presets.cutoffV, modbus::voltageText)},
        {QStringLiteral("预设功率"), presetText(h.presets.powerW, modbus::powerText)},
        {QStringLiteral("标记"), flagsText(t, now)},
    };
}

std::vector<Figure> dischargeFigures(const discharge::Summary& s)
{
    const QString mark = s.countsDisagree ? QStringLiteral("*") : QString();
    return {
        {QStringLiteral("容量"), capacityText(s.capacityAh) + mark},
        {QStringLiteral("能量"), energyText(s.energyWh) + mark},
        {QStringLiteral("时长"), durationText(s.durationSeconds)},
        {QStringLiteral("平均电压"), voltageText(s.averageVoltage)},
        {QStringLiteral("最低电压"), voltageText(s.lowestVoltage)},
        {QStringLiteral("平均电流"), QString::number(s.averageCurrent, 'f', 2) + QLatin1Char('A')},
        {QStringLiteral("平均功率"), QString::number(s.averagePower, 'f', 2) + QLatin1Char('W')},
        {QStringLiteral("内阻"), resistanceText(s)},
        {QStringLiteral("最高温度"), temperatureText(s.highestTemperatureC)},
        {QStringLiteral("应答 / 漏答"),
         QStringLiteral("%1 / %2").arg(s.samples).arg(s.missedPolls)},
    };
}

// Label and value in two columns; the height used.
qreal drawFigures(QPainter& p, QRectF area, const std::vector<Figure>& figures)
{
    p.setFont(songFont(9));
    const qreal line = p.fontMetrics().height() * 1.45;
    const qreal labelWidth = area.width() * 0.32;
    qreal y = area.top();
    for (const Figure& f : figures) {
        p.setPen(QColor(90, 90, 90));
        p.drawText(QRectF(area.left(), y, labelWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                   f.label);
        p.setPen(Qt::black);
        const QRectF value(area.left() + labelWidth, y, area.width() - labelWidth, line);
        p.drawText(value, Qt::AlignLeft | Qt::AlignVCenter,
                   p.fontMetrics().elidedText(f.value, Qt::ElideRight, int(value.width())));
        y += line;
    }
    return y - area.top();
}

// A step of 1, 2 or 5 times a power of ten giving about `count` ticks.
double tickStep(double span, int count)
{
    if (!(span > 0)) return 1;
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * power) return m * power;
    return 10 * power;
}

QString tickText(double v, double step)
{
    const int decimals = std::clamp(int(-std::floor(std::log10(step))), 0, 4);
    return QString::number(v, 'f', decimals);
}

struct Range {
    double lo, hi;
};

Range xRangeOf(const std::vector<QPointF>& points)
{
    double hi = 0;
    for (const QPointF& p : points)
        hi = std::max(hi, p.x());
    return {0, hi > 0 ? hi : 1};
}

Range yRangeOf(const std::vector<QPointF>& points)
{
    if (points.empty()) return {0, 5};
    auto [lo, hi] = std::minmax_element(points.begin(), points.end(),
                                        [](QPointF a, QPointF b) { return a.y() < b.y(); });
    const double pad = std::max((hi->y() - lo->y()) * 0.05, 0.05);
    return {std::max(0.0, lo->y() - pad), hi->y() + pad};
}

// A framed plot with ticks, grid and the curve.
void drawPlot(QPainter& p, QRectF area, const std::vector<QPointF>& points, const QString& title,
              const QString& xTitle, const QString& yTitle)
{
    p.setFont(songFont(10, true));
    p.setPen(Qt::black);
    const qreal titleHeight = p.fontMetrics().height() * 1.4;
    p.drawText(QRectF(area.left(), area.top(), area.width(), titleHeight),
               Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setFont(songFont(8));
    const qreal text = p.fontMetrics().height();
    const QRectF plot(area.left() + 34 + text, area.top() + titleHeight, area.width() - 44 - text,
                      area.height() - titleHeight - 2.6 * text);
    p.save();
    p.translate(area.left(), plot.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-plot.height() / 2, 0, plot.height(), text), Qt::AlignCenter, yTitle);
    p.restore();
    const Range xr = xRangeOf(points), yr = yRangeOf(points);
    const double xStep = tickStep(xr.hi - xr.lo, 8), yStep = tickStep(yr.hi - yr.lo, 6);
    auto toPage = [&](QPointF v) {
        return QPointF(plot.left() + (v.x() - xr.lo) / (xr.hi - xr.lo) * plot.width(),
                       plot.bottom() - (v.y() - yr.lo) / (yr.hi - yr.lo) * plot.height());
    };
    p.setPen(QPen(QColor(215, 215, 215), 0.4));
    for (double x = std::ceil(xr.lo / xStep) * xStep; x <= xr.hi + xStep * 1e-9; x += xStep) {
        const qreal px = toPage({x, yr.lo}).x();
        p.setPen(QPen(QColor(215, 215, 215), 0.4));
        p.drawLine(QPointF(px, plot.top()), QPointF(px, plot.bottom()));
        p.setPen(Qt::black);
        p.drawText(QRectF(px - 30, plot.bottom() + 2, 60, text), Qt::AlignHCenter | Qt::AlignTop,
                   tickText(x, xStep));
    }
    for (double y = std::ceil(yr.lo / yStep) * yStep; y <= yr.hi + yStep * 1e-9; y += yStep) {
        const qreal py = toPage({xr.lo, y}).y();
        p.setPen(QPen(QColor(215, 215, 215), 0.4));
        p.drawLine(QPointF(plot.left(), py), QPointF(plot.right(), py));
        p.setPen(Qt::black);
        p.drawText(QRectF(plot.left() - 34, py - text / 2, 31, text),
                   Qt::AlignRight | Qt::AlignVCenter, tickText(y, yStep));
    }
    p.drawText(QRectF(plot.left(), plot.bottom() + text + 3, plot.width(), text),
               Qt::AlignHCenter | Qt::AlignTop, xTitle);
    p.setPen(QPen(Qt::black, 0.6));
    p.drawRect(plot);
    if (points.empty()) {
        p.drawText(plot, Qt::AlignCenter, QStringLiteral("无曲线数据"));
        return;
    }
    QPainterPath path(toPage(points.front()));
    for (const QPointF& v : points)
        path.lineTo(toPage(v));
    p.save();
    p.setClipRect(plot);
    p.setPen(QPen(QColor(0, 114, 178), 1.0));
    p.drawPath(path);
    p.restore();
}

} // namespace

void drawReport(QPainter& p, QSizeF page, const TestRecord& test, const TestCurve& curve,
                const library::GradeRules& rules)
{
    const QRectF body(kMargin, kMargin, page.width() - 2 * kMargin, page.height() - 2 * kMargin);
    p.setFont(songFont(16, true));
    p.setPen(Qt::black);
    const qreal titleHeight = p.fontMetrics().height() * 1.3;
    p.drawText(QRectF(body.left(), body.top(), body.width(), titleHeight),
               Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("电池放电测试报告：%1").arg(test.header.cell.name));
    qreal y = body.top() + titleHeight + 6;
    p.setPen(QPen(Qt::black, 0.8));
    p.drawLine(QPointF(body.left(), y), QPointF(body.right(), y));
    y += 8;
    const qreal half = (body.width() - 16) / 2;
    const qreal left = drawFigures(p, QRectF(body.left(), y, half, 400), testFigures(test, rules));
    const qreal right = drawFigures(p, QRectF(body.left() + half + 16, y, half, 400),
                                    dischargeFigures(test.summary));
    y += std::max(left, right) + 12;
    const qreal footer = 18;
    const qreal plotHeight = (body.bottom() - footer - y - 10) / 2;
    drawPlot(p, QRectF(body.left(), y, body.width(), plotHeight), curve.byCapacity,
             QStringLiteral("电压 – 容量"), QStringLiteral("容量 (A·h)"),
             QStringLiteral("电压 (V)"));
    y += plotHeight + 10;
    drawPlot(p, QRectF(body.left(), y, body.width(), plotHeight), curve.byTime,
             QStringLiteral("电压 – 时间"), QStringLiteral("时间 (小时)"),
             QStringLiteral("电压 (V)"));
    p.setFont(songFont(7));
    p.setPen(QColor(90, 90, 90));
    QString note = QStringLiteral("测试编号 %1　UUID %2　报告生成于 %3")
                       .arg(test.id)
                       .arg(test.header.uuid.toString(QUuid::WithoutBraces),
                            dateText(QDateTime::currentMSecsSinceEpoch()));
    if (test.summary.countsDisagree) note += QStringLiteral("　*模块计数与测量值不符");
    p.drawText(QRectF(body.left(), body.bottom() - footer, body.width(), footer),
               Qt::AlignLeft | Qt::AlignBottom, note);
}

std::optional<QString> writeReport(const QString& path, const TestRecord& test,
                                   const TestCurve& curve, const library::GradeRules& rules)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("无法写入 %1：%2").arg(path, file.errorString());
    {
        QPdfWriter writer(&file);
        writer.setResolution(kPointsPerInch);
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        writer.setTitle(QStringLiteral("电池放电测试报告：%1").arg(test.header.cell.name));
        writer.setCreator(QStringLiteral("eload-panel"));
        QPainter painter;
        if (!painter.begin(&writer)) {
            file.cancelWriting();
            return QStringLiteral("无法生成 PDF：%1").arg(path);
        }
        painter.setRenderHint(QPainter::Antialiasing);
        drawReport(painter, QSizeF(writer.width(), writer.height()), test, curve, rules);
        painter.end();
    }
    if (!file.commit()) return QStringLiteral("无法保存 %1：%2").arg(path, file.errorString());
    return std::nullopt;
}

} // namespace eload::libraryview
