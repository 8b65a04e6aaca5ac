// The simulated load module: its bus protocol, its protection, eload-sim and other masters.

#include "sim/Module.h"
#include "sim/Simulator.h"
#include "sim/Slave.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace eload;

namespace {

QByteArray withCrc(const QByteArray& hex)
{
    if (hex.isEmpty()) return {};
    const QByteArray raw = QByteArray::fromHex(hex);
    const auto b = sim::withCrc(sim::Bytes(raw.begin(), raw.end()));
    return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
}

// Distinct register values, so that a misplaced one shows; code 1 keeps the line at 9600.
std::uint16_t valueOf(int n) { return n == 16 ? 1 : std::uint16_t(0x0101 * n + 0x10); }

// The read reply (hex, before the CRC) of registers start.. as the rig fills them.
QByteArray block(int start, int count, int address = 1)
{
    QByteArray reply = QByteArray::number(address * 0x10000 + 0x300 + 2 * count, 16);
    for (int n = start; n < start + count; ++n)
        reply += QByteArray::number(valueOf(n), 16).rightJustified(4, '0');
    return reply.rightJustified(6 + 4 * count, '0');
}

const QByteArray kPoll = withCrc("010300000012");

// A running simulator, its model stopped, and a master's port open on its pty.
struct Rig {
    explicit Rig(sim::Options o = {}) : sim((o.model.running = false, o))
    {
        sim.start();
        port.setPortName(QString::fromStdString(sim.path()));
        ok = port.open(QIODevice::ReadWrite) && port.setBaudRate(o.baud);
        for (int n = 0; n < 18; ++n)
            sim.setReg(n, valueOf(n));
    }
    // All that arrives until 80 ms pass without a byte; nothing if the first takes `firstMs`.
    QByteArray exchange(const QByteArray& request, int firstMs = 1000)
    {
        sent.start();
        port.write(request);
        port.flush();
        QByteArray got;
        for (int wait = firstMs; port.waitForReadyRead(wait); wait = 80) {
            got += port.readAll();
            lastByteMs = sent.elapsed();
        }
        return got;
    }
    QList<int> registers() const
    {
        QList<int> r;
        for (int n = 0; n < 18; ++n)
            r.append(sim.reg(n));
        return r;
    }

    sim::Simulator sim;
    QSerialPort port;
    QElapsedTimer sent;
    qint64 lastByteMs = 0; // from the request sent to the last byte of the reply
    bool ok = false;
};

void row(const char* name, const QByteArray& request, const QByteArray& reply,
         const QList<int>& changes = {})
{
    QTest::newRow(name) << withCrc(request) << withCrc(reply) << changes;
}

const char* const kPymodbus = R"(
import sys
from pymodbus.client import ModbusSerialClient
c = ModbusSerialClient(port=sys.argv[1], baudrate=9600, timeout=2)
assert c.connect()
def show(reply):
    assert not reply.isError(), str(reply)
    for n, v in enumerate(reply.registers): print(f"{n}: {v}")
show(c.read_holding_registers(0, 18, slave=1))
assert not c.write_registers(13, [300, 900, 5000, 1, 1], slave=1).isError()
show(c.read_holding_registers(0, 18, slave=1))
)";

} // namespace

class SimTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");   // empty: no answer
        QTest::addColumn<QList<int>>("changes"); // register, value, register, value ...
        row("read 0..17", "010300000012", block(0, 18));
        row("read 3..10", "010300030008", block(3, 8));
        row("write current", "0106000d012c", "0106000d012c", {13, 300});
        row("load on acknowledges a trip", "010600110001", "010600110001", {17, 1, 9, 0});
        row("clear data", "010600120001", "010600120001",
            {3, 0, 4, 0, 5, 0, 6, 0, 10, 0, 11, 0, 12, 0});
        row("write presets", "0110000d00050a00c8009627100001 0000", "0110000d0005",
            {13, 200, 14, 150, 15, 10000, 16, 1, 17, 0});
        row("read past 17", "010300110002", "018302");
        row("read none", "010300000000", "018303");
        row("function 04", "010400000001", "018401");
        row("write a measured value", "010600050001", "018602");
        row("current 10.01 A", "0106000d03e9", "018603");
        row("cut-off 0.99 V", "0106000e0063", "018603");
        row("power 150.01 W", "0106000f3a99", "018603");
        row("baud code 6", "010600100006", "018603");
        row("clear with 0", "010600120000", "018603");
        row("several, one value bad", "0110000d00020400640032", "019003");
        QTest::newRow("bad CRC") << kPoll.chopped(1).append('\xc6') << QByteArray() << QList<int>{};
        row("other address", "020300000012", "");
    }
    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QList<int>, changes);
        Rig rig;
        QVERIFY(rig.ok);
        auto expected = rig.registers();
        for (qsizetype i = 0; i + 1 < changes.size(); i += 2)
            expected[changes[i]] = changes[i + 1];
        QCOMPARE(rig.exchange(request, reply.isEmpty() ? 300 : 1000), reply);
        QCOMPARE(rig.registers(), expected); // a refused request changes nothing
        QVERIFY(rig.sim.waitForRequests(1, std::chrono::seconds(2)));
        QCOMPARE(rig.sim.requests()[0].answered, !reply.isEmpty());
        if (reply.isEmpty()) QCOMPARE(rig.exchange(kPoll), withCrc(block(0, 18))); // not stuck
    }

    void addressAndBaudChangeAfterTheirReply()
    {
        Rig rig;
        QVERIFY(rig.ok);
        const QByteArray change = withCrc("000600000005"), to115200 = withCrc("050600100005");
        const QByteArray poll5 = withCrc("050300000012");
        QCOMPARE(rig.exchange(change), change);
        QCOMPARE(rig.exchange(kPoll, 300), QByteArray());
        QCOMPARE(rig.exchange(poll5), withCrc(block(0, 18, 5)));
        QCOMPARE(rig.exchange(to115200), to115200);
        QVERIFY(rig.lastByteMs >= 10); // 8 bytes at 9600 Bd after a 5 ms gap: 13 ms at least
        QCOMPARE(rig.exchange(poll5, 300), QByteArray());
        QVERIFY(rig.port.setBaudRate(115200));
        QCOMPARE(rig.exchange(poll5).size(), 41);
    }

    void joinsARequestInPieces()
    {
        sim::Options o;
        o.frameGapMs = 150;
        Rig rig(o);
        QVERIFY(rig.ok);
        const QByteArray head = kPoll.left(3), tail = kPoll.mid(3);
        rig.exchange(head, 10);
        QCOMPARE(rig.exchange(tail), withCrc(block(0, 18)));
        // A silence longer than the gap ends a frame: two halves, no reply.
        rig.exchange(head, 500);
        QCOMPARE(rig.exchange(tail, 400), QByteArray());
        QVERIFY(rig.sim.waitForRequests(3, std::chrono::seconds(2)));
        QCOMPARE(rig.sim.requests().at(1).bytes, sim::Bytes(head.begin(), head.end()));
    }

    void exceptionFaultRefusesTheNextRequestOnly()
    {
        Rig rig;
        QVERIFY(rig.ok);
        rig.sim.failNext(sim::Fault::exception(4));
        QCOMPARE(rig.exchange(withCrc("0106000d012c")), withCrc("018604"));
        QCOMPARE(int(rig.sim.reg(13)), int(valueOf(13)));
        QCOMPARE(rig.exchange(kPoll), withCrc(block(0, 18)));
    }

    void protectionSwitchesOff_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("UVLO") << 1;
        QTest::newRow("OPP") << 2;
        QTest::newRow("OTP") << 4;
    }
    void protectionSwitchesOff()
    {
        QFETCH(int, code);
        sim::ModelParameters p;
        p.stateOfCharge = code == 1 ? 0.02 : 1; // a few dozen seconds left at 2 A
        p.oppWatts = code == 2 ? 10 : 150;
        sim::Module m(p, 1, 1);
        m.write(13, 200);
        m.write(17, 1);
        if (code == 4) m.setReg(8, 95);
        int seconds = 0;
        while (seconds++ < 600 && m.reg(17) == 1)
            m.advance(1);
        QCOMPARE(int(m.reg(9)), code);
        QCOMPARE(int(m.reg(17)), 0);
        QCOMPARE(int(m.reg(0)), 0);
        if (code == 1) QVERIFY(seconds > 10); // ran until the pack was spent, not at once
    }

    // Masters sharing nothing with this project read 0..17, write 13..17, read again.
    void independentMasters_data()
    {
        QTest::addColumn<QString>("master");
        QTest::newRow("mbpoll") << QStandardPaths::findExecutable("mbpoll");
        QTest::newRow("pymodbus") << QStringLiteral("/usr/bin/python3");
    }
    void independentMasters()
    {
        QFETCH(QString, master);
        const bool python = master.endsWith("python3");
        QProcess p;
        if (python) p.start(master, {"-c", "import pymodbus.client"});
        if (master.isEmpty() || (python && (!p.waitForFinished(20000) || p.exitCode() != 0)))
            QSKIP(python ? "pymodbus client missing (python3-pymodbus, python3-serial-asyncio)"
                         : "mbpoll missing (Debian package mbpoll)");

        QTemporaryDir dir;
        const QString link = dir.filePath("com1");
        QProcess program;
        program.start(ELOAD_SIM_PROGRAM, {"--link", link});
        QVERIFY(program.waitForReadyRead(5000));
        const QStringList line = {"-m", "rtu", "-a", "1",  "-b", "9600", "-P", "none",
                                  "-t", "4",   "-0", "-1", "-o", "2",    "-r"};
        const QList<QStringList> steps =
            python
                ? QList<QStringList>{{"-c", kPymodbus, link}}
                : QList<QStringList>{line + QStringList{"0", "-c", "18", link},
                                     line + QStringList{"13", link, "300", "900", "5000", "1", "1"},
                                     line + QStringList{"0", "-c", "18", link}};
        QString out;
        for (const QStringList& args : steps) {
            p.start(master, args);
            QVERIFY(p.waitForFinished(20000));
            out += p.readAllStandardOutput();
            QVERIFY2(p.exitCode() == 0, qPrintable(out + p.readAllStandardError()));
        }
        // mbpoll's "[n]: value" lines, or the script's "n: value" lines.
        const QRegularExpression value(R"(^\[?\d+\]?:\s+(-?\d+)\s*$)",
                                       QRegularExpression::MultilineOption);
        QList<int> v;
        for (auto it = value.globalMatch(out); it.hasNext();)
            v.append(it.next().captured(1).toInt());
        QCOMPARE(v.size(), 36);
        QCOMPARE(v.mid(13, 5), (QList<int>{100, 900, 15000, 1, 0}));
        QCOMPARE(v[1], 1260); // a full 3S pack, load off
        QCOMPARE(v.mid(31, 5), (QList<int>{300, 900, 5000, 1, 1}));
        QCOMPARE(v[18], 300); // the load draws its 3 A
        program.terminate();
        QVERIFY(program.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(SimTest)
#include "test_sim.moc"
