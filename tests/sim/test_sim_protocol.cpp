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

// Distinct register values, so that a misplaced one shows; the baud-rate
// code keeps the line at 9600.
std::uint16_t valueOf(int n) { return n == 16 ? 1 : std::uint16_t(0x0101 * n + 0x10); }

// The read reply of registers start.. as filled by Rig::fill.
Bytes block(int start, int count)
{
    Bytes reply = {0x01, 0x03, std::uint8_t(2 * count)};
    for (int n = start; n < start + count; ++n)
        reply.insert(reply.end(), {std::uint8_t(valueOf(n) >> 8), std::uint8_t(valueOf(n))});
    return reply;
}

// A running simulator with the line opened by a test master. The model is
// stopped so that registers hold what the test puts there.
struct Rig {
    explicit Rig(sim::Options o = frozen()) : sim(o)
    {
        const auto started = sim.start();
        ok = std::holds_alternative<std::string>(started) &&
             line.open(std::get<std::string>(started), o.baud);
        for (int n = 0; n < 18; ++n)
            sim.setReg(n, valueOf(n));
    }
    static sim::Options frozen()
    {
        sim::Options o;
        o.model.running = false;
        return o;
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

void row(const char* name, const Bytes& request, const Bytes& reply, QList<int> changes = {})
{
    QTest::newRow(name) << request << reply << changes;
}

} // namespace

class SimProtocolTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<Bytes>("request");      // before the CRC
        QTest::addColumn<Bytes>("reply");        // before the CRC
        QTest::addColumn<QList<int>>("changes"); // register, value, register, value ...
        row("read 0..17", {1, 3, 0, 0, 0, 18}, block(0, 18));
        row("read 17", {1, 3, 0, 17, 0, 1}, block(17, 1));
        row("read 3..10", {1, 3, 0, 3, 0, 8}, block(3, 8));
        row("write current", {1, 6, 0, 13, 1, 44}, {1, 6, 0, 13, 1, 44}, {13, 300});
        row("write cut-off", {1, 6, 0, 14, 0x27, 0x0F}, {1, 6, 0, 14, 0x27, 0x0F}, {14, 9999});
        // Switching on acknowledges the last protection trip.
        row("write load on", {1, 6, 0, 17, 0, 1}, {1, 6, 0, 17, 0, 1}, {17, 1, 9, 0});
        row("clear data", {1, 6, 0, 18, 0, 1}, {1, 6, 0, 18, 0, 1},
            {3, 0, 4, 0, 5, 0, 6, 0, 10, 0, 11, 0, 12, 0});
        row("write presets", {1, 0x10, 0, 13, 0, 5, 10, 0, 200, 0, 150, 0x27, 0x10, 0, 1, 0, 0},
            {1, 0x10, 0, 13, 0, 5}, {13, 200, 14, 150, 15, 10000, 16, 1, 17, 0});
        row("read past 17", {1, 3, 0, 17, 0, 2}, {1, 0x83, 2});
        row("read 18", {1, 3, 0, 18, 0, 1}, {1, 0x83, 2});
        row("read none", {1, 3, 0, 0, 0, 0}, {1, 0x83, 3});
        row("read 126", {1, 3, 0, 0, 0, 126}, {1, 0x83, 3});
        row("read too short", {1, 3, 0, 0, 0}, {1, 0x83, 3});
        row("function 04", {1, 4, 0, 0, 0, 1}, {1, 0x84, 1});
        row("write a measured value", {1, 6, 0, 5, 0, 1}, {1, 0x86, 2});
        row("write register 19", {1, 6, 0, 19, 0, 1}, {1, 0x86, 2});
        row("current 10.01 A", {1, 6, 0, 13, 0x03, 0xE9}, {1, 0x86, 3});
        row("current 0", {1, 6, 0, 13, 0, 0}, {1, 0x86, 3});
        row("cut-off 0.99 V", {1, 6, 0, 14, 0, 99}, {1, 0x86, 3});
        row("power 150.01 W", {1, 6, 0, 15, 0x3A, 0x99}, {1, 0x86, 3});
        row("baud code 6", {1, 6, 0, 16, 0, 6}, {1, 0x86, 3});
        row("load 2", {1, 6, 0, 17, 0, 2}, {1, 0x86, 3});
        row("clear with 0", {1, 6, 0, 18, 0, 0}, {1, 0x86, 3});
        row("several over read-only", {1, 0x10, 0, 12, 0, 2, 4, 0, 0, 0, 100}, {1, 0x90, 2});
        row("several, byte count wrong", {1, 0x10, 0, 13, 0, 1, 4, 0, 100, 0, 0}, {1, 0x90, 3});
        row("several, one value bad", {1, 0x10, 0, 13, 0, 2, 4, 0, 100, 0, 50}, {1, 0x90, 3});
    }
    void answers()
    {
        QFETCH(Bytes, request);
        QFETCH(Bytes, reply);
        QFETCH(QList<int>, changes);
        Rig rig;
        QVERIFY(rig.ok);
        auto expected = rig.registers();
        for (qsizetype i = 0; i + 1 < changes.size(); i += 2)
            expected[std::size_t(changes[i])] = std::uint16_t(changes[i + 1]);

        QCOMPARE(rig.line.exchange(frame(request)), frame(reply));
        // A refused request changes nothing at all, a write only its registers.
        QCOMPARE(rig.registers(), expected);
        const auto log = rig.sim.requests();
        QCOMPARE(log.size(), std::size_t(1));
        QCOMPARE(log[0].bytes, frame(request));
        QVERIFY(log[0].answered);
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
        QCOMPARE(rig.line.exchange(kPoll1), frame(block(0, 18)));
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
        rig.line.send(kPoll1);
        QVERIFY(rig.line.receive(300ms).empty());
        QVERIFY(rig.line.setBaud(19200));
        QCOMPARE(rig.line.exchange(kPoll1).size(), std::size_t(41));
    }

    void joinsARequestInPieces()
    {
        auto o = Rig::frozen();
        o.frameGapMs = 150;
        Rig rig(o);
        QVERIFY(rig.ok);
        const Bytes head(kPoll1.begin(), kPoll1.begin() + 3),
            tail(kPoll1.begin() + 3, kPoll1.end());
        rig.line.send(head);
        std::this_thread::sleep_for(10ms);
        rig.line.send(tail);
        QCOMPARE(rig.line.receive().size(), std::size_t(41));
        QCOMPARE(rig.sim.requests().at(0).bytes, kPoll1);

        // A silence longer than the gap ends a frame: two halves, no reply.
        rig.line.send(head);
        std::this_thread::sleep_for(500ms);
        rig.line.send(tail);
        QVERIFY(rig.line.receive(400ms).empty());
        QVERIFY(rig.sim.waitForRequests(3, 2000ms));
        QCOMPARE(rig.sim.requests().at(1).bytes, head);
    }

    void injectsFaults_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Bytes>("reply");   // as it arrives; with CRC
        QTest::addColumn<int>("quietMs");   // silence that ends the reply
        QTest::addColumn<int>("atLeastMs"); // from the request to the last byte
        const Bytes normal = frame(block(0, 18));
        Bytes spoilt = normal, fromSeven = block(0, 18), cut = normal, padded = normal;
        spoilt[39] ^= 0xFF;
        spoilt[40] ^= 0xFF;
        fromSeven[0] = 7;
        cut.resize(38);
        padded.insert(padded.end(), {0, 0});
        QTest::newRow("late") << Fault::late(300) << normal << 80 << 250;
        QTest::newRow("silent") << Fault::silent() << Bytes{} << 80 << 0;
        QTest::newRow("wrong CRC") << Fault::wrongCrc() << spoilt << 80 << 0;
        QTest::newRow("other address") << Fault::otherAddress(7) << frame(fromSeven) << 80 << 0;
        QTest::newRow("bytes missing") << Fault::missingBytes(3) << cut << 80 << 0;
        QTest::newRow("bytes extra") << Fault::extraBytes(2) << padded << 80 << 0;
        QTest::newRow("three pieces") << Fault::split(3, 150) << normal << 500 << 250;
        QTest::newRow("exception") << Fault::exception(4) << frame({1, 0x83, 4}) << 80 << 0;
    }
    void injectsFaults()
    {
        QFETCH(Fault, fault);
        QFETCH(Bytes, reply);
        QFETCH(int, quietMs);
        QFETCH(int, atLeastMs);
        Rig rig;
        QVERIFY(rig.ok);
        rig.sim.failNext(fault);
        const auto sentAt = std::chrono::steady_clock::now();
        rig.line.send(kPoll1);
        QCOMPARE(rig.line.receive(700ms, std::chrono::milliseconds(quietMs)), reply);
        if (!reply.empty())
            QVERIFY(rig.line.lastAt - sentAt >= std::chrono::milliseconds(atLeastMs));
        // Only the next request: the one after it is answered properly.
        QCOMPARE(rig.line.exchange(kPoll1), frame(block(0, 18)));
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
        QCOMPARE(rig.line.exchange(frame({1, 6, 0, 13, 1, 44})), frame({1, 0x86, 4}));
        QCOMPARE(rig.sim.reg(13), valueOf(13));
    }

    void pacesRepliesAtTheLineSpeed()
    {
        auto o = Rig::frozen();
        o.baud = 4800;
        Rig rig(o);
        QVERIFY(rig.ok);
        rig.sim.setReg(16, 0);
        // 41 bytes of 10 bits at 4800 Bd: about 85 ms from first to last.
        QCOMPARE(rig.line.exchange(kPoll1).size(), std::size_t(41));
        QVERIFY(rig.line.lastAt - rig.line.firstAt >= 60ms);
    }

    void hangUpTakesTheLineAway()
    {
        QTemporaryDir dir;
        auto o = Rig::frozen();
        o.linkPath = QDir(dir.path()).filePath("com1").toStdString();
        const QString link = QString::fromStdString(o.linkPath);
        Rig rig(o);
        QVERIFY(rig.ok);
        const QString pts = QString::fromStdString(rig.sim.path());
        QCOMPARE(QFileInfo(link).symLinkTarget(), pts);

        rig.sim.hangUp();
        rig.line.receive(1000ms);
        QVERIFY(rig.line.hungUp);
        QVERIFY(!QFileInfo::exists(link));

        // Plugged back in: a new pty behind the same link, registers kept.
        const auto again = rig.sim.start();
        QVERIFY(std::holds_alternative<std::string>(again));
        QCOMPARE(QFileInfo(link).symLinkTarget(),
                 QString::fromStdString(std::get<std::string>(again)));
        LineEnd line;
        QVERIFY(line.open(o.linkPath));
        QCOMPARE(line.exchange(frame({1, 3, 0, 13, 0, 1})), frame(block(13, 1)));
    }
};

QTEST_GUILESS_MAIN(SimProtocolTest)
#include "test_sim_protocol.moc"
