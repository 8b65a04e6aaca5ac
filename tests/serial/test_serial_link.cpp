// The port frame over the in-memory panel and a fake line: what Command1,
// Combo1 and Combo2 do to the window, the form state and the device.

#include "serial/SerialLink.h"
#include "support/Rig.h"

#include <QTest>

using namespace eload;
using namespace eload::test;

namespace {

struct LinkRig : Rig, SerialDevice::Listener {
    SerialLink link{ctx};

    LinkRig()
    {
        // start-up values of the lists, COM3 at 9600
        for (auto [c, i] : {std::pair{Ctl::Combo1, 2},
                            {Ctl::Combo2, 1},
                            {Ctl::Combo3, 0},
                            {Ctl::Combo4, 0},
                            {Ctl::Combo5, 0}})
            panel.pick(c, i);
        state.SelectedPort = 3;
        port.setListener(this);
    }
    void dataReceived() override {}
    void lineFailed(const SerialError& e) override { link.lineFailed(e); }

    bool isClosed() const
    {
        return panel.text(Ctl::Command1) == texts::kOpenPort &&
               panel.backColor(Ctl::Shape1) == kBlack && state.OpenPortNumber == 0 &&
               !port.isOpen();
    }
};

enum class Closer { Button, BaudPick, OtherPortPick, LineLost };

} // namespace

Q_DECLARE_METATYPE(Closer)

class SerialLinkTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openAtCom3()
    {
        LinkRig r;
        r.link.Command1_Click();
        QCOMPARE(r.port.probed, QList<int>{3});
        QCOMPARE(r.port.openPort, 3);
        QCOMPARE(r.port.openSettings, QStringLiteral("9600,N,8,1"));
        QCOMPARE(r.panel.text(Ctl::Command1), texts::kClosePort);
        QCOMPARE(r.panel.backColor(Ctl::Shape1), kGreen);
        QCOMPARE(r.state.OpenPortNumber, 3);
        const QStringList presets{r.panel.text(Ctl::Text3), r.panel.text(Ctl::Text4),
                                  r.panel.text(Ctl::Text5)};
        QCOMPARE(presets, (QStringList{"2.00", "1.00", "100.00"}));
        QVERIFY(r.panel.messages.isEmpty());
    }

    void settingsFromTheLists_data()
    {
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QString>("parity");
        QTest::addColumn<QString>("settings");
        QTest::newRow("odd") << "9600" << texts::kOddParity << "9600,O,8,1";
        // a text that is none of the three keeps the letter of the last open
        QTest::newRow("unknown parity") << "9600"
                                        << "标记"
                                        << "9600,E,8,1";
        QTest::newRow("typed rate verbatim") << "14400" << texts::kNoParity << "14400,N,8,1";
        QTest::newRow("typed text verbatim") << " abc" << texts::kNoParity << " abc,N,8,1";
    }
    void settingsFromTheLists()
    {
        QFETCH(QString, baud);
        QFETCH(QString, parity);
        LinkRig r;
        r.state.ParityLetter = QStringLiteral("E");
        r.panel.setText(Ctl::Combo2, baud);
        r.panel.setText(Ctl::Combo3, parity);
        r.link.Command1_Click();
        QTEST(r.port.openSettings, "settings");
    }

    void failedOpenLeavesWindowClosed_data()
    {
        QTest::addColumn<int>("listIndex");
        QTest::addColumn<int>("probeError"); // 0: the probe passes, the open fails
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("detail");
        QTest::newRow("missing") << 2 << SerialError::kNoSuchPort << texts::kNoSuchPort << "";
        QTest::newRow("busy") << 2 << SerialError::kPortInUse << texts::kPortInUse << "";
        QTest::newRow("no rights")
            << 2 << SerialError::kOtherFailure << texts::kOtherError << "join dialout";
        QTest::newRow("no entry selected") << -1 << 0 << texts::kNoSuchPort << "";
        QTest::newRow("open after probe") << 2 << 0 << texts::kOpenFailed << "/dev/fake3: refused";
    }
    void failedOpenLeavesWindowClosed()
    {
        QFETCH(int, listIndex);
        QFETCH(int, probeError);
        QFETCH(QString, message);
        QFETCH(QString, detail);
        LinkRig r;
        r.panel.setListIndex(Ctl::Combo1, listIndex);
        if (probeError != 0)
            r.port.probeErrors[3] = SerialError{probeError, "cause", detail};
        else
            r.port.openError = SerialError{SerialError::kOtherFailure, "refused", {}};
        r.panel.setText(Ctl::Text3, QStringLiteral("5.00"));

        r.link.Command1_Click();

        QCOMPARE(r.port.probed, QList<int>{listIndex + 1});
        QCOMPARE(r.panel.messages, QStringList{message});
        QCOMPARE(r.panel.details, QStringList{detail});
        QVERIFY(r.isClosed());
        QCOMPARE(r.panel.text(Ctl::Text3), QStringLiteral("5.00"));
    }

    void closers_data()
    {
        QTest::addColumn<Closer>("closer");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("button") << Closer::Button << QStringList{};
        QTest::newRow("baud pick") << Closer::BaudPick << QStringList{};
        QTest::newRow("other port") << Closer::OtherPortPick << QStringList{};
        QTest::newRow("line lost") << Closer::LineLost << QStringList{texts::kPortLost};
    }
    void closers()
    {
        QFETCH(Closer, closer);
        LinkRig r;
        r.link.Command1_Click();
        r.panel.setTimerEnabled(Timer::Timer2, true);
        r.panel.setTimerEnabled(Timer::Timer1, true);
        r.panel.setText(Ctl::Command_OK3, texts::kStop);
        r.panel.setText(Ctl::Command6, texts::kRecording);
        r.state.RecordFlag = QStringLiteral("1");
        r.state.ResumePolling = 1;
        const SerialError lost{SerialError::kOtherFailure, QStringLiteral("read error"), {}};

        switch (closer) {
        case Closer::Button: r.link.Command1_Click(); break;
        case Closer::BaudPick: r.link.Combo2_Click(); break; // same rate: closes all the same
        case Closer::OtherPortPick:
            r.panel.pick(Ctl::Combo1, 4);
            r.link.Combo1_Click();
            QCOMPARE(r.state.SelectedPort, 5);
            QCOMPARE(r.panel.toolTip(Ctl::Combo1), QStringLiteral("/dev/fake5"));
            break;
        case Closer::LineLost:
            r.port.fail(lost);
            r.port.fail(lost); // Qt's stream of errors: one box only
            QCOMPARE(r.panel.details, QStringList{"/dev/fake3: read error"});
            break;
        }

        QVERIFY(r.isClosed());
        QCOMPARE(r.port.probed.size(), 1); // nothing opened again
        QVERIFY(!r.panel.isTimerEnabled(Timer::Timer2));
        QCOMPARE(r.panel.text(Ctl::Command_OK3), texts::kAcquire);
        QCOMPARE(r.state.ResumePolling, 0);
        QVERIFY(r.panel.isTimerEnabled(Timer::Timer1));
        QCOMPARE(r.panel.text(Ctl::Command6), texts::kRecording);
        QCOMPARE(r.state.RecordFlag, QStringLiteral("1"));
        QCOMPARE(r.panel.text(Ctl::Text4), QString());
        QTEST(r.panel.messages, "messages");
    }

    void picksThatKeepTheState()
    {
        LinkRig r;
        r.link.Combo2_Click(); // closed: only the text changes
        QVERIFY(r.port.probed.isEmpty());
        r.link.Command1_Click();
        r.link.Combo1_Click(); // the port already selected
        QCOMPARE(r.port.openPort, 3);
        QCOMPARE(r.panel.text(Ctl::Command1), texts::kClosePort);
        QCOMPARE(r.panel.toolTip(Ctl::Combo1), QStringLiteral("/dev/fake3"));
    }
};

QTEST_GUILESS_MAIN(SerialLinkTest)
#include "test_serial_link.moc"
