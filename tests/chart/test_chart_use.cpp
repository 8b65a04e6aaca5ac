// The chart window as a tester uses it: where it opens, its minimum size,
// the values under the pointer, the live curve over its references, zoom
// and pan, the clocks, the optional curves, the cursors and the cut-off,
// the SVG's texts, the export's errors, what a screen reader hears, and
// opening it again from the panel.

#include "chart/ChartOpener.h"
#include "chart/ChartView.h"
#include "chart/ChartWindow.h"
#include "chart/Placement.h"
#include "chart/SummaryTexts.h"
#include "chart/Ticks.h"
#include "ui/frmmain.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSplitter>
#include <QSvgRenderer>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>
#include <set>

using namespace eload;
using namespace eload::chart;
using View = ChartWindow::View;

namespace {

// Reply i of a 1 A discharge from 12.50 V, a minute apart on the PC's clock
// while the module's own time runs six times faster (a battery simulated
// fast): 0.1·i AH, 1.2·i WH, 25 + i ℃, 100 + 2·i mΩ.
discharge::Sample reply(int i)
{
    discharge::Sample s;
    s.monotonicMsecs = 5'000'000 + qint64(i) * 60'000;
    s.msecs = 1'700'000'000'000 + qint64(i) * 60'000;
    s.voltage = float(12.5 - 0.1 * i);
    s.current = 1;
    s.power = s.voltage;
    s.capacityAh = 0.1 * i;
    s.energyWh = 1.2 * i;
    s.temperatureC = std::uint16_t(25 + i);
    s.resistanceMilliohm = std::uint16_t(100 + 2 * i);
    s.loadOn = true;
    s.dischargeSeconds = 360 * i;
    return s;
}

void feedReplies(ChartWindow& w, int from, int to)
{
    for (int i = from; i < to; ++i)
        w.feed().take(reply(i));
    w.redrawNow();
}

struct Shown {
    ChartWindow w;
    explicit Shown(int replies = 11)
    {
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        feedReplies(w, 0, replies);
    }
};

QString cell(ChartWindow& w, const char* row, int column)
{
    return w.findChild<QLabel*>(QString::fromLatin1(row) + QString::number(column))->text();
}

QStringList cursorRow(ChartWindow& w, const char* row)
{
    QStringList cells;
    for (int c = 0; c < 4; ++c)
        cells << cell(w, row, c);
    return cells;
}

QPointF sceneOf(Plot& plot, QPointF value)
{
    auto* line = const_cast<QLineSeries*>(plot.line(0));
    return plot.chart()->mapToScene(plot.chart()->mapToPosition(value, line));
}

QValueAxis* xAxis(Plot& plot)
{
    return qobject_cast<QValueAxis*>(plot.chart()->axes(Qt::Horizontal).first());
}

QValueAxis* voltageAxis(Plot& plot)
{
    return qobject_cast<QValueAxis*>(plot.chart()->axes(Qt::Vertical).first());
}

double span(QValueAxis* a) { return a->max() - a->min(); }

void wheel(ChartView* view, QPointF scenePos, int notches, Qt::KeyboardModifiers modifiers = {})
{
    const QPointF at = view->mapFromScene(scenePos);
    QWheelEvent e(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                  Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &e);
}

// Pixels near `colour` in the image.
int pixelsOf(const QImage& image, const QColor& colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                     std::abs(c.blue() - colour.blue()) <
                 40;
        }
    return n;
}

int darkPixels(const QImage& image, const QRect& r)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += qGray(image.pixel(x, y)) < 128;
    return n;
}

// Every interface a reader reaches from `root`.
QList<QAccessibleInterface*> reachable(QObject* root)
{
    QList<QAccessibleInterface*> all;
    const auto walk = [&](auto& self, QAccessibleInterface* i) -> void {
        all << i;
        for (int k = 0; k < i->childCount(); ++k)
            self(self, i->child(k));
    };
    walk(walk, QAccessible::queryAccessibleInterface(root));
    return all;
}

