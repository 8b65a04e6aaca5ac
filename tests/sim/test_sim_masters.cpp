// The eload-sim program against Modbus masters that share nothing with this
// project: mbpoll (libmodbus) and the pymodbus client, over a pty at 9600 8N1.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");

// Reads 0..17, writes 13..17 in one request, reads again, switches the load
// off with a single write and reads 13..17. One line per step.
const char* const kPymodbusScript = R"(
import sys
from pymodbus.client import ModbusSerialClient

client = ModbusSerialClient(port=sys.argv[1], baudrate=9600, parity="N", stopbits=1,
                            bytesize=8, timeout=2)
if not client.connect():
    sys.exit("cannot open " + sys.argv[1])

def show(name, reply):
    if reply.isError():
        sys.exit(name + ": " + str(reply))
    print(name, *reply.registers)

show("before", client.read_holding_registers(0, 18, slave=1))
written = client.write_registers(13, [250, 1000, 4000, 1, 1], slave=1)
if written.isError():
    sys.exit("write_registers: " + str(written))
show("after", client.read_holding_registers(0, 18, slave=1))
off = client.write_register(17, 0, slave=1)
if off.isError():
    sys.exit("write_register: " + str(off))
show("off", client.read_holding_registers(13, 5, slave=1))
client.close()
)";

// eload-sim as a child process, linked into a temporary folder.
struct Program {
    bool start(const QStringList& extra = {})
    {
        link = QDir(dir.path()).filePath("com1");
        process.start(QStringLiteral(ELOAD_SIM_PROGRAM), QStringList{"--link", link} + extra);
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000)) return false;
        path = QString::fromLocal8Bit(process.readLine()).trimmed();
        return path.startsWith("/dev/");
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(5000);
        }
    }

    QTemporaryDir dir;
    QProcess process;
    QString link;
    QString path;
};

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        r.err = "timed out";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// mbpoll's "[n]: value" lines.
QMap<int, int> mbpollValues(const QString& out)
{
    QMap<int, int> values;
    static const QRegularExpression line(QStringLiteral(R"(^\[(\d+)\]:\s+(-?\d+)\s*$)"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(out); it.hasNext();) {
        const auto m = it.next();
        values[m.captured(1).toInt()] = m.captured(2).toInt();
    }
    return values;
}

QList<int> pythonValues(const QString& out, const QString& name)
{
    for (const QString& line : out.split('\n')) {
        QStringList words = line.split(' ', Qt::SkipEmptyParts);
        if (words.value(0) != name) continue;
        words.removeFirst();
        QList<int> values;
        for (const QString& w : words)
            values.append(w.toInt());
        return values;
    }
    return {};
}

} // namespace

class SimMastersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mbpollReadsAndWrites()
    {
        const QString mbpoll = QStandardPaths::findExecutable("mbpoll");
        if (mbpoll.isEmpty())
            QSKIP("mbpoll is not installed (Debian package mbpoll, see scripts/bootstrap)");
        Program sim;
        QVERIFY(sim.start({"--address", "7"}));
        const QStringList line = {"-m",   "rtu", "-a", "7",  "-b", "9600", "-P",
                                  "none", "-t",  "4",  "-0", "-1", "-o",   "2"};

        const Run before = run(mbpoll, line + QStringList{"-r", "0", "-c", "18", sim.link});
        QVERIFY2(before.exitCode == 0, qPrintable(before.out + before.err));
        auto values = mbpollValues(before.out);
        QCOMPARE(values.size(), 18);
        QCOMPARE(values[1], 1260); // a full 3S pack, load off
        QCOMPARE(values[7], 120);
        QCOMPARE(values[16], 1); // 9600

        const Run write =
            run(mbpoll, line + QStringList{"-r", "13", sim.link, "300", "900", "5000", "1", "1"});
        QVERIFY2(write.exitCode == 0, qPrintable(write.out + write.err));
        QVERIFY(write.out.contains("Written 5 references"));

        const Run after = run(mbpoll, line + QStringList{"-r", "0", "-c", "18", sim.link});
        QVERIFY2(after.exitCode == 0, qPrintable(after.out + after.err));
        values = mbpollValues(after.out);
        QCOMPARE(values.size(), 18);
        const QList<int> presets = {300, 900, 5000, 1, 1};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(values[13 + i], presets[i]);
        QCOMPARE(values[0], 300); // the load draws its 3 A
        QVERIFY(values[1] < 1260);
    }

    void pymodbusReadsAndWrites()
    {
        const Run probe = run(kPython, {"-c", "import pymodbus.client"});
        if (probe.exitCode != 0)
            QSKIP(qPrintable("the pymodbus client does not import with /usr/bin/python3 "
                             "(Debian packages python3-pymodbus, python3-serial-asyncio): " +
                             probe.err.trimmed()));
        Program sim;
        QVERIFY(sim.start());
        const QString script = QDir(sim.dir.path()).filePath("master.py");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kPymodbusScript);
        file.close();

        const Run r = run(kPython, {script, sim.link});
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        const QList<int> before = pythonValues(r.out, "before");
        QCOMPARE(before.size(), 18);
        QCOMPARE(before.mid(13), (QList<int>{100, 900, 15000, 1, 0}));
        const QList<int> after = pythonValues(r.out, "after");
        QCOMPARE(after.size(), 18);
        QCOMPARE(after.mid(13), (QList<int>{250, 1000, 4000, 1, 1}));
        QCOMPARE(pythonValues(r.out, "off"), (QList<int>{250, 1000, 4000, 1, 0}));
    }

    // The serial class the panel itself uses: opened, answered, closed and
    // opened again (the module keeps its end of the line across that).
    void qSerialPortTalksToIt()
    {
        Program sim;
        QVERIFY(sim.start());
        for (int round = 0; round < 2; ++round) {
            QSerialPort port(sim.link);
            port.setBaudRate(9600);
            QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
            port.write(QByteArray::fromHex("010300000012C5C7"));
            QByteArray reply;
            while (reply.size() < 41 && port.waitForReadyRead(2000))
                reply += port.readAll();
            QCOMPARE(reply.size(), 41);
            QCOMPARE(reply.left(3), QByteArray::fromHex("010324"));
            port.close();
        }
    }

    void programEndsOnSignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void programEndsOnSignal()
    {
        QFETCH(int, signal);
        Program sim;
        QVERIFY(sim.start());
        QCOMPARE(QFileInfo(sim.link).symLinkTarget(), sim.path);
        QVERIFY(sim.process.readAll().isEmpty()); // the path is the only line
        ::kill(pid_t(sim.process.processId()), signal);
        QVERIFY(sim.process.waitForFinished(5000));
        QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(sim.link));
        QVERIFY(!QFileInfo(sim.link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(SimMastersTest)
#include "test_sim_masters.moc"
