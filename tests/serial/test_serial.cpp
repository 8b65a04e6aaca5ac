// SerialLink over the in-memory panel and a fake line; QtSerialDevice over
// pseudo-terminals, the test playing the module.

#include "serial/OpenFailure.h"
#include "serial/QtSerialDevice.h"
#include "serial/SerialLink.h"
#include "sim/Pty.h"
#include "support/Rig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <poll.h>
#include <unistd.h>

using namespace eload;
using namespace eload::test;

namespace {

struct LinkRig : Rig {
    SerialLink link{ctx};
    LinkRig()
    {
        panel.pick(Ctl::Combo1, 2); // COM3
        panel.pick(Ctl::Combo2, 1); // 9600
        for (Ctl c : {Ctl::Combo3, Ctl::Combo4, Ctl::Combo5})
            panel.pick(c, 0); // no parity, 8 bits, 1 stop bit
        state.SelectedPort = 3;
    }
    // Caption, lamp, open port of the form / of the device, preset boxes, then
    // Timer2, ResumePolling and Command_OK3 at stop.
    QString shown() const
    {
        return QString::asprintf(
            "%s %s %d/%d %s|%s|%s %d%d%d", qUtf8Printable(panel.text(Ctl::Command1)),
            panel.backColor(Ctl::Shape1) == kGreen ? "green" : "black", state.OpenPortNumber,
            port.openPort, qUtf8Printable(panel.text(Ctl::Text3)),
            qUtf8Printable(panel.text(Ctl::Text4)), qUtf8Printable(panel.text(Ctl::Text5)),
            panel.isTimerEnabled(Timer::Timer2), state.ResumePolling,
            panel.text(Ctl::Command_OK3) == texts::kStop);
    }
};
const QString kOpened = texts::kClosePort + " green 3/3 2.00|1.00|100.00 ";
const QString kClosed = texts::kOpenPort + " black 0/0 || 000";

struct OpenCase {
    int listIndex, probeError; // probeError -1: passes, then the open fails
    QString parity, settings;  // settings empty: the window stays closed
    QStringList boxes;         // messages, then their detail lines
};
using Click = void (SerialLink::*)(); // null: the line lost, twice

QString pathOf(const sim::Pty& pty) { return QString::fromStdString(pty.path()); }

struct Listener : SerialDevice::Listener {
    int notified = 0, failures = 0;
    void dataReceived() override { ++notified; }
    void lineFailed(const SerialError&) override { ++failures; }
};

PortMap mapped(const QString& com1, const QString& com2 = {})
{
    PortMap map;
    map.set(1, com1);
    map.set(2, com2);
    return map;
}

} // namespace

Q_DECLARE_METATYPE(OpenCase)
Q_DECLARE_METATYPE(Click)

class SerialTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void open_data()
    {
        QTest::addColumn<OpenCase>("c");
        const QString no = texts::kNoParity;
        const auto row = [](const char* name, OpenCase c) { QTest::newRow(name) << c; };
        row("odd", {2, 0, texts::kOddParity, "9600,O,8,1", {}});
        row("unknown parity", {2, 0, "标记", "9600,E,8,1", {}});
        row("missing", {2, SerialError::kNoSuchPort, no, "", {texts::kNoSuchPort, ""}});
        row("busy", {2, SerialError::kPortInUse, no, "", {texts::kPortInUse, ""}});
        row("no rights", {2, SerialError::kOtherFailure, no, "", {texts::kOtherError, "join"}});
        row("no entry", {-1, 0, no, "", {texts::kNoSuchPort, ""}});
        row("open after probe", {2, -1, no, "", {texts::kOpenFailed, "/dev/fake3: refused"}});
    }
    void open()
    {
        QFETCH(OpenCase, c);
        LinkRig r;
        r.state.ParityLetter = QStringLiteral("E");
        r.panel.setListIndex(Ctl::Combo1, c.listIndex);
        r.panel.setText(Ctl::Combo3, c.parity);
        r.panel.setText(Ctl::Text3, QStringLiteral("5.00"));
        if (c.probeError > 0) r.port.probeErrors[3] = {c.probeError, "cause", c.boxes.value(1)};
        if (c.probeError < 0) r.port.openError = {SerialError::kOtherFailure, "refused", {}};
        r.link.Command1_Click();
        QCOMPARE(r.port.probed, QList<int>{c.listIndex + 1});
        QCOMPARE(r.port.openSettings, c.settings);
        const QString closed = texts::kOpenPort + " black 0/0 5.00|| 000"; // boxes untouched
        QCOMPARE(r.shown(), c.settings.isEmpty() ? closed : kOpened + "000");
        QCOMPARE(r.panel.messages + r.panel.details, c.boxes);
    }

    // From open at COM3, acquiring and recording.
    void fromOpen_data()
    {
        QTest::addColumn<Click>("click");
        QTest::addColumn<int>("pick"); // of Combo1 before the click
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("button") << &SerialLink::Command1_Click << 2 << kClosed << QStringList{};
        QTest::newRow("baud pick") << &SerialLink::Combo2_Click << 2 << kClosed << QStringList{};
        QTest::newRow("other port") << &SerialLink::Combo1_Click << 4 << kClosed << QStringList{};
        QTest::newRow("same port")
            << &SerialLink::Combo1_Click << 2 << kOpened + "111" << QStringList{};
        QTest::newRow("line lost")
            << Click() << 2 << kClosed << QStringList{texts::kPortLost, "/dev/fake3: read error"};
    }
    void fromOpen()
    {
        QFETCH(Click, click);
        QFETCH(int, pick);
        LinkRig r;
        r.link.Combo2_Click(); // closed: opens nothing
        r.link.Command1_Click();
        QCOMPARE(r.port.openSettings, QStringLiteral("9600,N,8,1"));
        r.panel.setTimerEnabled(Timer::Timer1, true);
        r.panel.setTimerEnabled(Timer::Timer2, true);
        r.panel.setText(Ctl::Command_OK3, texts::kStop);
        r.panel.setText(Ctl::Command6, texts::kRecording);
        r.state.RecordFlag = QStringLiteral("1");
        r.state.ResumePolling = 1;
        r.panel.pick(Ctl::Combo1, pick);
        for (int i = 0; i < 2 && !click; ++i)
            r.link.lineFailed({SerialError::kOtherFailure, QStringLiteral("read error"), {}});
        if (click) (r.link.*click)();
        QTEST(r.shown(), "shown");
        QCOMPARE(r.port.probed, QList<int>{3}); // nothing opened again
        QCOMPARE(r.state.SelectedPort, pick + 1);
        const QString tip = click == &SerialLink::Combo1_Click ? r.port.pathOf(pick + 1) : "";
        QCOMPARE(r.panel.toolTip(Ctl::Combo1), tip);
        QVERIFY(r.panel.isTimerEnabled(Timer::Timer1)); // the recording goes on
        QCOMPARE(r.panel.text(Ctl::Command6) + r.state.RecordFlag, texts::kRecording + "1");
        QTEST(r.panel.messages + r.panel.details, "boxes");
    }

    // Root opens every device: the remedy is built for files of chosen groups.
    void permissionDenied_data()
    {
        QTest::addColumn<int>("gid"); // -1: no such file
        QTest::addColumn<QString>("remedy");
        if (const group* g = ::getgrgid(1))
            QTest::newRow("named group") << 1 << texts::kNoAccessJoinGroup.arg("%1", g->gr_name);
        if (!::getgrgid(54321))
            QTest::newRow("unnamed") << 54321 << texts::kNoAccessGroupId.arg("%1", "54321");
        QTest::newRow("root only") << 0 << texts::kNoAccessCheckRights;
        QTest::newRow("gone") << -1 << texts::kNoAccessCheckRights;
    }
    void permissionDenied()
    {
        QFETCH(int, gid);
        QFETCH(QString, remedy);
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("ttyTest")));
        if (gid >= 0) QVERIFY(f.open(QIODevice::WriteOnly));
        if (gid >= 0) QCOMPARE(::fchown(f.handle(), uid_t(-1), gid_t(gid)), 0);
        const SerialError e = openFailure(QSerialPort::PermissionError, "", f.fileName(), true);
        QCOMPARE(e.number, SerialError::kOtherFailure);
        QCOMPARE(e.remedy, remedy.arg(f.fileName()));
    }

    void device_data()
    {
        QTest::addColumn<QString>("path"); // empty: a pseudo-terminal, held elsewhere if busy
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("error"); // of probe and open; negative: of the open only
        QTest::newRow("rate off the list") << "" << 1 << "14400,E,7,2" << 0;
        QTest::newRow("port 0") << "" << 0 << "9600,N,8,1" << 8002;
        QTest::newRow("missing") << "/dev/eload-none" << 1 << "9600,N,8,1" << 8002;
        QTest::newRow("busy") << "" << 1 << "9600,N,8,1" << 8005;
        QTest::newRow("no terminal") << "/dev/null" << 1 << "9600,N,8,1" << 8000;
        QTest::newRow("bad settings") << "" << 1 << "abc,N,8,1" << -8000;
    }
    void device()
    {
        QFETCH(QString, path);
        QFETCH(int, port);
        QFETCH(QString, settings);
        QFETCH(int, error);
        sim::Pty pty;
        QVERIFY(!pty.open({}));
        QSerialPort holder(pathOf(pty)); // another program's hold
        if (error == SerialError::kPortInUse) QVERIFY(holder.open(QIODevice::ReadWrite));
        QtSerialDevice dev(mapped(path.isEmpty() ? pathOf(pty) : path));
        const std::optional<SerialError> probed = dev.probe(port);
        const std::optional<SerialError> opened = dev.open(port, settings);
        QCOMPARE(probed ? probed->number : 0, qMax(error, 0));
        QCOMPARE(opened ? opened->number : 0, qAbs(error));
        QCOMPARE(dev.isOpen(), !opened);
        QVERIFY(!opened || !opened->cause.isEmpty());
        if (error < 0) QVERIFY(!dev.open(port, QStringLiteral("9600,N,8,1"))); // still usable
    }

    void hangUp_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("found by the read side") << 0;
        QTest::newRow("found by a write") << 1;
        QTest::newRow("next line opened before the report") << 2;
    }
    // Reported once, from the event loop; the device then serves the next line.
    void hangUp()
    {
        QFETCH(int, how);
        sim::Pty first, second;
        QVERIFY(!first.open({}) && !second.open({}));
        QtSerialDevice dev(mapped(pathOf(first), pathOf(second)));
        Listener l;
        dev.setListener(&l);
        QVERIFY(!dev.open(1, QStringLiteral("9600,N,8,1")));
        first.close();
        if (how > 0) dev.write("abc");
        QVERIFY(l.failures == 0 && dev.isOpen() == (how == 0));
        if (how < 2) QTRY_COMPARE_WITH_TIMEOUT(l.failures, 1, 2000);
        QCOMPARE(::write(second.masterFd(), "stale", 5), 5); // waiting before the open: discarded
        QVERIFY(!dev.isOpen() && !dev.open(2, QStringLiteral("9600,N,8,1")));
        dev.write("again"); // on the line before the event loop runs again
        pollfd p{second.masterFd(), POLLIN, 0};
        char buf[8] = {};
        QVERIFY(::poll(&p, 1, 2000) == 1 && ::read(second.masterFd(), buf, 8) == 5);
        QCOMPARE(buf, "again");
        QCOMPARE(::write(second.masterFd(), "back", 4), 4);
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += dev.readAll()) == "back", 2000);
        QVERIFY(l.notified > 0);
        QCOMPARE(l.failures, how < 2 ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(SerialTest)
#include "test_serial.moc"
