// One exchange at a time: the polling and refresh ticks send, arriving bytes
// collect as hex text, and the reply check judges them, over the in-memory
// panel and a fake line.

#include "acquisition/Polling.h"
#include "modbus/HexText.h"
#include "modbus/RowWriter.h"
#include "serial/ReplyCheck.h"
#include "support/Rig.h"

#include <QTest>

using namespace eload;
using namespace eload::test;

namespace {
struct CountingRows : RowWriter {
    int rows = 0;
    void WriteRow() override { ++rows; }
};

struct Exchange : Rig {
    CountingRows rows;
    Polling polling{ctx};
    ReplyCheck check{ctx, &rows};

    Exchange() { port.setListener(nullptr); }

    void arrive(const QByteArray& bytes)
    {
        port.pending.append(bytes);
        check.MSComm1_OnComm();
    }
    void startAcquisition()
    {
        polling.Command_OK3_Click();
        QCOMPARE(panel.text(Ctl::Command_OK3), texts::kStop);
    }
};

std::array<std::uint16_t, 18> someRegisters()
{
    return {125, 1210, 1512, 0, 2500, 0, 30250, 45, 36, 0, 1, 5, 9, 200, 150, 10000, 1, 0};
}
} // namespace

class ExchangeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The polling tick (Timer2) and the refresh tick (Timer3): what goes out,
    // which box refuses, and the acquisition each leaves.
    void ticks_data()
    {
        QTest::addColumn<bool>("refresh");
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<QString>("newAddress");
        QTest::addColumn<QString>("slaveId");
        QTest::addColumn<QString>("outcome"); // hex text sent, or the box shown
        const QString bad = texts::kBadParameter;
        const auto row = [](const char* name, bool refresh, bool open, const char* newAddress,
                            const char* slave, const QString& outcome) {
            QTest::newRow(name) << refresh << open << QString(newAddress) << QString(slave)
                                << outcome;
        };
        row("poll", false, true, "1", "1", "01 03 00 00 00 12 C5 C7 ");
        row("poll, port closed", false, false, "1", "1", texts::kOpenPortFirst);
        row("poll, slave empty", false, true, "1", "", texts::kAddressNotSet);
        row("poll, slave letters", false, true, "1", "abc", bad);
        row("poll, slave 256", false, true, "1", "256", bad);
        row("poll, slave -1", false, true, "1", "-1", bad);
        row("refresh to the Slave ID", true, true, "1", "5",
            modbus::hexText(withCrc(QByteArray::fromHex("050300000012"))));
        row("refresh, new address empty", true, true, "", "5", bad);
    }
    void ticks()
    {
        QFETCH(bool, refresh);
        QFETCH(bool, portOpen);
        QFETCH(QString, newAddress);
        QFETCH(QString, slaveId);
        QFETCH(QString, outcome);
        Exchange x;
        if (portOpen) x.openPort();
        x.panel.setText(Ctl::Combo_Addr0, newAddress);
        x.panel.setText(Ctl::Combo_Addr2, slaveId);
        x.panel.setText(Ctl::Text2, QStringLiteral("old"));
        x.startAcquisition();
        x.panel.setTimerEnabled(Timer::Timer3, refresh);
        refresh ? x.polling.Timer3_Timer() : x.polling.Timer2_Timer();

        const bool sent = !x.port.written.isEmpty();
        QCOMPARE(x.port.written.size() + x.panel.messages.size(), 1);
        QCOMPARE(sent ? modbus::hexText(x.port.written.value(0)) : x.panel.takeMessages().join(""),
                 outcome);
        QCOMPARE(x.panel.text(Ctl::Text1_0), sent ? outcome : QString());
        QCOMPARE(x.panel.text(Ctl::Text2), QString());
        QCOMPARE(x.panel.isTimerEnabled(Timer::Timer1), sent);
        // Only the refresh pauses; a refused poll and any refresh stop acquisition.
        QCOMPARE(x.clock.pauses, refresh && sent ? QList<int>{100} : QList<int>{});
        QCOMPARE(x.panel.text(Ctl::Command_OK3), sent && !refresh ? texts::kStop : texts::kAcquire);
        QCOMPARE(x.panel.isTimerEnabled(Timer::Timer2), sent && !refresh);
        QVERIFY(!x.panel.isTimerEnabled(Timer::Timer3));
    }

    void replyCheck_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("accepted");
        const QByteArray poll = withCrc(QByteArray::fromHex("010300000012"));
        const QByteArray full = readReply(1, someRegisters());
        for (int count : {1, 5, 6, 7, 8})
            QTest::addRow("read of %d", count)
                << poll << readReply(1, someRegisters(), count) << true;
        QTest::newRow("read of 18") << poll << full << true;
        const QByteArray echo = withCrc(QByteArray::fromHex("010600110001"));
        QTest::newRow("write echo") << echo << echo << true;
        QTest::newRow("other address") << poll << readReply(2, someRegisters()) << false;
        QByteArray badCrc = full;
        badCrc[40] = char(badCrc[40] ^ 0x01);
        QTest::newRow("wrong crc") << poll << badCrc << false;
        QByteArray noise = full;
        noise[10] = char(noise[10] ^ 0x40);
        QTest::newRow("noise in a register") << poll << noise << false;
        QTest::newRow("exception") << poll << withCrc(QByteArray::fromHex("018302")) << false;
        QTest::newRow("byte missing") << poll << full.left(40) << false;
        QTest::newRow("byte extra") << poll << full + '\0' << false;
        QTest::newRow("nothing") << poll << QByteArray() << false;
        QTest::newRow("read of 2 registers") << poll << readReply(1, someRegisters(), 2) << false;
    }
    void replyCheck()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(bool, accepted);
        Exchange x;
        x.state.SendHex = modbus::hexText(request);
        x.panel.setTimerEnabled(Timer::Timer1, true);
        x.arrive(reply);
        x.check.Timer1_Timer();
        QCOMPARE(x.panel.text(Ctl::Message_Show), accepted ? texts::kReplyGood : texts::kReplyBad);
        QCOMPARE(x.panel.text(Ctl::Text2), accepted ? modbus::hexText(reply) : QString());
        QVERIFY(!x.panel.isTimerEnabled(Timer::Timer1));
        const bool isRead = accepted && request != reply;
        QCOMPARE(x.rows.rows, isRead ? 1 : 0);
        QCOMPARE(x.panel.text(Ctl::AI_SHOW0).isEmpty(), !isRead);
    }

    void babblingLineDoesNotGrowWithoutEnd()
    {
        Exchange x;
        x.state.SendHex = QStringLiteral("01 03 00 00 00 12 C5 C7 ");
        for (int i = 0; i < 1000; ++i)
            x.arrive(QByteArray(100, '\x01'));
        QVERIFY(x.state.ReceiveHex.size() < 1000);
    }

    void pendingResume_data()
    {
        QTest::addColumn<bool>("goodReply");
        QTest::addColumn<bool>("stoppedMeanwhile");
        QTest::newRow("good reply") << true << false;
        QTest::newRow("no reply") << false << false;
        QTest::newRow("stopped meanwhile") << true << true; // a stop cancels the resume
    }
    void pendingResume()
    {
        QFETCH(bool, goodReply);
        QFETCH(bool, stoppedMeanwhile);
        Exchange x;
        x.startAcquisition();
        x.state.ResumePolling = 1;
        x.panel.setTimerEnabled(Timer::Timer2, false);
        const QByteArray echo = withCrc(QByteArray::fromHex("010600110001"));
        x.state.SendHex = modbus::hexText(echo);
        if (goodReply) x.arrive(echo);
        if (stoppedMeanwhile) x.polling.Command_OK3_Click();
        x.check.Timer1_Timer();
        QCOMPARE(x.panel.isTimerEnabled(Timer::Timer2), !stoppedMeanwhile);
        QCOMPARE(x.panel.text(Ctl::Command_OK3), stoppedMeanwhile ? texts::kAcquire : texts::kStop);
        QCOMPARE(x.state.ResumePolling, 0);
    }
};

QTEST_APPLESS_MAIN(ExchangeTest)
#include "test_exchange.moc"