// The panel's window with a title bar and borders, as a window manager shows it.
const QMargins kDecoration(1, 30, 1, 1);
const QSize kDecorationSize(2, 31);

} // namespace

class ChartUseTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Beside the panel where the screen has room; else the least cover of
    // its controls. Never beyond the available area.
    void placement_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("panelAt");
        QTest::addColumn<bool>("beside");
        QTest::newRow("1920x1080, panel at the left")
            << QRect(0, 0, 1920, 1040) << QPoint(0, 0) << true;
        QTest::newRow("1920x1080, panel centred")
            << QRect(0, 0, 1920, 1040) << QPoint(464, 251) << false;
        QTest::newRow("3840x2160 at 200 %") << QRect(0, 0, 1920, 1052) << QPoint(0, 0) << true;
        QTest::newRow("2560x1440, panel centred")
            << QRect(0, 0, 2560, 1400) << QPoint(784, 431) << true;
        QTest::newRow("1600x1000") << QRect(0, 0, 1600, 960) << QPoint(0, 0) << true;
        QTest::newRow("1366x768 at 100 %") << QRect(0, 0, 1366, 728) << QPoint(0, 0) << false;
        QTest::newRow("1366x768 at 100 %, panel at the right")
            << QRect(0, 0, 1366, 728) << QPoint(374, 0) << false;
        QTest::newRow("1366x768 at 150 %") << QRect(0, 0, 911, 485) << QPoint(0, 0) << false;
        QTest::newRow("1200x1920 upright: below")
            << QRect(0, 0, 1200, 1880) << QPoint(0, 0) << true;
    }
    void placement()
    {
        QFETCH(QRect, available);
        QFETCH(QPoint, panelAt);
        QFETCH(bool, beside);
        frmmain panel;
        panel.move(panelAt + QPoint(kDecoration.left(), kDecoration.top()));
        const QRect panelFrame = panel.geometry().marginsAdded(kDecoration);
        const std::vector<QRect> controls = controlFrames(panel);
        QVERIFY(controls.size() >= 8);
        const QSize minimum = ChartWindow().minimumSizeHint() + kDecorationSize;
        const QSize preferred = QSize(1060, 700) + kDecorationSize;

        const Placement p = placeChart(panelFrame, controls, available, minimum, preferred);
        QVERIFY(available.contains(p.frame));
        QVERIFY(p.frame.width() >= std::min(minimum.width(), available.width()));
        QVERIFY(p.frame.height() >= std::min(minimum.height(), available.height()));
        QCOMPARE(!p.coversPanel, beside);
        if (beside) {
            QVERIFY(!p.frame.intersects(panelFrame));
            return;
        }
        // No place of its size covers less: not where the window used to
        // open (right of the panel, pushed into the screen), nor a corner.
        const qint64 covered = coveredArea(p.frame, controls);
        const QSize size = p.frame.size();
        const QPoint old(std::min(panelFrame.right() + 1, available.right() + 1 - size.width()),
                         panelFrame.top());
        for (const QPoint at :
             {old, available.topLeft(), available.topRight() - QPoint(size.width() - 1, 0),
              available.bottomLeft() - QPoint(0, size.height() - 1),
              available.bottomRight() - QPoint(size.width() - 1, size.height() - 1)})
            QVERIFY(covered <= coveredArea(QRect(at, size), controls));
        QVERIFY(covered < coveredArea(QRect(old, size), controls) || covered == 0 ||
                available.width() < panelFrame.width());
    }

    // The window itself, on the test screen: within the available area.
    void opensWithinTheScreen()
    {
        QWidget panel;
        panel.resize(400, 300);
        panel.move(0, 0);
        panel.show();
        ChartWindow w;
        w.showBeside(panel);
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect available = panel.screen()->availableGeometry();
        QVERIFY2(available.contains(w.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                       .arg(w.x())
                                                                       .arg(w.y())
                                                                       .arg(w.width())
                                                                       .arg(w.height())));
        QVERIFY(w.width() >= std::min(w.minimumSizeHint().width(), available.width()));
    }

    // At its minimum size every text shows whole, the summary's box too,
    // and the window fits beside the panel on a 1600 pixels wide screen.
    void theMinimumSizeKeepsEveryTextReadable()
    {
        ChartWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        feedReplies(w, 0, 5);
        w.feed().replyMissed(reply(5).monotonicMsecs - 20'000);
        w.feed().replyMissed(reply(5).monotonicMsecs - 10'000);
        feedReplies(w, 5, 8);
        discharge::Sample off = reply(8);
        off.loadOn = false;
        off.protection = modbus::ProtectionUvlo;
        w.feed().take(off);
        w.feed().take(off);
        w.setCutoff(11.5);
        w.placeCursor(View::Time, 60);
        w.placeCursor(View::Time, 420);
        w.redrawNow();
        QVERIFY(w.findChild<QLabel*>("omitted")->text().contains(QStringLiteral("结束后空闲")));
        QVERIFY(w.findChild<QLabel*>("notes")->text().contains(QStringLiteral("通讯间断")));

        QCoreApplication::sendPostedEvents();
        w.resize(w.minimumSize());
        QTRY_COMPARE(w.size(), w.minimumSize());
        QTest::qWait(50);
        for (QLabel* l : w.findChildren<QLabel*>()) {
            if (!l->isVisible() || l->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored)
                continue;
            QSize need = l->minimumSizeHint();
            if (l->wordWrap()) need.setHeight(l->heightForWidth(l->width()));
            QVERIFY2(l->width() >= need.width() && l->height() >= need.height(),
                     qPrintable(l->objectName() + u' ' + l->text()));
        }
        for (QAbstractButton* b : w.findChildren<QAbstractButton*>())
            if (b->isVisible() && !qobject_cast<QToolButton*>(b))
                QVERIFY2(b->width() >= b->minimumSizeHint().width(), qPrintable(b->text()));
        auto* summary = w.findChild<QLabel*>("capacity")->parentWidget();
        QVERIFY(summary->height() >= summary->minimumSizeHint().height());
        QVERIFY2(w.minimumSize().width() + kDecorationSize.width() <= 1600 - 992,
                 qPrintable(QString::number(w.minimumSize().width())));
        QVERIFY2(w.minimumSize().height() <= 485, // 1366x768 at 150 %, less a taskbar
                 qPrintable(QString::number(w.minimumSize().height())));
    }

    // Every curve's value at the pointer's one x, between its points.
    void hoverValuesAtOneX_data()
    {
        QTest::addColumn<double>("capacity");
        QTest::addColumn<QString>("expected");
        QTest::newRow("on a live point") << 0.5 << "容量 0.500AH    本次放电 12.00V    参考 12.09V";
        QTest::newRow("between points") << 0.25 << "容量 0.250AH    本次放电 12.25V    参考 12.33V";
        QTest::newRow("beyond the live end") << 1.07 << "容量 1.070AH    本次放电 —    参考 11.54V";
    }
    void hoverValuesAtOneX()
    {
        QFETCH(double, capacity);
        QFETCH(QString, expected);
        Shown s;
        ChartWindow& w = s.w;
        ReferenceCurve r;
        r.name = QStringLiteral("参考");
        const double volts[] = {12.6, 12.2, 11.9, 11.5, 11.0};
        for (int i = 0; i < 5; ++i)
            r.voltageOverCapacity.append(0.37 * i, volts[i]);
        w.feed().addReference(std::move(r));
        w.showView(View::Capacity);
        w.redrawNow();
        Plot& plot = w.plot(View::Capacity);
        QCOMPARE(plot.hover(sceneOf(plot, {capacity, 12})), expected);

        // Through the pointer: the read-out is the plot's at the pixel it is on.
        ChartView* view = w.view(View::Capacity);
        const QPoint at = view->mapFromScene(sceneOf(plot, {capacity, 12}));
        QTest::mouseMove(view->viewport(), at);
        QTRY_VERIFY(w.findChild<QLabel*>("readout")->text().contains(QStringLiteral("参考")));
        QCOMPARE(w.findChild<QLabel*>("readout")->text(), plot.hover(view->mapToScene(at)));
    }

    // A reference of the same battery lies exactly under the live curve:
    // the live one is what shows, however the references were added.
    void theLiveCurveIsDrawnAboveReferences()
    {
        Shown s;
        ChartWindow& w = s.w;
        w.showView(View::Capacity);
        const QColor live = w.plot(View::Capacity).line(0)->pen().color();
        for (int added = 1; added <= 2; ++added) {
            ReferenceCurve same;
            same.name = QStringLiteral("同一电池 %1").arg(added);
            for (int i = 0; i < 11; ++i)
                same.voltageOverCapacity.append(0.1 * i, reply(i).voltage);
            w.feed().addReference(std::move(same));
            w.redrawNow();
            QCoreApplication::sendPostedEvents();
            const QImage shown = w.view(View::Capacity)->grab().toImage();
            const QColor under = w.plot(View::Capacity).line(added)->pen().color();
            const int liveCount = pixelsOf(shown, live), underCount = pixelsOf(shown, under);
            QVERIFY2(
                liveCount > 200 && underCount < liveCount / 10,
                qPrintable(QStringLiteral("%1 live, %2 reference").arg(liveCount).arg(underCount)));
        }
    }

    // The wheel zooms x, with Ctrl the value axes; zoom-out and pan stop at
    // the data; a view that stopped following says so, with a way back.
    void zoomAndPan()
    {
        Shown s;
        ChartWindow& w = s.w;
        Plot& p = w.plot(View::Time);
        ChartView* view = w.view(View::Time);
        auto* stopped = w.findChild<QLabel*>("stopped");
        const QPointF centre = p.chart()->mapToScene(p.chart()->plotArea().center());
        const double wholeX = span(xAxis(p)), wholeV = span(voltageAxis(p));
        QVERIFY(!stopped->isVisible());

        wheel(view, centre, -1); // out, already whole
        QVERIFY(p.following());
        QCOMPARE(span(xAxis(p)), wholeX);

        wheel(view, centre, 2);
        QVERIFY(!p.following());
        QVERIFY(stopped->isVisible());
        QVERIFY(std::abs(span(xAxis(p)) - wholeX / 1.5625) < 1e-6 * wholeX);
        QCOMPARE(span(voltageAxis(p)), wholeV);

        wheel(view, centre, 1, Qt::ControlModifier);
        QVERIFY(std::abs(span(voltageAxis(p)) - wholeV / 1.25) < 1e-6 * wholeV);
        QVERIFY(std::abs(span(xAxis(p)) - wholeX / 1.5625) < 1e-6 * wholeX);

        // Dragged far past the start: held at it.
        const QPoint from = view->mapFromScene(centre);
        QTest::mousePress(view->viewport(), Qt::RightButton, {}, from);
        QTest::mouseMove(view->viewport(), from + QPoint(3000, -3000));
        QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, from + QPoint(3000, -3000));
        QCOMPARE(xAxis(p)->min(), 0.0);
        QVERIFY(voltageAxis(p)->max() <= 12.5 + 0.05 * 1.0 + 1e-9); // the top of the padded data

        w.findChild<QAbstractButton*>("follow")->click();
        QVERIFY(p.following());
        QVERIFY(!stopped->isVisible());

        // Zoomed in deep, then out notch by notch: out to the whole, following again.
        wheel(view, centre, 30);
        QVERIFY(span(xAxis(p)) * 60 >= 2 - 1e-9); // two seconds at least (the axis in minutes)
        wheel(view, centre, -40);
        QVERIFY(p.following());
    }

    // However deep the zoom, neighbouring ticks never read alike.
    void tickLabelsNeverRepeat()
    {
        for (double base : {0.0, 1.0, 12.345678, 3600.0, 250000.0})
            for (int k = -4; k <= 6; ++k)
                for (double mantissa : {1.0, 1.7, 3.3, 7.1}) {
                    const double width = mantissa * std::pow(10.0, k);
                    const double step = tickStep(width);
                    const QByteArray format = labelFormat(step).toLatin1();
                    std::set<QString> labels;
                    int ticks = 0;
                    for (double t = std::ceil(base / step) * step; t <= base + width; t += step) {
                        labels.insert(QString::asprintf(format.constData(), t));
                        ++ticks;
                    }
                    QVERIFY2(int(labels.size()) == ticks,
                             qPrintable(QStringLiteral("%1 + %2").arg(base).arg(width)));
                }
        Shown s;
        Plot& p = s.w.plot(View::Time);
        wheel(s.w.view(View::Time), p.chart()->mapToScene(p.chart()->plotArea().center()), 30,
              Qt::ControlModifier);
        QCOMPARE(voltageAxis(p)->labelFormat(), labelFormat(voltageAxis(p)->tickInterval()));
        QVERIFY(labelDecimals(voltageAxis(p)->tickInterval()) >= 3);
    }

    // The time axis says its clock; the module's own time may be x. The
    // optional curves are kept only while shown.
    void clocksAndOptionalCurves()
    {
        Shown s;
        ChartWindow& w = s.w;
        const DischargeCurves& c = w.feed().curves();
        QVERIFY(w.plot(View::Time).xTitle().contains(QStringLiteral("电脑时钟")));
        QCOMPARE(c.voltage.xRange()->max, 600.0);

        w.setTimeClock(TimeClock::Module);
        QCOMPARE(w.plot(View::Time).xTitle(), QStringLiteral("时间 (分钟，模块计时)"));
        QCOMPARE(c.voltage.size(), std::size_t(11));
        QCOMPARE(c.voltage.xRange()->max, 3600.0);
        w.feed().take(reply(11));
        QCOMPARE(c.voltage.last()->x(), 3960.0);

        QVERIFY(c.temperature.empty() && c.resistance.empty());
        w.showTimeTrace(ChartWindow::TimeTrace::Temperature, true);
        w.showTimeTrace(ChartWindow::TimeTrace::Resistance, true);
        QCOMPARE(c.temperature.size(), std::size_t(12));
        QCOMPARE(c.temperature.last()->y(), 36.0);
        QCOMPARE(c.resistance.at(3).y(), 106.0);
        Plot& p = w.plot(View::Time);
        QCOMPARE(
            p.hover(sceneOf(p, {1800.0 / 60, 12})),
            QStringLiteral("时间 00:30:00    电压 12.00V    电流 1.00A    温度 30℃    内阻 110MR"));
        w.showTimeTrace(ChartWindow::TimeTrace::Temperature, false);
        QVERIFY(c.temperature.empty());
        w.setTimeClock(TimeClock::Pc);
        QCOMPARE(c.resistance.xRange()->max, 660.0);
        QVERIFY(w.plot(View::Time).xTitle().contains(QStringLiteral("电脑时钟")));
    }

    // Two cursors on the replies nearest to where they are put, the same
    // replies on both views; B − A in the panel's texts.
    void cursors()
    {
        Shown s;
        ChartWindow& w = s.w;
        w.placeCursor(View::Time, 120);
        w.placeCursor(View::Time, 430);
        QCOMPARE(cursorRow(w, "cursorA"),
                 QStringList({"00:02:00", "12.30V", "0.200AH", "2.400WH"}));
        QCOMPARE(cursorRow(w, "cursorB"),
                 QStringList({"00:07:00", "11.80V", "0.700AH", "8.400WH"}));
        QCOMPARE(cursorRow(w, "cursorDelta"),
                 QStringList({"00:05:00", "-0.50V", "0.500AH", "6.000WH"}));
        QCOMPARE(w.plot(View::Capacity).cursor(1).value(), 0.7);
        QCOMPARE(w.plot(View::Time).cursor(0).value(), 120.0);

        // A click on the capacity view moves the nearer cursor.
        w.showView(View::Capacity);
        w.redrawNow();
        Plot& p = w.plot(View::Capacity);
        ChartView* view = w.view(View::Capacity);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->mapFromScene(sceneOf(p, {0.9, 12})));
        QTRY_COMPARE(cell(w, "cursorB", 2), QStringLiteral("0.900AH"));
        QCOMPARE(cell(w, "cursorA", 2), QStringLiteral("0.200AH"));
        // A's line dragged to 0.4 AH.
        const QPoint line = view->mapFromScene(sceneOf(p, {0.2, 12}));
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, line);
        QTest::mouseMove(view->viewport(), view->mapFromScene(sceneOf(p, {0.4, 12})));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {},
                            view->mapFromScene(sceneOf(p, {0.4, 12})));
        QCOMPARE(cell(w, "cursorA", 2), QStringLiteral("0.400AH"));
        QTest::qWait(QApplication::doubleClickInterval() + 50); // no click left behind
        QCOMPARE(cell(w, "cursorB", 2), QStringLiteral("0.900AH"));

        w.setTimeClock(TimeClock::Module);
        QCOMPARE(cell(w, "cursorDelta", 0), QStringLiteral("00:30:00"));
        w.clearCursors();
        QCOMPARE(cell(w, "cursorA", 0), QStringLiteral("—"));

        w.placeCursor(View::Capacity, 0.3);
        w.feed().take(reply(0)); // the count back at zero: a new discharge
        w.redrawNow();
        QCOMPARE(cell(w, "cursorA", 0), QStringLiteral("—"));
        QVERIFY(!w.plot(View::Time).cursor(0));
    }

    // Capacity and energy down to the first reply under the cut-off with
    // the load on: of this discharge and of each reference.
    void toTheCutoffVoltage()
    {
        Shown s;
        ChartWindow& w = s.w;
        auto* figures = w.findChild<QLabel*>("cutoffFigures");
        w.setCutoff(12.0); // 12.00 V itself is not under it
        QCOMPARE(figures->text(), QStringLiteral("至截止：0.600AH，7.200WH"));
        w.setCutoff(5);
        QCOMPARE(figures->text(), QStringLiteral("至截止：未低于此电压"));

        w.feed().take(reply(0)); // a new discharge: the one before is a reference
        w.setCutoff(11.55);
        auto* table = w.findChild<QTableWidget*>();
        QCOMPARE(table->rowCount(), 1);
        const int column = table->columnCount() - 2;
        QCOMPARE(table->item(0, column)->text(), QStringLiteral("1.000AH"));
        QCOMPARE(table->item(0, column + 1)->text(), QStringLiteral("12.000WH"));
        QCOMPARE(figures->text(), QStringLiteral("至截止：未低于此电压"));
        feedReplies(w, 1, 11);
        QCOMPARE(figures->text(), QStringLiteral("至截止：1.000AH，12.000WH"));
        w.setCutoff(0);
        QCOMPARE(table->item(0, column)->text(), QStringLiteral("—"));
        QCOMPARE(figures->text(), QStringLiteral("至截止：—"));
    }

    // The SVG's texts are outlines, where the screen shows text.
    void svgTextsAreOutlines()
    {
        Shown s;
        ChartWindow& w = s.w;
        QTemporaryDir dir;
        QSignalSpy exported(&w, &ChartWindow::exported);
        w.exportImage(dir.filePath("c.svg"));
        w.exportImage(dir.filePath("c.png"));
        QCOMPARE(exported.count(), 2);
        QFile f(dir.filePath("c.svg"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray svg = f.readAll();
        QVERIFY(!svg.contains("<text"));
        QVERIFY(svg.contains("<path"));

        const QImage png(dir.filePath("c.png"));
        QSvgRenderer renderer(svg);
        QImage drawn(png.size(), QImage::Format_RGB32);
        drawn.fill(Qt::white);
        QPainter painter(&drawn);
        renderer.render(&painter);
        painter.end();
        // Below the plot: the time axis's numbers and title.
        Plot& p = w.plot(View::Time);
        const QRectF area = p.chart()->plotArea();
        const QRect below = w.view(View::Time)
                                ->mapFromScene(p.chart()->mapToScene(
                                    QRectF(area.left(), area.bottom() + 4, area.width(), 30)))
                                .boundingRect();
        const int onScreen = darkPixels(png, below), inSvg = darkPixels(drawn, below);
        QVERIFY2(
            onScreen > 50 && inSvg > onScreen / 2 && inSvg < onScreen * 2,
            qPrintable(QStringLiteral("%1 on screen, %2 in the SVG").arg(onScreen).arg(inSvg)));
    }

    void exportErrorsAreChinese()
    {
        Shown s;
        QTemporaryDir dir;
        QSignalSpy exported(&s.w, &ChartWindow::exported);
        const QString folder = dir.filePath("no/such");
        s.w.exportImage(folder + "/c.svg");
        QCOMPARE(exported.count(), 1);
        QCOMPARE(exported.first().at(1).toString(),
                 QStringLiteral("文件夹不存在：") + QDir::toNativeSeparators(folder));
        s.w.exportCsv(dir.path()); // a folder's own name
        QTRY_COMPARE(exported.count(), 2);
        QVERIFY(exported.last().at(1).toString().startsWith(QStringLiteral("已有同名的文件夹")));
    }

    // The plot areas, the reference table and the splitter's handle have
    // names; no name a reader speaks is English.
    void whatAReaderHears()
    {
        Shown s;
        ChartWindow& w = s.w;
        w.resize(w.minimumSize()); // the tab bar's scroll buttons appear
        QTest::qWait(50);
        const auto nameOf = [](QObject* o) {
            return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name);
        };
        QCOMPARE(nameOf(w.view(View::Time)), QStringLiteral("电压、电流—时间曲线图"));
        QCOMPARE(nameOf(w.view(View::Capacity)), QStringLiteral("电压—容量 (放电曲线)曲线图"));
        QCOMPARE(nameOf(w.findChild<QTableWidget*>()), QStringLiteral("参考曲线列表"));
        QVERIFY(!nameOf(w.findChild<QSplitter*>()->handle(1)).isEmpty());
        const auto scrolls = w.findChild<QTabBar*>()->findChildren<QToolButton*>();
        QCOMPARE(scrolls.size(), 2);
        for (QToolButton* b : scrolls)
            QVERIFY(nameOf(b).contains(QStringLiteral("滚动")));

        const QRegularExpression english(QStringLiteral("[A-Za-z]{3,}"));
        const QStringList allowed{"Ctrl"};
        for (QAccessibleInterface* i : reachable(&w)) {
            QString name = i->text(QAccessible::Name);
            for (const QString& a : allowed)
                name.remove(a);
            QVERIFY2(!english.match(name).hasMatch(), qPrintable(name));
        }
    }

    // Closed, it opens again from the panel with Ctrl+G or from the picture
    // box's context menu; the panel looks as it did.
    void opensAgainFromThePanel()
    {
        frmmain panel;
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const QImage before = panel.grab().toImage();
        ChartWindow w;
        QAction* open = addChartOpener(panel, w);
        QCOMPARE(panel.grab().toImage(), before);
        auto* picture = panel.findChild<QWidget*>("Picture1(0)");
        QCOMPARE(picture->contextMenuPolicy(), Qt::ActionsContextMenu);
        QVERIFY(picture->actions().contains(open));
        QCOMPARE(open->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_G));

        w.showBeside(panel);
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.close();
        QVERIFY(!w.isVisible());
        panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        QTest::keyClick(&panel, Qt::Key_G, Qt::ControlModifier);
        QTRY_VERIFY(w.isVisible());
        w.close();
        open->trigger(); // the menu's entry
        QTRY_VERIFY(w.isVisible());
    }
};

QTEST_MAIN(ChartUseTest)
#include "test_chart_use.moc"
