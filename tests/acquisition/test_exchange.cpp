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
    void pollingTickSendsTheReadAtOnce()
    {
        Exchange x;
        x.openPort();
        x.panel.setText(Ctl::Message_Show, QStringLiteral("old"));
        x.panel.setText(Ctl::Text2, QStringLiteral("old"));
        x.polling.Timer2_Timer();
        QCOMPARE(x.port.written, QByteArrayList{QByteArray::fromHex("010300000012C5C7")});
        QCOMPARE(x.state.SendHex, QStringLiteral("01 03 00 00 00 12 C5 C7 "));
        QCOMPARE(x.panel.text(Ctl::Text1_0), x.state.SendHex);
        QCOMPARE(x.panel.text(Ctl::Text2), QString());
        QCOMPARE(x.panel.text(Ctl::Message_Show), QString());
        QVERIFY(x.panel.isTimerEnabled(Timer::Timer1));
        QVERIFY(x.clock.pauses.isEmpty()); // the tick does not pause
    }

    void pollingTickRefusals_data()
    {
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<QString>("slaveId");
        QTest::addColumn<QString>("message");
        QTest::newRow("port closed") << false << "1" << texts::kOpenPortFirst;
        QTest::newRow("slave empty") << true << "" << texts::kAddressNotSet;
        QTest::newRow("slave letters") << true << "abc" << texts::kBadParameter;
        QTest::newRow("slave 256") << true << "256" << texts::kBadParameter;
        QTest::newRow("slave negative") << true << "-1" << texts::kBadParameter;
    }
    void pollingTickRefusals()
    {
        QFETCH(bool, portOpen);
        QFETCH(QString, slaveId);
        QFETCH(QString, message);
        Exchange x;
        if (portOpen) x.openPort();
        x.panel.setText(Ctl::Combo_Addr2, slaveId);
        x.startAcquisition();
        x.polling.Timer2_Timer();
        QCOMPARE(x.panel.takeMessages(), QStringList{message});
        QVERIFY(x.port.written.isEmpty());
        QCOMPARE(x.panel.text(Ctl::Command_OK3), texts::kAcquire);
        QVERIFY(!x.panel.isTimerEnabled(Timer::Timer2));
        QVERIFY(!x.panel.isTimerEnabled(Timer::Timer1));
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

    void refreshTick_data()
    {
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<QString>("newAddress");
        QTest::addColumn<QString>("slaveId");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("message");
        QTest::newRow("to the Slave ID")
            << true << "1"
            << "5" << withCrc(QByteArray::fromHex("050300000012")) << QString();
        QTest::newRow("new address empty") << true << ""
                                           << "5" << QByteArray() << texts::kBadParameter;
    }
    void refreshTick()
    {
        QFETCH(bool, portOpen);
        QFETCH(QString, newAddress);
        QFETCH(QString, slaveId);
        QFETCH(QByteArray, sent);
        QFETCH(QString, message);
        Exchange x;
        if (portOpen) x.openPort();
        x.panel.setText(Ctl::Combo_Addr0, newAddress);
        x.panel.setText(Ctl::Combo_Addr2, slaveId);
        x.startAcquisition();
        x.panel.setTimerEnabled(Timer::Timer3, true);
        x.polling.Timer3_Timer();
        QCOMPARE(x.port.written, sent.isEmpty() ? QByteArrayList{} : QByteArrayList{sent});
        QCOMPARE(x.panel.takeMessages(), message.isEmpty() ? QStringList{} : QStringList{message});
        QVERIFY(!x.panel.isTimerEnabled(Timer::Timer3));
        QVERIFY(!x.panel.isTimerEnabled(Timer::Timer2));
        QCOMPARE(x.panel.text(Ctl::Command_OK3), texts::kAcquire);
        QCOMPARE(x.clock.pauses, sent.isEmpty() ? QList<int>{} : QList<int>{100});
        QCOMPARE(x.panel.isTimerEnabled(Timer::Timer1), !sent.isEmpty());
    }
};

QTEST_APPLESS_MAIN(ExchangeTest)
#include "test_exchange.moc"
