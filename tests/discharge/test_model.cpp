// The model of a test: each discharge's own figures against hand-computed
// differences of the module's counts, a count that falls but not to zero,
// silence that is a gap and silence that ends, counts that do not fit what
// was polled, and a recording that starts in the middle of the counts.

#include "discharge/TestModel.h"

#include <QTest>

using namespace eload::discharge;

namespace {

// A module discharging at `amps` from a battery at `volts`: counts in the
// module's steps (1 mA·h, 1 mW·h, 1 s), one reply every half second of PC
// time, the module's clock running only while the load is on.
struct Module {
    double amps = 1.0, volts = 12.0;
    qint64 wallMsecs = 1'700'000'000'000, steadyMsecs = 5'000;
    double exactAh = 0, exactWh = 0, exactSeconds = 0;
    bool on = false;
    std::uint16_t protection = 0;

    Sample reply()
    {
        Sample s;
        s.msecs = wallMsecs;
        s.monotonicMsecs = steadyMsecs;
        s.loadOn = on;
        s.voltage = float(on ? volts : volts + 0.4);
        s.current = float(on ? amps : 0);
        s.power = s.voltage * s.current;
        s.capacityAh = std::floor(exactAh * 1000) / 1000;
        s.energyWh = std::floor(exactWh * 1000) / 1000;
        s.dischargeSeconds = int(exactSeconds);
        s.protection = protection;
        s.temperatureC = 30;
        return s;
    }
    // Half a second later (the module's time runs `speed` times as fast).
    void advance(double speed = 1)
    {
        wallMsecs += 500;
        steadyMsecs += 500;
        if (!on) return;
        const double seconds = 0.5 * speed;
        exactSeconds += seconds;
        exactAh += amps * seconds / 3600;
        exactWh += amps * volts * seconds / 3600;
    }
    void clear() { exactAh = exactWh = exactSeconds = 0; }
};

// Replies for `seconds` of PC time into the model; the changes it reported.
QString run(TestModel& model, Module& m, double seconds, double speed = 1)
{
    QString changes;
    for (int i = 0; i < int(seconds * 2); ++i) {
        m.advance(speed);
        const TestModel::Change c = model.take(m.reply());
        changes += c == TestModel::Change::Started ? u'S'
                   : c == TestModel::Change::Ended ? u'E'
                                                   : u'.';
    }
    return changes;
}

QString ah(double v) { return QString::number(v, 'f', 3); }

} // namespace

class TestModelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // At 60× (the demo's speed): on 20 s, off, on 20 s without clearing the
    // module. The second discharge's figures are its own part, and so are its
    // means; the first reply of each measures from the reply before it.
    void repeatedDischargeWithoutClear()
    {
        TestModel model;
        Module m;
        m.amps = 1.0;
        model.take(m.reply()); // idle at start
        m.on = true;
        run(model, m, 20, 60);
        const double firstAh = m.reply().capacityAh, firstWh = m.reply().energyWh;
        const int firstSeconds = m.reply().dischargeSeconds;
        m.on = false;
        run(model, m, 3, 60);
        QVERIFY(!model.running());
        QCOMPARE(model.summary().end, EndReason::LoadOff);
        QCOMPARE(ah(model.summary().capacityAh), ah(firstAh));

        m.on = true;
        QCOMPARE(run(model, m, 20, 60).left(1), QStringLiteral("S"));
        const Sample last = m.reply();
        const Summary s = model.summary();
        QVERIFY(model.previous());
        QCOMPARE(ah(model.previous()->capacityAh), ah(firstAh));
        QCOMPARE(ah(s.capacityAh), ah(last.capacityAh - firstAh));
        QCOMPARE(ah(s.energyWh), ah(last.energyWh - firstWh));
        QCOMPARE(s.durationSeconds, double(last.dischargeSeconds - firstSeconds));
        QCOMPARE(s.baseCapacityAh, firstAh);
        // About half the module's total, and 1 A / 12 V as polled.
        QVERIFY(std::abs(s.capacityAh / last.capacityAh - 0.5) < 0.02);
        QVERIFY(std::abs(s.averageCurrent - 1.0) < 0.01);
        QVERIFY(std::abs(s.averageVoltage - 12.0) < 0.05);
        QVERIFY(!s.countsDisagree);
        QCOMPARE(model.ownCapacity(last), s.capacityAh);
    }

    // The module cleared from its own keys in the middle of a discharge: the
    // first reply after the clear already counts 0.090 A·h. A new discharge
    // measured from zero, with sane means, and no reply lost to the old one.
    void countFallingButNotToZero()
    {
        TestModel model;
        Module m;
        m.amps = 9.5;
        m.on = true;
        run(model, m, 60, 60);
        QVERIFY(model.running());
        const double before = model.summary().capacityAh;
        QVERIFY(before > 9);
        m.clear();
        m.exactAh = 0.0905;
        m.exactWh = 0.0905 * 12;
        m.exactSeconds = 34;
        QCOMPARE(model.take(m.reply()), TestModel::Change::Started);
        QCOMPARE(ah(model.previous()->capacityAh), ah(before));
        QCOMPARE(model.previous()->end, EndReason::None); // the module was cleared, not ended
        QCOMPARE(ah(model.summary().capacityAh), QStringLiteral("0.090"));
        QCOMPARE(model.summary().baseCapacityAh, 0.0);
        run(model, m, 30, 60);
        QVERIFY(std::abs(model.summary().averageCurrent - 9.5) < 0.1);
        QCOMPARE(model.summary().samples, 61);
    }

    // Silence: polls unanswered at the panel's pace. Shorter than the limit
    // it is a gap the discharge rides through; at the limit it ends the
    // discharge as a lost line, whether or not the port is still open.
    void silence_data()
    {
        QTest::addColumn<int>("missedPolls");
        QTest::addColumn<int>("limitPolls");
        QTest::addColumn<qint64>("limitMsecs");
        QTest::addColumn<bool>("ended");
        QTest::addColumn<int>("gaps");
        QTest::newRow("one miss: no gap") << 1 << 6 << qint64(0) << false << 0;
        QTest::newRow("five misses: a gap") << 5 << 6 << qint64(0) << false << 1;
        QTest::newRow("six misses: lost") << 6 << 6 << qint64(0) << true << 0;
        QTest::newRow("polls enough, time not") << 10 << 3 << qint64(60'000) << false << 1;
        QTest::newRow("polls and time") << 121 << 3 << qint64(60'000) << true << 0;
    }
    void silence()
    {
        QFETCH(int, missedPolls);
        QFETCH(int, limitPolls);
        QFETCH(qint64, limitMsecs);
        QFETCH(bool, ended);
        QFETCH(int, gaps);
        TestModel model({limitPolls, limitMsecs, 2});
        Module m;
        m.on = true;
        run(model, m, 10);
        TestModel::Change change = TestModel::Change::None;
        for (int i = 0; i < missedPolls; ++i) {
            m.advance();
            change = model.missed(m.steadyMsecs);
            if (change != TestModel::Change::None) break;
        }
        QCOMPARE(change == TestModel::Change::Ended, ended);
        QCOMPARE(model.running(), !ended);
        if (ended) {
            QCOMPARE(model.summary().end, EndReason::LineLost);
            return;
        }
        m.advance();
        QCOMPARE(model.take(m.reply()), TestModel::Change::None);
        const Summary s = model.summary();
        QCOMPARE(s.gaps, gaps);
        QCOMPARE(s.missedPolls, missedPolls);
        if (gaps) QCOMPARE(s.gapSeconds, (missedPolls + 1) * 0.5);
        QCOMPARE(s.flagKeys().contains(QStringLiteral("gaps")), gaps > 0);
        // The counts went on during the gap: the capacity is the module's.
        QCOMPARE(ah(s.capacityAh), ah(m.reply().capacityAh - s.baseCapacityAh));
    }

    // Counts that do not fit the polled values: the figures say so and the
    // means are the polled ones, not 36 A.
    void countsThatDisagree_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("energy frozen while current flows") << "energy";
        QTest::newRow("capacity twice the current") << "capacity";
        QTest::newRow("time not counting") << "time";
    }
    void countsThatDisagree()
    {
        QFETCH(QString, fault);
        TestModel model;
        Module m;
        m.amps = 2;
        m.on = true;
        for (int i = 0; i < 240; ++i) {
            m.advance(1);
            Sample s = m.reply();
            if (fault == u"energy") s.energyWh = 0.5;
            if (fault == u"capacity") s.capacityAh *= 2;
            if (fault == u"time") s.dischargeSeconds = 10;
            model.take(s);
        }
        const Summary s = model.summary();
        QVERIFY(s.countsDisagree);
        QVERIFY(s.flagKeys().contains(QStringLiteral("counts-disagree")));
        QVERIFY(std::abs(s.averageCurrent - 2.0) < 0.01);
        QVERIFY(std::abs(s.averageVoltage - 12.0) < 0.01);
        QVERIFY(std::abs(s.averagePower - 24.0) < 0.1);

        TestModel sound; // the same discharge, honest counts
        Module n;
        n.amps = 2;
        n.on = true;
        run(sound, n, 120);
        QVERIFY(!sound.summary().countsDisagree);
    }

    // A recording cut into discharges: the second book of a recording that
    // rolled over begins with the module's counts at 9.1 A·h; its discharge
    // is what the book covers, and each span names its samples.
    void recordedDischarges()
    {
        Module m;
        m.amps = 2;
        m.on = true;
        m.exactAh = 9.1;
        m.exactWh = 9.1 * 12;
        m.exactSeconds = 16380;
        std::vector<Sample> book;
        for (int i = 0; i < 12240; ++i) { // 3.4 A·h at 2 A
            m.advance();
            book.push_back(m.reply());
        }
        m.on = false;
        for (int i = 0; i < 4; ++i) {
            m.advance();
            book.push_back(m.reply());
        }
        m.on = true;                     // on again without a clear
        for (int i = 0; i < 1440; ++i) { // 0.4 A·h
            m.advance();
            book.push_back(m.reply());
        }
        const std::vector<RecordedDischarge> each = dischargesOf(book);
        QCOMPARE(each.size(), std::size_t(2));
        QVERIFY(std::abs(each[0].summary.capacityAh - 3.4) < 0.0015);
        QCOMPARE(each[0].summary.end, EndReason::LoadOff);
        QCOMPARE(each[0].first, std::size_t(0));
        QCOMPARE(each[0].last, std::size_t(12242)); // the second reply after the load went off
        QCOMPARE(each[1].first, std::size_t(12244));
        QCOMPARE(each[1].last, book.size() - 1);
        QVERIFY(std::abs(each[1].summary.capacityAh - 0.4) < 0.0015);
        QCOMPARE(summarize(book).capacityAh, each[1].summary.capacityAh);
    }
};

QTEST_MAIN(TestModelTest)
#include "test_model.moc"
