// QSerialPort behind SerialDevice, over real pseudo-terminals: the test holds
// the master side and plays the module; COMn is mapped to the slave.

#include "serial/QtSerialDevice.h"

#include <QSerialPort>
#include <QTest>

#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace eload;

namespace {

struct Pty {
    int master = -1;
    QString path;

    Pty()
    {
        int slave = -1;
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            // no echo of what waits for the slave; the device under test
            // opens it by path
            termios raw{};
            ::tcgetattr(slave, &raw);
            ::cfmakeraw(&raw);
            ::tcsetattr(slave, TCSANOW, &raw);
            ::close(slave);
            path = QString::fromLocal8Bit(name);
        }
    }
    ~Pty() { hangUp(); }
    void hangUp()
    {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void send(const QByteArray& b) { QCOMPARE(::write(master, b.data(), b.size()), b.size()); }
    // What the panel wrote, without running the event loop.
    QByteArray received()
    {
        pollfd p{master, POLLIN, 0};
        char buf[256];
        const ssize_t n = ::poll(&p, 1, 1000) > 0 ? ::read(master, buf, sizeof buf) : 0;
        return QByteArray(buf, int(qMax<ssize_t>(n, 0)));
    }
};

struct Listener : SerialDevice::Listener {
    int notified = 0;
    QList<SerialError> failures;
    void dataReceived() override { ++notified; }
    void lineFailed(const SerialError& e) override { failures.append(e); }
};

PortMap mapped(const QString& com1, const QString& com2 = {})
{
    PortMap map;
    map.set(1, com1);
    map.set(2, com2);
    return map;
}

double cpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

const QString k9600 = QStringLiteral("9600,N,8,1");

} // namespace

#define QVERIFY_RECEIVES(dev, bytes)                                                               \
    do {                                                                                           \
        QByteArray got;                                                                            \
        QTRY_VERIFY_WITH_TIMEOUT((got += (dev).readAll()) == (bytes), 2000);                       \
    } while (false)

class QtSerialDeviceTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bytesBothWaysAndStaleInputDiscarded()
    {
        Pty pty;
        pty.send("stale"); // waiting for the slave before anyone opens it
        QtSerialDevice dev(mapped(pty.path));
        Listener l;
        dev.setListener(&l);
        QVERIFY(!dev.open(1, k9600));
        dev.write("\x01\x03"); // on the line before the event loop runs again
        QCOMPARE(pty.received(), QByteArray("\x01\x03"));
        pty.send("fresh");
        QVERIFY_RECEIVES(dev, "fresh");
        QVERIFY(l.notified > 0);
    }

    void probeAndOpen_data()
    {
        QTest::addColumn<QString>("path"); // "pty": a free pseudo-terminal
        QTest::addColumn<bool>("busy");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("probeError"); // 0: passes
        QTest::addColumn<int>("openError");
        const int none = SerialError::kNoSuchPort, busy = SerialError::kPortInUse,
                  other = SerialError::kOtherFailure;
        QTest::newRow("free") << "pty" << false << 1 << k9600 << 0 << 0;
        QTest::newRow("rate off the list") << "pty" << false << 1 << "14400,E,7,2" << 0 << 0;
        QTest::newRow("typed baud text") << "pty" << false << 1 << "abc,N,8,1" << 0 << other;
        QTest::newRow("port 0") << "pty" << false << 0 << k9600 << none << none;
        QTest::newRow("missing") << "/dev/eload-none" << false << 1 << k9600 << none << none;
        QTest::newRow("busy") << "pty" << true << 1 << k9600 << busy << busy;
        QTest::newRow("no terminal") << "/dev/null" << false << 1 << k9600 << other << other;
    }
    void probeAndOpen()
    {
        QFETCH(QString, path);
        QFETCH(bool, busy);
        QFETCH(int, port);
        QFETCH(QString, settings);
        Pty pty;
        if (path == u"pty") path = pty.path;
        QSerialPort holder; // another program's hold on the device
        holder.setPortName(path);
        if (busy) QVERIFY(holder.open(QIODevice::ReadWrite));
        QtSerialDevice dev(mapped(path));

        const std::optional<SerialError> probed = dev.probe(port);
        QTEST(probed ? probed->number : 0, "probeError");
        QVERIFY(!dev.isOpen());
        const std::optional<SerialError> opened = dev.open(port, settings);
        QTEST(opened ? opened->number : 0, "openError");
        QCOMPARE(dev.isOpen(), !opened);
        if (opened) QVERIFY(!opened->cause.isEmpty());
        // a refused settings text leaves a usable device
        if (opened && !probed) QVERIFY(!dev.open(port, k9600));
    }

    void probeWhileOpenLeavesTheLine()
    {
        Pty pty;
        QtSerialDevice dev(mapped(pty.path));
        QVERIFY(!dev.open(1, k9600));
        QCOMPARE(dev.probe(1).value_or(SerialError{}).number, SerialError::kPortInUse);
        dev.write("x");
        QCOMPARE(pty.received(), QByteArray("x"));
    }

    void hangUpReportedOnceWithoutSpinning()
    {
        Pty pty, replugged;
        QtSerialDevice dev(mapped(pty.path, replugged.path));
        Listener l;
        dev.setListener(&l);
        QVERIFY(!dev.open(1, k9600));

        pty.hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(l.failures.size(), 1, 2000);
        QVERIFY(!dev.isOpen());
        // a device left open would raise its errors without end
        const double before = cpuSeconds();
        QTest::qWait(2000);
        const double used = cpuSeconds() - before;
        QVERIFY2(used < 0.2, qPrintable(QStringLiteral("%1 s CPU in 2 s").arg(used)));
        QCOMPARE(l.failures.size(), 1);

        // the same object serves the next line
        QVERIFY(!dev.open(2, k9600));
        dev.write("again");
        QCOMPARE(replugged.received(), QByteArray("again"));
        replugged.send("back");
        QVERIFY_RECEIVES(dev, "back");
    }

    void writeFailureReportedFromTheLoop()
    {
        Pty first, second;
        QtSerialDevice dev(mapped(first.path, second.path));
        Listener l;
        dev.setListener(&l);

        // a report still queued when the next line opens is for the old one
        QVERIFY(!dev.open(1, k9600));
        first.hangUp();
        dev.write("abc");
        QVERIFY(!dev.open(2, k9600));
        QTest::qWait(100);
        QVERIFY(l.failures.isEmpty());

        second.hangUp();
        dev.write("abc");
        QVERIFY(l.failures.isEmpty()); // never from inside the call
        QVERIFY(!dev.isOpen());
        QTRY_COMPARE_WITH_TIMEOUT(l.failures.size(), 1, 2000);
    }
};

QTEST_GUILESS_MAIN(QtSerialDeviceTest)
#include "test_qt_serial_device.moc"
