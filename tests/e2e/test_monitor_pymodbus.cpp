// The live monitor against an independent Modbus implementation: pymodbus'
// RTU server on one end of a socat pseudo-terminal pair, the panel on the
// other. The window must show exactly what the server holds.

#include "e2e/LivePanel.h"
#include "ui/Texts.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace eload;
using namespace eload::test;

class PymodbusMonitorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowShowsWhatTheServerHolds()
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

QTEST_MAIN(PymodbusMonitorTest)
#include "test_monitor_pymodbus.moc"
