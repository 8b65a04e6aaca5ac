// The chart window end to end: the panel with the chart beside it, wired as
// --chart wires it, polls the simulated module while the battery runs down
// to the module's under-voltage lock-out.

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
};

QTEST_MAIN(ChartLiveTest)
#include "test_chart_live.moc"
