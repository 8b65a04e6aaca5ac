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
Q_DECLARE_METATYPE(sim::Fault)

namespace {

QByteArray withCrc(const QByteArray& hex)
{
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

struct Rig {
    // `fixed`: the model stopped, the registers at valueOf.
    explicit Rig(sim::Options o = {}, bool fixed = true) : sim((o.model.running = !fixed, o))
    {
        sim.start();
        port.setPortName(QString::fromStdString(sim.path()));
        ok = port.open(QIODevice::ReadWrite) && port.setBaudRate(o.baud);
        for (int n = 0; n < 18 && fixed; ++n)
            sim.setReg(n, valueOf(n));
    }
    // All that arrives until 80 ms pass without a byte; nothing if the first takes `firstMs`.
    QByteArray exchange(const QByteArray& request, int firstMs = 1000)
    {
        sent.start();
        port.write(request);
        QByteArray got;
        for (int wait = firstMs; port.waitForReadyRead(wait); wait = 80) {
            got += port.readAll();
            lastByteMs = sent.elapsed();
        }
        return got;
    }
    QByteArray ask(const char* hex, int firstMs = 1000) { return exchange(withCrc(hex), firstMs); }
    sim::Simulator sim;
    QSerialPort port;
    QElapsedTimer sent;
    qint64 lastByteMs = 0; // from the request sent to the last byte of the reply
    bool ok = false;
};

using Changes = QMap<int, int>; // register: value

void row(const char* name, const char* request, const QByteArray& reply, Changes changes = {})
{
    QTest::newRow(name) << withCrc(request) << withCrc(reply) << changes;
}

QByteArray readOne(int address, int n)
{
    return withCrc(QString::asprintf("%02x0300%02x0001", address, n).toLatin1());
}
QByteArray oneValue(int address, int value)
{
    return withCrc(QString::asprintf("%02x0302%04x", address, value).toLatin1());
}

// Modules 1, 2 and 3: a full, a half and a nearly empty pack, running 600 times faster.
sim::Options threeModules()
{
    sim::Options o;
    o.speed = 600;
    for (double charge : {1.0, 0.5, 0.1})
        o.modules.push_back({std::uint8_t(o.modules.size() + 1), {.stateOfCharge = charge}});
    return o;
}

const char* const kPymodbus = R"(
from pymodbus.client import ModbusSerialClient
c = ModbusSerialClient(port="%1", baudrate=9600, timeout=2)
for reply in (c.read_holding_registers(0, 18, slave=1),
              c.write_registers(13, [300, 900, 5000, 1, 1], slave=1),
              c.read_holding_registers(0, 18, slave=1)):
    assert not reply.isError(), str(reply)
    for n, v in enumerate(getattr(reply, "registers", [])): print(f"[{n}]: {v}")
)";

} // namespace

class SimTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<Changes>("changes");
        row("read 3..10", "010300030008", block(3, 8));
        row("write current", "0106000d012c", "0106000d012c", {{13, 300}});
        row("load on acknowledges a trip", "010600110001", "010600110001", {{17, 1}, {9, 0}});
        row("clear data", "010600120001", "010600120001",
            {{3, 0}, {4, 0}, {5, 0}, {6, 0}, {10, 0}, {11, 0}, {12, 0}});
        row("write presets", "0110000d00050a00c8009627100001 0000", "0110000d0005",
            {{13, 200}, {14, 150}, {15, 10000}, {16, 1}, {17, 0}});
        row("read past 17", "010300110002", "018302");
        row("read none", "010300000000", "018303");
        row("function 04", "010400000001", "018401");
        row("write a measured value", "010600050001", "018602");
        row("current 10.01 A", "0106000d03e9", "018603");
        row("several, one value bad", "0110000d00020400640032", "019003");
    }
    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(Changes, changes);
        Rig rig;
        QVERIFY(rig.ok);
        QCOMPARE(rig.exchange(request), reply);
        for (int n = 0; n < 18; ++n) // a refused request changes nothing
            QCOMPARE(int(rig.sim.reg(n)), changes.value(n, valueOf(n)));
    }

    void oneOffFaultBadCrcAddressAndBaudInTurn()
    {
        Rig rig;
        QVERIFY(rig.ok);
        rig.sim.failNext(sim::Fault::exception(4));
        QCOMPARE(rig.ask("0106000d012c"), withCrc("018604"));
        QCOMPARE(int(rig.sim.reg(13)), int(valueOf(13)));
        QCOMPARE(rig.exchange(kPoll.chopped(1).append('\xc6'), 300), QByteArray()); // bad CRC
        QCOMPARE(rig.ask("000600000005"), withCrc("000600000005"));                 // broadcast
        QCOMPARE(rig.ask("010300000012", 300), QByteArray());
        QCOMPARE(rig.ask("050300000012"), withCrc(block(0, 18, 5)));
        QCOMPARE(rig.ask("050600100005"), withCrc("050600100005"));
        QVERIFY(rig.lastByteMs >= 10); // 8 bytes at 9600 Bd after a 5 ms gap: 13 ms at least
        QCOMPARE(rig.ask("050300000012", 300), QByteArray());
        QVERIFY(rig.port.setBaudRate(115200));
        QCOMPARE(rig.ask("050300000012").size(), 41);
    }

    void joinsARequestInPieces()
    {
        Rig rig(sim::Options{.linkPath = {}, .frameGapMs = 150, .model = {}, .modules = {}});
        QVERIFY(rig.ok);
        const QByteArray head = kPoll.left(3), tail = kPoll.mid(3);
        rig.exchange(head, 10);
        QCOMPARE(rig.exchange(tail), withCrc(block(0, 18)));
        // A silence longer than the gap ends a frame: two halves, no reply.
        rig.exchange(head, 500);
        QCOMPARE(rig.exchange(tail, 400), QByteArray());
        QCOMPARE(rig.sim.requests().at(1).bytes, sim::Bytes(head.begin(), head.end()));
    }

    // A fault on module 2 leaves modules 1 and 3 answering.
    void faultOnOneModule_data()
    {
        QTest::addColumn<sim::Fault>("fault");
        QTest::addColumn<QByteArray>("reply"); // module 2's, to reading register 13
        QTest::newRow("none") << sim::Fault::late(0) << oneValue(2, 100);
        QTest::newRow("silent") << sim::Fault::silent() << QByteArray();
        QByteArray spoilt = oneValue(2, 100);
        spoilt[5] = char(~spoilt[5]), spoilt[6] = char(~spoilt[6]);
        QTest::newRow("wrong CRC") << sim::Fault::wrongCrc() << spoilt;
        QTest::newRow("exception") << sim::Fault::exception(4) << withCrc("028304");
    }
    void faultOnOneModule()
    {
        QFETCH(sim::Fault, fault);
        QFETCH(QByteArray, reply);
        Rig rig(threeModules(), false);
        QVERIFY(rig.ok);
        rig.sim.module(2)->failAlways(fault);
        for (int a : {1, 2, 3})
            QCOMPARE(rig.exchange(readOne(a, 13), 300), a == 2 ? reply : oneValue(a, 100));
    }

    void threeModulesOwnStateLoadAndBroadcast()
    {
        Rig rig(threeModules(), false);
        QVERIFY(rig.ok);
        const auto modules = rig.sim.modules();
        for (int a : {1, 2, 3})
            QCOMPARE(rig.exchange(readOne(a, 1)), oneValue(a, modules[a - 1].reg(1)));
        QVERIFY(modules[0].reg(1) > modules[1].reg(1) && modules[1].reg(1) > modules[2].reg(1));
        QCOMPARE(rig.exchange(readOne(4, 1), 300), QByteArray());
        QCOMPARE(rig.ask("020600110001"), withCrc("020600110001"));
        QTest::qWait(500);            // 5 model minutes at 1 A
        for (const auto& m : modules) // capacity counts in module 2 only
            QCOMPARE(m.reg(4) > 0, m.address() == 2);
        // Every module takes the new address; their same echoes arrive as one.
        QCOMPARE(rig.ask("000600000007"), withCrc("000600000007"));
        QCOMPARE(rig.ask("070600110000"), withCrc("070600110000"));
        QByteArray overlap(7, '\xff'); // different replies: the wire's AND of them
        for (const auto& m : modules) {
            QCOMPARE(int(m.address()), 7);
            const QByteArray own = oneValue(7, m.reg(1));
            for (int i = 0; i < 7; ++i)
                overlap[i] = char(overlap[i] & own[i]);
        }
        QCOMPARE(rig.ask("070300010001"), overlap);
    }

    void undervoltageSwitchesOff()
    {
        sim::Module m(sim::ModelParameters{.stateOfCharge = 0.02}, 1, 1); // half a minute at 2 A
        m.write(13, 200);
        m.write(17, 1);
        int seconds = 0;
        while (seconds++ < 600 && m.reg(17) == 1)
            m.advance(1);
        QCOMPARE((QList<int>{m.reg(9), m.reg(17), m.reg(0)}), (QList<int>{1, 0, 0})); // UVLO, off
        QVERIFY(seconds > 10); // ran until the pack was spent, not at once
    }

    // Masters sharing nothing with this project read 0..17, write 13..17, read again.
    void independentMasters_data()
    {
        QTest::addColumn<QString>("master");
        QTest::addColumn<QStringList>("modules"); // the full pack is the one asked
        QTest::addColumn<QString>("slave");
        QTest::newRow("mbpoll, module 3 of 4,2,3")
            << QStandardPaths::findExecutable("mbpoll")
            << QStringList{"--address", "4,2-3", "--soc", "0.5,0.5,1"} << "3";
        QTest::newRow("pymodbus") << QStringLiteral("/usr/bin/python3") << QStringList() << "1";
    }
    void independentMasters()
    {
        QFETCH(QString, master);
        QFETCH(QStringList, modules);
        QFETCH(QString, slave);
        const bool python = master.endsWith("python3");
        if (python ? QProcess::execute(master, {"-c", "import pymodbus.client"}) : master.isEmpty())
            QSKIP("missing: Debian package mbpoll, or python3-pymodbus and python3-serial-asyncio");

        QTemporaryDir dir;
        const QString link = dir.filePath("com1");
        QProcess program, p;
        program.start(ELOAD_SIM_PROGRAM, QStringList{"--link", link} + modules);
        QVERIFY(program.waitForReadyRead(5000));
        const QStringList line =
            QString("-m rtu -b 9600 -P none -0 -1 -o 2 -a %1 -r").arg(slave).split(' ');
        const QStringList read = line + QStringList{"0", "-c", "18", link};
        const QStringList write = line + QStringList{"13", link, "300", "900", "5000", "1", "1"};
        const auto steps = python ? QList<QStringList>{{"-c", QString(kPymodbus).arg(link)}}
                                  : QList<QStringList>{read, write, read};
        QString out;
        for (const QStringList& args : steps) {
            p.start(master, args);
            QVERIFY(p.waitForFinished(20000));
            out += p.readAllStandardOutput();
            QVERIFY2(p.exitCode() == 0, qPrintable(out + p.readAllStandardError()));
        }
        const QRegularExpression value(R"(\[\d+\]:\s+(-?\d+))"); // as mbpoll shows them
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
