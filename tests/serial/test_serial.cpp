#include "serial/OpenFailure.h"
#include "serial/PortLock.h"
#include "serial/QtSerialDevice.h"
#include "serial/SerialLink.h"
#include "sim/Pty.h"
#include "support/Rig.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace eload;
using namespace eload::test;

namespace {

struct LinkRig : Rig {
    SerialLink link{ctx};
    LinkRig()
    {
        for (Ctl c : {Ctl::Combo1, Ctl::Combo2, Ctl::Combo3, Ctl::Combo4, Ctl::Combo5})
            panel.pick(c, c == Ctl::Combo1 ? 2 : c == Ctl::Combo2 ? 1 : 0); // COM3, 9600,N,8,1
        state.SelectedPort = 3;
    }
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
const QString kLine = QStringLiteral("9600,N,8,1");

using Click = void (SerialLink::*)(); // null: the line lost, twice

QString pathOf(const sim::Pty& pty) { return QString::fromStdString(pty.path()); }
// The number of a failure, -1 for one without the system's words.
int number(std::optional<SerialError> e) { return !e ? 0 : e->cause.isEmpty() ? -1 : e->number; }

struct Listener : SerialDevice::Listener {
    int notified = 0, failures = 0;
    SerialError lost;
    void dataReceived() override { ++notified; }
    void lineFailed(const SerialError& e) override { ++failures, lost = e; }
};

} // namespace

Q_DECLARE_METATYPE(Click)

class SerialTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void open_data()
    {
        QTest::addColumn<int>("index");         // of Combo1
        QTest::addColumn<int>("error");         // of the probe; -1: passes, then the open fails
        QTest::addColumn<QStringList>("boxes"); // messages, then their detail lines
        QTest::newRow("missing") << 2 << 8002 << QStringList{texts::kNoSuchPort, ""};
        QTest::newRow("busy") << 2 << 8005 << QStringList{texts::kPortInUse, ""};
        QTest::newRow("no rights") << 2 << 8000 << QStringList{texts::kOtherError, "join"};
        QTest::newRow("no entry") << -1 << 0 << QStringList{texts::kNoSuchPort, ""};
        QTest::newRow("refused") << 2 << -1 << QStringList{texts::kOpenFailed, "/dev/fake3: EIO"};
    }
    void open()
    {
        QFETCH(int, index);
        QFETCH(int, error);
        QFETCH(QStringList, boxes);
        LinkRig r;
        r.panel.setListIndex(Ctl::Combo1, index);
        r.panel.setText(Ctl::Text3, QStringLiteral("5.00"));
        if (error > 0) r.port.probeErrors[3] = {error, "cause", boxes.value(1)};
        if (error < 0) r.port.openError = {SerialError::kOtherFailure, "EIO", {}};
        r.link.Command1_Click();
        QCOMPARE(r.port.probed, QList<int>{index + 1});
        QCOMPARE(r.shown(), texts::kOpenPort + " black 0/0 5.00|| 000");
        QCOMPARE(r.panel.messages + r.panel.details, boxes);
    }

    void fromOpen_data()
    {
        QTest::addColumn<Click>("click");
        QTest::addColumn<int>("pick"); // of Combo1 before the click
        QTest::newRow("button") << &SerialLink::Command1_Click << 2;
        QTest::newRow("baud pick") << &SerialLink::Combo2_Click << 2;
        QTest::newRow("other port") << &SerialLink::Combo1_Click << 4;
        QTest::newRow("same port") << &SerialLink::Combo1_Click << 2;
        QTest::newRow("line lost") << Click() << 2;
    }
    void fromOpen()
    {
        QFETCH(Click, click);
        QFETCH(int, pick);
        LinkRig r;
        r.link.Combo2_Click(); // closed: opens nothing
        r.link.Command1_Click();
        QCOMPARE(r.port.openSettings, kLine);
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
        const QString kept = texts::kClosePort + " green 3/3 2.00|1.00|100.00 111";
        const bool portPick = click == &SerialLink::Combo1_Click;
        QCOMPARE(r.shown(), portPick && pick == 2 ? kept : texts::kOpenPort + " black 0/0 || 000");
        QCOMPARE(r.port.probed, QList<int>{3}); // nothing opened again
        QCOMPARE(r.state.SelectedPort, pick + 1);
        QCOMPARE(r.panel.toolTip(Ctl::Combo1), portPick ? r.port.pathOf(pick + 1) : QString());
        QVERIFY(r.panel.isTimerEnabled(Timer::Timer1)); // the recording goes on
        QCOMPARE(r.panel.text(Ctl::Command6) + r.state.RecordFlag, texts::kRecording + "1");
        const QStringList lost{texts::kPortLost, "/dev/fake3: read error"};
        QCOMPARE(r.panel.messages + r.panel.details, click ? QStringList() : lost);
    }

