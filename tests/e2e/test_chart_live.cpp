// The chart window end to end: the panel with the chart beside it, wired as
// --chart wires it, polls the simulated module: a battery run down to the
// module's under-voltage lock-out; a second discharge without clearing the
// module; the module cleared from its own keys; the module's own clock as
// x; a module gone silent with the port open; the line lost while the
// panel's box waits for OK.

#include "chart/ChartWindow.h"
#include "core/Texts.h"
#include "e2e/LivePanel.h"
#include "modbus/Formats.h"
#include "sim/Simulator.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace eload;
using namespace eload::test;

namespace {

// The panel and the chart against one simulated module, and the capacity
// text the panel showed with each accepted reply.
struct Rig {
    sim::Simulator module;
    LivePanel panel;
    chart::ChartWindow chartWindow;
    QStringList capacityShown;
    int started = 0;

    explicit Rig(sim::Options options)
        : module(options), panel(QString::fromStdString(std::get<std::string>(module.start())))
    {
        panel.form.setReadingSink(&chartWindow.feed());
        auto* status = qobject_cast<QLineEdit*>(panel.window.control(Ctl::Message_Show));
        QObject::connect(status, &QLineEdit::textChanged, [this](const QString& t) {
            if (t == texts::kReplyGood) capacityShown << panel.text(Ctl::AI_SHOW3);
        });
        QObject::connect(&feed(), &chart::DischargeFeed::started, [this] { ++started; });
    }
    chart::DischargeFeed& feed() { return chartWindow.feed(); }
    // Waits until `n` more replies have been accepted.
    bool replies(int n)
    {
        const auto want = capacityShown.size() + n;
        return QTest::qWaitFor([&] { return capacityShown.size() >= want; }, 30000);
    }
};

int thousandths(QString text) { return text.remove(QStringLiteral("AH")).remove(u'.').toInt(); }

} // namespace

class ChartLiveTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void dischargeDownToUvlo()
    {
        sim::Options options;
        options.speed = 30;
        options.model.capacityAh = 0.05; // 3 minutes at 1 A: 6 s of real time
        sim::Simulator module(options);
        module.setReg(17, 1);
        LivePanel panel(QString::fromStdString(std::get<std::string>(module.start())));
        chart::ChartWindow chartWindow;
        panel.form.setReadingSink(&chartWindow.feed());
        chartWindow.showBeside(panel.window);

        // Accepted replies; how many there were when the discharge ended, and
        // the capacity the panel showed with the first and the last of them
        // (the load is on before the first poll: the module has counted a little).
        int accepted = 0, acceptedAtEnd = 0;
        QString capacityFirst, capacityShown;
        auto* status = qobject_cast<QLineEdit*>(panel.window.control(Ctl::Message_Show));
        QVERIFY(status);
        QObject::connect(status, &QLineEdit::textChanged, [&](const QString& t) {
            if (t != texts::kReplyGood) return;
            if (++accepted == 1) capacityFirst = panel.text(Ctl::AI_SHOW3);
        });
        const chart::DischargeFeed& feed = chartWindow.feed();
        QObject::connect(&feed, &chart::DischargeFeed::changed, [&] {
            if (acceptedAtEnd > 0 || feed.running()) return;
            acceptedAtEnd = accepted;
            capacityShown = panel.text(Ctl::AI_SHOW3);
        });

        panel.openAndAcquire();
        QTRY_VERIFY_WITH_TIMEOUT(acceptedAtEnd > 0, 60000);
        // Replies after the end belong to no discharge: the chart takes none of them.
        QTRY_VERIFY_WITH_TIMEOUT(accepted >= acceptedAtEnd + 2, 10000);
        panel.click(Ctl::Command_OK3);
        QCOMPARE(panel.text(Ctl::Command_OK3), texts::kAcquire);
        QVERIFY(panel.boxes.texts.isEmpty());

        chartWindow.redrawNow();
        QVERIFY(acceptedAtEnd >= 5);
        QCOMPARE(feed.samples().rows().size(), std::size_t(acceptedAtEnd));
        QCOMPARE(feed.curves().voltage.size(), std::size_t(acceptedAtEnd));
        QCOMPARE(chartWindow.plot(chart::ChartWindow::View::Time).line(0)->count(), acceptedAtEnd);
        const auto figure = [&](const char* name) {
            return chartWindow.findChild<QLabel*>(QLatin1String(name))->text();
        };
        // The discharge's own capacity: the count less the one it began with.
        const auto thousandths = [](QString text) {
            return text.remove(QStringLiteral("AH")).remove(u'.').toInt();
        };
        const int own = thousandths(capacityShown) - thousandths(capacityFirst);
        QVERIFY(own > 0);
        QCOMPARE(figure("capacity"), modbus::capacityText(quint32(own)));
        QCOMPARE(panel.text(Ctl::AI_SHOW3), capacityShown); // the module stopped counting
        QCOMPARE(figure("end"), QStringLiteral("UVLO"));
    }

    // The load on, off, and on again without 数据清零: the second discharge's
    // figures are its own part, measured from the reply before it began; its
    // capacity curve starts at zero.
    void secondDischargeWithoutClear()
    {
        sim::Options options;
        options.speed = 120;
        Rig rig(options);
        rig.module.setReg(17, 1);
        rig.panel.openAndAcquire();
        QVERIFY(rig.replies(8));
        rig.module.setReg(17, 0);
        QVERIFY(rig.replies(4));
        QVERIFY(!rig.feed().running());
        rig.module.setReg(17, 1);
        QVERIFY(rig.replies(12));
        rig.panel.click(Ctl::Command_OK3);
        QVERIFY(rig.feed().running());
        QCOMPARE(rig.started, 2);

        const auto& rows = rig.feed().samples().rows();
        const auto shown = rig.capacityShown.size();
        const int base = thousandths(rig.capacityShown[shown - qsizetype(rows.size()) - 1]);
        const int own = thousandths(rig.capacityShown.last()) - base;
        const discharge::Summary s = rig.feed().summary();
        QVERIFY(own > 0 && base > 0);
        QCOMPARE(qRound(s.capacityAh * 1000), own);
        QVERIFY(std::abs(s.averageCurrent - 1.0) < 0.05); // the preset's 1.00 A
        QVERIFY(!s.countsDisagree);
        const auto first = rig.feed().curves().voltageOverCapacity.at(0);
        // Its first point is its own half second of counting, not the module's total.
        QVERIFY2(first.x() * 1000 < base / 2.0, qPrintable(QString::number(first.x())));
    }

    // The module cleared from its own keys mid-discharge: its count falls,
    // not to zero by the next reply. A new discharge starts there and its
    // capacity curve goes on growing.
    void countFallingMidDischarge()
    {
        sim::Options options;
        options.speed = 120;
        Rig rig(options);
        rig.module.setReg(17, 1);
        rig.panel.openAndAcquire();
        QVERIFY(rig.replies(8));
        rig.module.setReg(18, 1);
        QVERIFY(rig.replies(8));
        rig.panel.click(Ctl::Command_OK3);
        QCOMPARE(rig.started, 2);
        const discharge::Summary s = rig.feed().summary();
        QCOMPARE(s.baseCapacityAh, 0.0);
        QCOMPARE(qRound(s.capacityAh * 1000), thousandths(rig.capacityShown.last()));
        QVERIFY(std::abs(s.averageCurrent - 1.0) < 0.05);
        QVERIFY(rig.feed().curves().voltageOverCapacity.size() >= 7);
    }

    // The module's own discharge time as the time view's x: the simulated
    // battery, and its clock, run sixty times faster than the PC's.
    void moduleClock()
    {
        sim::Options options;
        options.speed = 60;
        Rig rig(options);
        rig.module.setReg(17, 1);
        rig.panel.openAndAcquire();
        QVERIFY(rig.replies(8));
        rig.panel.click(Ctl::Command_OK3);
        const auto pc = rig.feed().curves().voltage.xRange();
        rig.chartWindow.setTimeClock(chart::TimeClock::Module);
        const auto own = rig.feed().curves().voltage.xRange();
        QVERIFY(pc && own);
        QCOMPARE(rig.feed().curves().voltage.size(), rig.feed().samples().rows().size());
        QCOMPARE(own->max, rig.feed().summary().durationSeconds);
        const double pcSpan = pc->max - pc->min, ownSpan = own->max - own->min;
        QVERIFY2(ownSpan > 40 * pcSpan && ownSpan < 80 * pcSpan,
                 qPrintable(QStringLiteral("%1 s against %2 s").arg(ownSpan).arg(pcSpan)));
        QVERIFY(rig.chartWindow.plot(chart::ChartWindow::View::Time)
                    .xTitle()
                    .contains(QStringLiteral("模块计时")));
    }

    // A module that stops answering while the port stays open ends the
    // discharge as 通讯中断 after six polls; a lost line ends it before the
    // panel's box waits for OK.
    void silenceAndLostLine()
    {
        Rig rig({});
        rig.module.setReg(17, 1);
        rig.panel.openAndAcquire();
        QVERIFY(rig.replies(3));
        rig.module.failAlways(sim::Fault::silent());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.feed().running(), 15000);
        QCOMPARE(rig.feed().summary().end, discharge::EndReason::LineLost);
        QCOMPARE(rig.panel.text(Ctl::Command1), texts::kClosePort); // the port is still open

        rig.module.clearFaults();
        QVERIFY(rig.replies(2)); // the load still on: a new discharge
        QVERIFY(rig.feed().running());
        QStringList boxesAtEnd{QStringLiteral("-")};
        QObject::connect(&rig.feed(), &chart::DischargeFeed::changed, [&] {
            if (!rig.feed().running() && boxesAtEnd == QStringList{QStringLiteral("-")})
                boxesAtEnd = rig.panel.boxes.texts;
        });
        rig.module.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.panel.boxes.texts.isEmpty(), 10000);
        QCOMPARE(boxesAtEnd, QStringList()); // ended before the box was shown
        QCOMPARE(rig.feed().summary().end, discharge::EndReason::LineLost);
    }
};

QTEST_MAIN(ChartLiveTest)
#include "test_chart_live.moc"
