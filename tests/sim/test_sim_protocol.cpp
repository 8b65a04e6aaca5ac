// The simulator as the panel meets it: requests written on the pty, replies
// read back, registers checked through the library.

#include "LineEnd.h"

#include "sim/Simulator.h"
#include "sim/Slave.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace eload;
using namespace eload::test;
using sim::Fault;

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(Fault)

namespace {

// The poll exactly as the documentation of the module quotes it.
const Bytes kPoll1 = {0x01, 0x03, 0x00, 0x00, 0x00, 0x12, 0xC5, 0xC7};

// A running simulator with the line opened by a test master. The model is
// stopped so that registers hold what the test puts there.
struct Rig {
    explicit Rig(sim::Options o = frozen()) : sim(o)
    {
        const auto started = sim.start();
        ok = std::holds_alternative<std::string>(started) &&
             line.open(std::get<std::string>(started), o.baud);
    }
    static sim::Options frozen()
    {
        sim::Options o;
        o.model.running = false;
        return o;
    }
    // Distinct values in registers 0..17, so a misplaced one shows.
    void fillRegisters()
    {
        for (int n = 0; n < 18; ++n)
            sim.setReg(n, std::uint16_t(0x0101 * n + 0x10));
    }
    Bytes readReply(int start, int count) const
    {
        Bytes reply = {0x01, 0x03, std::uint8_t(2 * count)};
        for (int n = start; n < start + count; ++n) {
            reply.push_back(std::uint8_t(sim.reg(n) >> 8));
            reply.push_back(std::uint8_t(sim.reg(n) & 0xFF));
        }
        return frame(reply);
    }
    std::vector<std::uint16_t> registers() const
    {
        std::vector<std::uint16_t> r;
        for (int n = 0; n < 18; ++n)
            r.push_back(sim.reg(n));
        return r;
    }

    sim::Simulator sim;
    LineEnd line;
    bool ok = false;
};

} // namespace

class SimProtocolTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<Bytes>("request");      // before the CRC
        QTest::addColumn<Bytes>("reply");        // before the CRC
        QTest::addColumn<QList<int>>("changes"); // register, value, register, value ...

        QTest::newRow("write current 3 A") << Bytes{1, 6, 0, 13, 0x01, 0x2C}
                                           << Bytes{1, 6, 0, 13, 0x01, 0x2C} << QList<int>{13, 300};
        QTest::newRow("write cut-off 99.99 V")
            << Bytes{1, 6, 0, 14, 0x27, 0x0F} << Bytes{1, 6, 0, 14, 0x27, 0x0F}
            << QList<int>{14, 9999};
        // Switching on acknowledges the last protection trip.
        QTest::newRow("write load on")
            << Bytes{1, 6, 0, 17, 0, 1} << Bytes{1, 6, 0, 17, 0, 1} << QList<int>{17, 1, 9, 0};
        QTest::newRow("write presets at once")
            << Bytes{1, 0x10, 0, 13, 0, 5, 10, 0, 200, 0, 150, 0x27, 0x10, 0, 1, 0, 0}
            << Bytes{1, 0x10, 0, 13, 0, 5} << QList<int>{13, 200, 14, 150, 15, 10000, 16, 1, 17, 0};

        QTest::newRow("read past 17")
            << Bytes{1, 3, 0, 17, 0, 2} << Bytes{1, 0x83, 2} << QList<int>{};
        QTest::newRow("read 18") << Bytes{1, 3, 0, 18, 0, 1} << Bytes{1, 0x83, 2} << QList<int>{};
        QTest::newRow("read none") << Bytes{1, 3, 0, 0, 0, 0} << Bytes{1, 0x83, 3} << QList<int>{};
        QTest::newRow("read 126") << Bytes{1, 3, 0, 0, 0, 126} << Bytes{1, 0x83, 3} << QList<int>{};
        QTest::newRow("read too short")
            << Bytes{1, 3, 0, 0, 0} << Bytes{1, 0x83, 3} << QList<int>{};
        QTest::newRow("function 04")
            << Bytes{1, 4, 0, 0, 0, 1} << Bytes{1, 0x84, 1} << QList<int>{};
        QTest::newRow("write measured value")
            << Bytes{1, 6, 0, 5, 0, 1} << Bytes{1, 0x86, 2} << QList<int>{};
        QTest::newRow("write register 19")
            << Bytes{1, 6, 0, 19, 0, 1} << Bytes{1, 0x86, 2} << QList<int>{};
        QTest::newRow("current 10.01 A")
            << Bytes{1, 6, 0, 13, 0x03, 0xE9} << Bytes{1, 0x86, 3} << QList<int>{};
        QTest::newRow("current 0") << Bytes{1, 6, 0, 13, 0, 0} << Bytes{1, 0x86, 3} << QList<int>{};
        QTest::newRow("cut-off 0.99 V")
            << Bytes{1, 6, 0, 14, 0, 99} << Bytes{1, 0x86, 3} << QList<int>{};
        QTest::newRow("power 150.01 W")
            << Bytes{1, 6, 0, 15, 0x3A, 0x99} << Bytes{1, 0x86, 3} << QList<int>{};
        QTest::newRow("baud code 6")
            << Bytes{1, 6, 0, 16, 0, 6} << Bytes{1, 0x86, 3} << QList<int>{};
        QTest::newRow("load 2") << Bytes{1, 6, 0, 17, 0, 2} << Bytes{1, 0x86, 3} << QList<int>{};
        QTest::newRow("clear with 0")
            << Bytes{1, 6, 0, 18, 0, 0} << Bytes{1, 0x86, 3} << QList<int>{};
        QTest::newRow("several over read-only")
            << Bytes{1, 0x10, 0, 12, 0, 2, 4, 0, 0, 0, 100} << Bytes{1, 0x90, 2} << QList<int>{};
        QTest::newRow("several, byte count wrong")
            << Bytes{1, 0x10, 0, 13, 0, 1, 4, 0, 100, 0, 0} << Bytes{1, 0x90, 3} << QList<int>{};
        QTest::newRow("several, second value bad")
            << Bytes{1, 0x10, 0, 13, 0, 2, 4, 0, 100, 0, 50} << Bytes{1, 0x90, 3} << QList<int>{};
    }
    void answers()
    {
        QFETCH(Bytes, request);
        QFETCH(Bytes, reply);
        QFETCH(QList<int>, changes);
        Rig rig;
        QVERIFY(rig.ok);
        rig.fillRegisters();
        auto expected = rig.registers();
        for (qsizetype i = 0; i + 1 < changes.size(); i += 2)
            expected[std::size_t(changes[i])] = std::uint16_t(changes[i + 1]);

        QCOMPARE(rig.line.exchange(frame(request)), frame(reply));
        // A refused request changes nothing at all, a write only its register.
        QCOMPARE(rig.registers(), expected);
        const auto log = rig.sim.requests();
        QCOMPARE(log.size(), std::size_t(1));
        QCOMPARE(log[0].bytes, frame(request));
        QVERIFY(log[0].answered);
    }

    void readsAnyBlockInsideTheMap_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::newRow("0..17") << 0 << 18;
        QTest::newRow("17") << 17 << 1;
        QTest::newRow("3..10") << 3 << 8;
    }
    void readsAnyBlockInsideTheMap()
    {
        QFETCH(int, start);
        QFETCH(int, count);
        Rig rig;
        QVERIFY(rig.ok);
        rig.fillRegisters();
        const Bytes request = frame({1, 3, 0, std::uint8_t(start), 0, std::uint8_t(count)});
        QCOMPARE(rig.line.exchange(request), rig.readReply(start, count));
    }

    void answersTheQuotedPoll()
    {
        Rig rig;
        QVERIFY(rig.ok);
        rig.fillRegisters();
        QCOMPARE(frame({1, 3, 0, 0, 0, 0x12}), kPoll1); // the shared CRC agrees with the book
        const Bytes reply = rig.line.exchange(kPoll1);
        QCOMPARE(reply.size(), std::size_t(41));
        QCOMPARE(reply, rig.readReply(0, 18));
    }

    void ignoresWhatIsNotForIt_data()
    {
        QTest::addColumn<Bytes>("request");
        QTest::addColumn<int>("baud");
        Bytes badCrc = kPoll1;
        badCrc.back() ^= 0x01;
        QTest::newRow("bad CRC") << badCrc << 9600;
        QTest::newRow("other address") << frame({2, 3, 0, 0, 0, 0x12}) << 9600;
        QTest::newRow("too short") << Bytes{1, 3} << 9600;
        QTest::newRow("line at 19200") << kPoll1 << 19200;
        QTest::newRow("line at 4800") << kPoll1 << 4800;
    }
    void ignoresWhatIsNotForIt()
    {
        QFETCH(Bytes, request);
        QFETCH(int, baud);
        Rig rig;
        QVERIFY(rig.ok);
        QVERIFY(rig.line.setBaud(baud));
        rig.line.send(request);
        QVERIFY(rig.line.receive(300ms).empty());
        QVERIFY(rig.sim.waitForRequests(1, 2000ms));
        QVERIFY(!rig.sim.requests()[0].answered);
        // Not stuck: the next sound request on a sound line is answered.
        QVERIFY(rig.line.setBaud(9600));
        QCOMPARE(rig.line.exchange(kPoll1).size(), std::size_t(41));
    }

    void broadcastChangesTheAddress_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("echoed") << false;
        QTest::newRow("silent") << true;
    }
    void broadcastChangesTheAddress()
    {
        QFETCH(bool, silent);
        auto o = Rig::frozen();
        o.broadcastSilent = silent;
        Rig rig(o);
        QVERIFY(rig.ok);
        const Bytes change = {0x00, 0x06, 0x00, 0x00, 0x00, 0x05, 0x48, 0x18};
        rig.line.send(change);
        QCOMPARE(rig.line.receive(silent ? 300ms : 1000ms), silent ? Bytes{} : change);
        QCOMPARE(rig.sim.address(), std::uint8_t(5));
        rig.line.send(kPoll1);
        QVERIFY(rig.line.receive(300ms).empty());
        const Bytes reply = rig.line.exchange(frame({5, 3, 0, 0, 0, 0x12}));
        QCOMPARE(reply.size(), std::size_t(41));
        QCOMPARE(reply[0], std::uint8_t(5));
    }

    void baudChangeHoldsAfterItsReply()
    {
        Rig rig;
        QVERIFY(rig.ok);
        const Bytes to19200 = frame({1, 6, 0, 16, 0, 2});
        QCOMPARE(rig.line.exchange(to19200), to19200); // still answered at 9600
        QCOMPARE(rig.sim.baud(), 19200);
        rig.line.send(kPoll1);
        QVERIFY(rig.line.receive(300ms).empty());
        QVERIFY(rig.line.setBaud(19200));
        QCOMPARE(rig.line.exchange(kPoll1).size(), std::size_t(41));
    }

    void clearDataZeroesTheCounters()
    {
        Rig rig;
        QVERIFY(rig.ok);
        rig.fillRegisters();
        auto expected = rig.registers();
        for (int n : {3, 4, 5, 6, 10, 11, 12})
            expected[std::size_t(n)] = 0;
        const Bytes clear = {0x01, 0x06, 0x00, 0x12, 0x00, 0x01, 0xE8, 0x0F};
        QCOMPARE(rig.line.exchange(clear), clear);
        QCOMPARE(rig.registers(), expected);
    }

    void joinsARequestInPieces()
    {
        auto o = Rig::frozen();
        o.frameGapMs = 150;
        Rig rig(o);
        QVERIFY(rig.ok);
        rig.line.send(Bytes(kPoll1.begin(), kPoll1.begin() + 3));
        std::this_thread::sleep_for(10ms);
        rig.line.send(Bytes(kPoll1.begin() + 3, kPoll1.end()));
        QCOMPARE(rig.line.receive().size(), std::size_t(41));
        QCOMPARE(rig.sim.requests().size(), std::size_t(1));
        QCOMPARE(rig.sim.requests()[0].bytes, kPoll1);

        // A silence longer than the gap ends a frame: two halves, no reply.
        rig.sim.clearRequests();
        rig.line.send(Bytes(kPoll1.begin(), kPoll1.begin() + 3));
        std::this_thread::sleep_for(500ms);
        rig.line.send(Bytes(kPoll1.begin() + 3, kPoll1.end()));
        QVERIFY(rig.line.receive(400ms).empty());
        QVERIFY(rig.sim.waitForRequests(2, 2000ms));
        QCOMPARE(rig.sim.requests()[0].bytes.size(), std::size_t(3));
    }

    void injectsFaults_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("size");      // of the reply as it arrives, 0: none
        QTest::addColumn<bool>("sound");    // a proper reply from address 1
        QTest::addColumn<int>("quietMs");   // silence that ends the reply
        QTest::addColumn<int>("atLeastMs"); // from the request to the last byte
        QTest::newRow("late") << Fault::late(300) << 41 << true << 80 << 250;
        QTest::newRow("silent") << Fault::silent() << 0 << false << 80 << 0;
        QTest::newRow("wrong CRC") << Fault::wrongCrc() << 41 << false << 80 << 0;
        QTest::newRow("other address") << Fault::otherAddress(7) << 41 << false << 80 << 0;
        QTest::newRow("bytes missing") << Fault::missingBytes(3) << 38 << false << 80 << 0;
        QTest::newRow("bytes extra") << Fault::extraBytes(2) << 43 << false << 80 << 0;
        QTest::newRow("three pieces") << Fault::split(3, 150) << 41 << true << 500 << 250;
        QTest::newRow("exception") << Fault::exception(4) << 5 << false << 80 << 0;
    }
    void injectsFaults()
    {
        QFETCH(Fault, fault);
        QFETCH(int, size);
        QFETCH(bool, sound);
        QFETCH(int, quietMs);
        QFETCH(int, atLeastMs);
        Rig rig;
        QVERIFY(rig.ok);
        rig.fillRegisters();
        const Bytes normal = rig.readReply(0, 18);

        rig.sim.failNext(fault);
        const auto sentAt = std::chrono::steady_clock::now();
        rig.line.send(kPoll1);
        const Bytes got = rig.line.receive(700ms, std::chrono::milliseconds(quietMs));
        QCOMPARE(got.size(), std::size_t(size));
        QCOMPARE(got == normal, sound);
        if (size > 0) QVERIFY(rig.line.lastAt - sentAt >= std::chrono::milliseconds(atLeastMs));
        if (fault.kind == Fault::Kind::OtherAddress) {
            QCOMPARE(got[0], std::uint8_t(7));
            QVERIFY(sim::crcValid(got));
        }
        if (fault.kind == Fault::Kind::WrongCrc) {
            QVERIFY(!sim::crcValid(got));
            QVERIFY(std::equal(got.begin(), got.end() - 2, normal.begin()));
        }
        // Only the next request: the one after it is answered properly.
        QCOMPARE(rig.line.exchange(kPoll1), normal);
    }

    void faultsFromNowOnHoldUntilCleared()
    {
        Rig rig;
        QVERIFY(rig.ok);
        rig.sim.failAlways(Fault::silent());
        for (int i = 0; i < 2; ++i) {
            rig.line.send(kPoll1);
            QVERIFY(rig.line.receive(300ms).empty());
        }
        rig.sim.clearFaults();
        QCOMPARE(rig.line.exchange(kPoll1).size(), std::size_t(41));

        // An exception fault refuses: the write is not carried out.
        rig.sim.failNext(Fault::exception(4));
        QCOMPARE(rig.line.exchange(frame({1, 6, 0, 13, 0x01, 0x2C})), frame({1, 0x86, 4}));
        QCOMPARE(rig.sim.reg(13), std::uint16_t(100));
    }

    void pacesRepliesAtTheLineSpeed()
    {
        auto o = Rig::frozen();
        o.baud = 4800;
        Rig rig(o);
        QVERIFY(rig.ok);
        // 41 bytes of 10 bits at 4800 Bd: about 85 ms from first to last.
        QCOMPARE(rig.line.exchange(kPoll1).size(), std::size_t(41));
        QVERIFY(rig.line.lastAt - rig.line.firstAt >= 60ms);
    }

    void hangUpTakesTheLineAway()
    {
        QTemporaryDir dir;
        auto o = Rig::frozen();
        o.linkPath = QDir(dir.path()).filePath("com1").toStdString();
        Rig rig(o);
        QVERIFY(rig.ok);
        rig.sim.setReg(13, 555);
        QVERIFY(QFileInfo(QString::fromStdString(o.linkPath)).isSymLink());

        rig.sim.hangUp();
        QVERIFY(!rig.sim.running());
        rig.line.receive(1000ms);
        QVERIFY(rig.line.hungUp);
        QVERIFY(!QFileInfo::exists(QString::fromStdString(o.linkPath)));

        // Plugged back in: a new pty behind the same link, registers kept.
        const auto again = rig.sim.start();
        QVERIFY(std::holds_alternative<std::string>(again));
        QCOMPARE(QFileInfo(QString::fromStdString(o.linkPath)).symLinkTarget(),
                 QString::fromStdString(std::get<std::string>(again)));
        LineEnd line;
        QVERIFY(line.open(o.linkPath));
        const Bytes reply = line.exchange(frame({1, 3, 0, 13, 0, 1}));
        QCOMPARE(reply, frame({1, 3, 2, 0x02, 0x2B}));
    }

    void refusesBadOptions_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("link");
        QTest::newRow("baud 1234") << 1234 << 1 << QString();
        QTest::newRow("address 0") << 9600 << 0 << QString();
        QTest::newRow("link on a file") << 9600 << 1 << QStringLiteral("file");
    }
    void refusesBadOptions()
    {
        QFETCH(int, baud);
        QFETCH(int, address);
        QFETCH(QString, link);
        QTemporaryDir dir;
        sim::Options o;
        o.baud = baud;
        o.address = std::uint8_t(address);
        if (!link.isEmpty()) {
            o.linkPath = QDir(dir.path()).filePath(link).toStdString();
            QFile file(QString::fromStdString(o.linkPath));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        sim::Simulator simulator(o);
        const auto started = simulator.start();
        QVERIFY(std::holds_alternative<sim::SimError>(started));
        QVERIFY(!std::get<sim::SimError>(started).message.empty());
        QVERIFY(!simulator.running());
        if (!link.isEmpty()) QVERIFY(QFileInfo(QString::fromStdString(o.linkPath)).isFile());
    }
};

QTEST_GUILESS_MAIN(SimProtocolTest)
#include "test_sim_protocol.moc"
