// The live monitor end to end: the real window and serial device against the
// simulated module on a pseudo-terminal, through every fault of the line, and
// against pymodbus' RTU server.

#include "core/Texts.h"
#include "e2e/LivePanel.h"
#include "sim/Simulator.h"

#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/resource.h>

using namespace eload;
using namespace eload::test;

namespace {

constexpr int kWaitMs = 5000; // generous: the machine may be busy

struct Line {
    sim::Simulator module;
    QString path;

    Line() : module(heldRegisters())
    {
        auto started = module.start();
        if (auto* p = std::get_if<std::string>(&started)) path = QString::fromStdString(*p);
    }
    static sim::Options heldRegisters()
    {
        sim::Options o;
        o.model.running = false; // registers hold what the test sets
        return o;
    }
    void setRegisters(const std::array<std::uint16_t, 18>& regs)
    {
        for (int i = 0; i < 18; ++i)
            module.setReg(i, regs[i]);
    }
};

const std::array<std::uint16_t, 18> kRegisters = {125, 1210, 1512, 0, 2500, 0,   30250, 45, 36,
                                                  4,   1,    5,    9, 200,  150, 10000, 1,  1};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

class MonitorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void acquisitionShowsWhatTheModuleHolds()
    {
        Line line;
        QVERIFY(!line.path.isEmpty());
        line.setRegisters(kRegisters);
        LivePanel panel(line.path);
        panel.openAndAcquire();
        QCOMPARE(panel.text(Ctl::Command1), texts::kClosePort);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW0), QStringLiteral("1.25A"), kWaitMs);
        QCOMPARE(panel.text(Ctl::AI_SHOW4), QStringLiteral("30.250WH"));
        QCOMPARE(panel.text(Ctl::Label20), QStringLiteral(" OTP"));
        QCOMPARE(panel.text(Ctl::Text4), QStringLiteral("1.50"));
        QCOMPARE(panel.text(Ctl::Command5), texts::kOn);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::Message_Show), texts::kReplyGood, kWaitMs);
        QCOMPARE(panel.text(Ctl::Text1_0), QStringLiteral("01 03 00 00 00 12 C5 C7 "));
        QCOMPARE(panel.text(Ctl::Text2).size(), 123);

        // The display follows the module from poll to poll.
        line.module.setReg(1, 1199);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW1), QStringLiteral("11.99V"), kWaitMs);
        QVERIFY(panel.boxes.texts.isEmpty());
    }

    void repliesFromAFaultyLine_data()
    {
        QTest::addColumn<sim::Fault>("fault");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("no reply") << sim::Fault::silent() << false;
        // Halfway between the 160 ms window and the next poll at 500 ms: a busy
        // machine may move either edge.
        QTest::newRow("late reply") << sim::Fault::late(330) << false;
        QTest::newRow("wrong address") << sim::Fault::otherAddress(2) << false;
        QTest::newRow("wrong crc") << sim::Fault::wrongCrc() << false;
        QTest::newRow("bytes missing") << sim::Fault::missingBytes(1) << false;
        QTest::newRow("exception") << sim::Fault::exception(4) << false;
        QTest::newRow("in pieces") << sim::Fault::split(3, 15) << true;
    }
    void repliesFromAFaultyLine()
    {
        QFETCH(sim::Fault, fault);
        QFETCH(bool, accepted);
        Line line;
        line.setRegisters(kRegisters);
        LivePanel panel(line.path);
        panel.openAndAcquire();
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW0), QStringLiteral("1.25A"), kWaitMs);

        line.module.failAlways(fault);
        line.module.setReg(0, 999);
        if (accepted) {
            QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW0), QStringLiteral("9.99A"), kWaitMs);
            return;
        }
        const std::size_t seen = line.module.requests().size();
        QTRY_VERIFY_WITH_TIMEOUT(line.module.requests().size() >= seen + 4, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::Message_Show), texts::kReplyBad, kWaitMs);
        QCOMPARE(panel.text(Ctl::AI_SHOW0), QStringLiteral("1.25A"));
        QCOMPARE(panel.text(Ctl::Command_OK3), texts::kStop); // polling goes on

        // The module answers properly again: so does the display.
        line.module.clearFaults();
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW0), QStringLiteral("9.99A"), kWaitMs);
        QVERIFY(panel.boxes.texts.isEmpty());
    }

    void wrongBaudRateShowsAsNoReply()
    {
        Line line;
        line.setRegisters(kRegisters);
        LivePanel panel(line.path, QStringLiteral("19200"));
        panel.openAndAcquire();
        QTRY_VERIFY_WITH_TIMEOUT(line.module.requests().size() >= 3, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::Message_Show), texts::kReplyBad, kWaitMs);
        QCOMPARE(panel.text(Ctl::AI_SHOW0), QString());
    }

    void missingAndBusyDevices()
    {
        {
            LivePanel panel(QStringLiteral("/dev/eload-no-such-device"));
            panel.click(Ctl::Command1);
            QTRY_COMPARE_WITH_TIMEOUT(panel.boxes.texts, QStringList{texts::kNoSuchPort}, kWaitMs);
            QCOMPARE(panel.text(Ctl::Command1), texts::kOpenPort);
            QCOMPARE(panel.window.backColor(Ctl::Shape1), kBlack);
        }
        Line line;
        QSerialPort other(line.path);
        QVERIFY(other.open(QIODevice::ReadWrite));
        LivePanel panel(line.path);
        panel.click(Ctl::Command1);
        QTRY_COMPARE_WITH_TIMEOUT(panel.boxes.texts, QStringList{texts::kPortInUse}, kWaitMs);
        QCOMPARE(panel.text(Ctl::Command1), texts::kOpenPort);
    }

    void hangUpDuringAcquisition()
    {
        Line line;
        line.setRegisters(kRegisters);
        LivePanel panel(line.path);
        panel.openAndAcquire();
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW0), QStringLiteral("1.25A"), kWaitMs);

        line.module.hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(panel.boxes.texts, QStringList{texts::kPortLost}, kWaitMs);
        QCOMPARE(panel.text(Ctl::Command1), texts::kOpenPort);
        QCOMPARE(panel.window.backColor(Ctl::Shape1), kBlack);
        QCOMPARE(panel.text(Ctl::Command_OK3), texts::kAcquire);
        QVERIFY(!panel.window.isTimerEnabled(Timer::Timer2));

        // No spinning on the dead line: the event thread stays idle.
        const double before = cpuSeconds();
        QTest::qWait(2000);
        const double used = cpuSeconds() - before;
        QVERIFY2(used < 0.1, qPrintable(QStringLiteral("%1 s of CPU in 2 s").arg(used)));
        QCOMPARE(panel.boxes.texts, QStringList{texts::kPortLost}); // one box only
    }

    // The same monitor against an independent Modbus implementation: pymodbus
    // RTU server on a socat pseudo-terminal pair; the window shows what it holds.
    void windowShowsWhatPymodbusHolds()
    {
        const QString socatExe = QStandardPaths::findExecutable(QStringLiteral("socat"));
        if (socatExe.isEmpty() || !QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
            QSKIP("socat or /usr/bin/python3 missing (scripts/bootstrap installs both)");
        QProcess probe;
        probe.start(QStringLiteral("/usr/bin/python3"), {"-c", "import pymodbus.server"});
        if (!probe.waitForFinished(20000) || probe.exitCode() != 0)
            QSKIP("python3-pymodbus missing (scripts/bootstrap installs it)");

        QTemporaryDir dir;
        const QString serverEnd = dir.filePath(QStringLiteral("server"));
        const QString panelEnd = dir.filePath(QStringLiteral("panel"));
        QProcess socat;
        socat.start(socatExe, {QStringLiteral("pty,raw,echo=0,link=%1").arg(serverEnd),
                               QStringLiteral("pty,raw,echo=0,link=%1").arg(panelEnd)});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(serverEnd) && QFileInfo::exists(panelEnd), 5000);

        // Registers 0..17: every rule of the display has a value to show.
        const QString registers =
            QStringLiteral("1234,2468,3047,1,34464,0,65535,88,41,2,123,45,6,987,1050,14900,3,1");
        QProcess server;
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(ELOAD_TESTS_DIR "/e2e/pymodbus_server.py"), "--port",
                      serverEnd, "--slave", "7", "--registers", registers});
        QVERIFY(server.waitForReadyRead(20000));
        QCOMPARE(server.readLine().trimmed(), QByteArray("ready"));

        LivePanel panel(panelEnd);
        panel.window.setText(Ctl::Combo_Addr2, QStringLiteral("7"));
        panel.openAndAcquire();
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW0), QStringLiteral("12.34A"), 10000);
        QCOMPARE(panel.text(Ctl::AI_SHOW1), QStringLiteral("24.68V"));
        QCOMPARE(panel.text(Ctl::AI_SHOW2), QStringLiteral("30.47W"));
        QCOMPARE(panel.text(Ctl::AI_SHOW3), QStringLiteral("100.000AH")); // 1 x 65536 + 34464
        QCOMPARE(panel.text(Ctl::AI_SHOW4), QStringLiteral("65.535WH"));
        QCOMPARE(panel.text(Ctl::AI_SHOW5), QStringLiteral("88MR"));
        QCOMPARE(panel.text(Ctl::AI_SHOW7), QStringLiteral("41℃"));
        QCOMPARE(panel.text(Ctl::Label20), QStringLiteral(" OPP"));
        QCOMPARE(panel.text(Ctl::Label17_0), QStringLiteral("123"));
        QCOMPARE(panel.text(Ctl::Label17_1), QStringLiteral("45"));
        QCOMPARE(panel.text(Ctl::Label17_2), QStringLiteral("06"));
        QCOMPARE(panel.text(Ctl::Text3), QStringLiteral("9.87"));
        QCOMPARE(panel.text(Ctl::Text4), QStringLiteral("10.50"));
        QCOMPARE(panel.text(Ctl::Text5), QStringLiteral("149.00"));
        QCOMPARE(panel.text(Ctl::Combo6), QStringLiteral("38400"));
        QCOMPARE(panel.text(Ctl::Command5), texts::kOn);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::Message_Show), texts::kReplyGood, 5000);
        QCOMPARE(panel.text(Ctl::Text1_0), QStringLiteral("07 03 00 00 00 12 C5 A1 "));
        QVERIFY(panel.boxes.texts.isEmpty());

        server.kill();
        server.waitForFinished();
        socat.kill();
        socat.waitForFinished();
    }
};

QTEST_MAIN(MonitorTest)
#include "test_monitor.moc"
