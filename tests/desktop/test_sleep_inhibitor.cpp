// The sleep inhibitor against python3-dbusmock's logind on a private bus that
// stands in for the system bus: taken with its arguments, released (its
// descriptor closed) whatever the order of the calls and answers; nothing
// said without logind or a bus; and the panel holding it while a test runs.

#include "app/TestActivity.h"
#include "core/Texts.h"
#include "desktop/MockLogind.h"
#include "desktop/SleepInhibitor.h"
#include "e2e/LivePanel.h"
#include "sim/Simulator.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace eload;
using namespace eload::test;
using desktop::SleepInhibitor;

namespace {
constexpr int kWaitMs = 10000;
const QString kWho = QStringLiteral("eload-test");
const QString kWhy = QStringLiteral("电池放电测试");
const Inhibitor kTaken{QStringLiteral("sleep:idle"), kWho, kWhy, QStringLiteral("block")};
} // namespace

class SleepInhibitorTest : public QObject {
    Q_OBJECT
    std::unique_ptr<MockBus> system_;

private Q_SLOTS:
    void initTestCase()
    {
        system_ = std::make_unique<MockBus>();
        QVERIFY2(system_->error().isEmpty(), qPrintable(system_->error()));
        // Read at the first use of the system bus, which is still to come.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", system_->address().toLocal8Bit());
    }

    // Steps: "hold", "release", "granted" (wait for logind's answer), "destroy".
    void holding_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("held"); // logind lists the inhibitor at the end
        QTest::addColumn<int>("calls"); // of Inhibit
        const auto row = [](const char* name, const char* steps, bool held, int calls) {
            QTest::newRow(name) << QString::fromLatin1(steps).split(u' ') << held << calls;
        };
        row("held", "hold granted", true, 1);
        row("held twice", "hold hold granted hold", true, 1);
        row("released", "hold granted release", false, 1);
        row("released before logind answers", "hold release", false, 1);
        row("held again before logind answers", "hold release hold granted", true, 1);
        row("released and held again", "hold granted release hold granted", true, 2);
        row("destroyed while held", "hold granted destroy", false, 1);
        row("never held", "release destroy", false, 0);
    }
    void holding()
    {
        QFETCH(QStringList, steps);
        QFETCH(bool, held);
        QFETCH(int, calls);
        const int before = system_->inhibitCalls();
        auto inhibitor = std::make_unique<SleepInhibitor>(kWho, kWhy);
        for (const QString& step : steps) {
            if (step == "hold") inhibitor->setHeld(true);
            if (step == "release") inhibitor->setHeld(false);
            if (step == "granted") QTRY_VERIFY_WITH_TIMEOUT(inhibitor->isActive(), kWaitMs);
            if (step == "destroy") inhibitor.reset();
        }
        QTRY_COMPARE_WITH_TIMEOUT(system_->inhibitCalls() - before, calls, kWaitMs);
        const QList<Inhibitor> expected = held ? QList<Inhibitor>{kTaken} : QList<Inhibitor>{};
        QTRY_COMPARE_WITH_TIMEOUT(system_->inhibitors(), expected, kWaitMs);
        if (inhibitor) QCOMPARE(inhibitor->isActive(), held);
        inhibitor.reset();
        QTRY_COMPARE_WITH_TIMEOUT(system_->inhibitors(), QList<Inhibitor>{}, kWaitMs);
    }

    // A container: a bus without logind, or no bus at all. The test goes on, silently.
    void withoutLogind_data()
    {
        QTest::addColumn<bool>("bus");
        QTest::newRow("a bus without logind") << true;
        QTest::newRow("no bus") << false;
    }
    void withoutLogind()
    {
        QFETCH(bool, bus);
        MockBus empty(false);
        QVERIFY2(empty.error().isEmpty(), qPrintable(empty.error()));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        const QDBusConnection connection =
            bus ? QDBusConnection::connectToBus(empty.address(), QStringLiteral("empty"))
                : QDBusConnection(QStringLiteral("no such connection"));
        QCOMPARE(connection.isConnected(), bus);
        SleepInhibitor inhibitor(kWho, kWhy, connection);
        QSignalSpy active(&inhibitor, &SleepInhibitor::activeChanged);
        inhibitor.setHeld(true);
        QTest::qWait(1000); // the bus's refusal comes back meanwhile
        inhibitor.setHeld(false);
        QVERIFY(active.isEmpty() && !inhibitor.isActive());
        QDBusConnection::disconnectFromBus(QStringLiteral("empty"));
    }

    // The panel holds it while the load is on and polled, or rows are recorded.
    void panelHoldsWhileTesting()
    {
        sim::Simulator module;
        LivePanel panel(QString::fromStdString(std::get<std::string>(module.start())));
        SleepInhibitor keepAwake(QStringLiteral("eload-panel"), texts::kKeepAwakeReason);
        holdWhileTesting(panel.window, keepAwake);
        const QList<Inhibitor> taken{{QStringLiteral("sleep:idle"), QStringLiteral("eload-panel"),
                                      texts::kKeepAwakeReason, QStringLiteral("block")}};
        const auto expect = [&](bool held, const char* step) {
            QTRY_COMPARE_WITH_TIMEOUT(system_->inhibitors(), held ? taken : QList<Inhibitor>{},
                                      kWaitMs);
            QVERIFY2(keepAwake.isHeld() == held, step);
        };
        panel.openAndAcquire();
        expect(false, "polling, load off");
        panel.click(Ctl::Command5);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::Command5), texts::kOn, kWaitMs);
        expect(true, "polling, load on");
        panel.click(Ctl::Command_OK3);
        expect(false, "load on, polling stopped");
        panel.click(Ctl::Command5);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::Command5), texts::kOff, kWaitMs);
        panel.click(Ctl::Command6);
        expect(true, "recording, load off");
        panel.click(Ctl::Command_OK3);
        expect(true, "recording and polling");
        panel.click(Ctl::Command_OK3); // "保 存" offered: no more rows
        expect(false, "save pending");
        panel.click(Ctl::Command6);
        QCOMPARE(panel.text(Ctl::Command6), texts::kRecord);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    SleepInhibitorTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_sleep_inhibitor.moc"