    // Root opens every device: the remedy is built for files of chosen groups.
    void permissionDenied()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ttyTest"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const auto remedy = [&](int gid) { // -1: the file removed
            const bool owned = gid < 0 || ::fchown(f.handle(), uid_t(-1), gid_t(gid)) == 0;
            const SerialError e = openFailure(QSerialPort::PermissionError, "", path, true);
            return owned && e.number == SerialError::kOtherFailure ? e.remedy : QString();
        };
        QCOMPARE(remedy(0), texts::kNoAccessCheckRights.arg(path));
        if (const group* g = ::getgrgid(1))
            QCOMPARE(remedy(1), texts::kNoAccessJoinGroup.arg(path, g->gr_name));
        if (!::getgrgid(54321)) QCOMPARE(remedy(54321), texts::kNoAccessGroupId.arg(path, "54321"));
        QVERIFY(f.remove());
        QCOMPARE(remedy(-1), texts::kNoAccessCheckRights.arg(path));
    }

    // One device on ptys: failures to open, then a line served, lost and replaced.
    void device()
    {
        sim::Pty first, second;
        QVERIFY(!first.open({}) && !second.open({}));
        PortMap map;
        map.set(1, pathOf(first));
        map.set(2, pathOf(second));
        map.set(3, QStringLiteral("/dev/eload-none"));
        QtSerialDevice dev(map);
        Listener l;
        dev.setListener(&l);
        QVERIFY(number(dev.probe(3)) == 8002 && number(dev.open(3, kLine)) == 8002);
        QSerialPort holder(pathOf(first)); // another program's hold
        QVERIFY(holder.open(QIODevice::ReadWrite));
        QVERIFY(number(dev.probe(1)) == 8005 && number(dev.open(1, kLine)) == 8005);
        holder.close();
        QVERIFY(number(dev.open(1, QStringLiteral("abc,N,8,1"))) == 8000 && !dev.isOpen());
        QVERIFY(!dev.probe(1) && !dev.open(1, kLine)); // still usable
        first.close();
        dev.write("abc"); // fails by both its error signal and its result: one report
        QVERIFY(l.failures == 0 && !dev.isOpen()); // from the event loop
        QTRY_COMPARE_WITH_TIMEOUT(l.failures, 1, 2000);
        // The pty's node went with its master; the system's words follow the plain cause.
        QVERIFY(l.lost.cause == texts::kLineDeviceGone &&
                l.lost.remedy.startsWith(texts::kSystemSays.arg("")));
        QCOMPARE(::write(second.masterFd(), "stale", 5), 5); // waiting before the open: discarded
        QVERIFY(!dev.open(2, kLine));
        dev.write("again"); // on the line before the event loop runs again
        pollfd p{second.masterFd(), POLLIN, 0};
        char buf[8] = {};
        QVERIFY(::poll(&p, 1, 2000) == 1 && ::read(second.masterFd(), buf, 8) == 5);
        QCOMPARE(buf, "again");
        QCOMPARE(::write(second.masterFd(), "back", 4), 4);
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += dev.readAll()) == "back", 2000);
        QVERIFY(l.notified > 0 && l.failures == 1);
        // Hung up with its node still there, as an unplugged adapter's may linger.
        const int other = ::open(qPrintable(pathOf(second)), O_RDWR | O_NOCTTY);
        const bool hungUp = ::ioctl(other, TIOCVHANGUP) == 0;
        ::close(other);
        if (!hungUp) QSKIP("hanging up a tty needs CAP_SYS_ADMIN");
        QTRY_COMPARE_WITH_TIMEOUT(l.failures, 2, 2000);
        QCOMPARE(l.lost.cause, texts::kLineHungUp);
    }

    // The lock file is QSerialPort's own, by name and folder: while a
    // QSerialPort holds a device, the file we would take for its path exists.
    void lockFileName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("under /dev") << "/dev/ttyUSB0"
                                    << "LCK..ttyUSB0";
        QTest::newRow("a pty") << "/dev/pts/3"
                               << "LCK..pts_3";
        QTest::newRow("elsewhere") << "/tmp/lab/bus"
                                   << "LCK.._tmp_lab_bus";
    }
    void lockFileName()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QCOMPARE(QFileInfo(serialLockFilePath(path)).fileName(), name);

        sim::Pty pty;
        QVERIFY(!pty.open({}));
        QSerialPort port(pathOf(pty));
        const QString lock = serialLockFilePath(pathOf(pty));
        QVERIFY(port.open(QIODevice::ReadWrite));
        QVERIFY(QFile::exists(lock));
        port.close();
        QVERIFY(!QFile::exists(lock));
    }

    // flock on the device holds between any two openers, root included, and
    // names the holder; QtSerialDevice reports such a device as busy (8005).
    void deviceLock()
    {
        sim::Pty pty;
        QVERIFY(!pty.open({}));
        const QString path = pathOf(pty);
        const int first = ::open(qPrintable(path), O_RDWR | O_NOCTTY);
        const int second = ::open(qPrintable(path), O_RDWR | O_NOCTTY);
        QVERIFY(first >= 0 && second >= 0);
        QVERIFY(!lockDevice(first, path));
        const std::optional<PortBusy> busy = lockDevice(second, path);
        QVERIFY(busy && busy->holder);
        QCOMPARE(busy->holder->pid, QCoreApplication::applicationPid());
        QCOMPARE(busy->holder->program, QStringLiteral("test_serial"));

        PortMap map;
        map.set(1, path);
        QtSerialDevice dev(map);
        for (const std::optional<SerialError>& e : {dev.probe(1), dev.open(1, kLine)}) {
            QVERIFY(e && e->number == SerialError::kPortInUse);
            QVERIFY2(
                e->cause.contains(
                    QStringLiteral("test_serial (pid %1)").arg(QCoreApplication::applicationPid())),
                qPrintable(e->cause));
        }
        ::close(first);
        QVERIFY(!lockDevice(second, path));
        ::close(second);
        QVERIFY(!dev.open(1, kLine));
        dev.close();
    }
};

QTEST_GUILESS_MAIN(SerialTest)
#include "test_serial.moc"
