// The pace of a watch: when the line carries the interval asked for, and the
// time of a poll as measured lately, which one slow reply does not move.

#include "cli/Pacing.h"

#include <QTest>

using namespace eload::cli;
using std::chrono::milliseconds;

class PacingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lineBound_data()
    {
        QTest::addColumn<int>("wanted");
        QTest::addColumn<int>("modules");
        QTest::addColumn<int>("baud");
        QTest::addColumn<double>("measured");
        QTest::addColumn<bool>("bound");
        QTest::addColumn<int>("interval");
        // 8 modules at 9600 Bd need about 478 ms of 500 (49 bytes, 3.5 characters, 5 ms each).
        QTest::newRow("eight fit") << 500 << 8 << 9600 << 0.0 << false << 500;
        QTest::newRow("nine do not") << 500 << 9 << 9600 << 0.0 << true << 538;
        QTest::newRow("first round slower") << 500 << 8 << 9600 << 612.3 << true << 613;
        QTest::newRow("as fast as possible") << 1 << 6 << 115200 << 0.0 << true << 58;
    }
    void lineBound()
    {
        QFETCH(int, wanted);
        QFETCH(int, modules);
        QFETCH(int, baud);
        QFETCH(double, measured);
        QFETCH(bool, bound);
        QFETCH(int, interval);
        const Pacing p = pacingFor(milliseconds(wanted), modules, baud, measured);
        QCOMPARE(p.lineBound, bound);
        QCOMPARE(int(p.interval.count()), interval);
        QCOMPARE(p.warning.has_value(), bound);
    }

    void pollTimes()
    {
        PollTimes t;
        QCOMPARE(t.typical(), 0.0);
        for (int i = 0; i < 10; ++i)
            t.add(50);
        t.add(2000); // one reply held up
        QCOMPARE(t.typical(), 50.0);
        for (int i = 0; i < PollTimes::kKept; ++i)
            t.add(80); // the line has slowed down for good
        QCOMPARE(t.typical(), 80.0);
    }
};

QTEST_GUILESS_MAIN(PacingTest)
#include "test_pacing.moc"
