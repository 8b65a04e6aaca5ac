// The battery behind the simulated load: discharge, power limit, protection,
// temperature and the counters, stepped directly in model time.

#include "sim/Module.h"
#include "sim/Simulator.h"

#include <QTest>

#include <thread>

using eload::sim::ModelParameters;
using eload::sim::Module;

namespace {

enum Reg {
    Current = 0,
    Voltage = 1,
    Power = 2,
    Temperature = 8,
    Protection = 9,
    Hours = 10,
    Minutes = 11,
    Seconds = 12,
    CurrentPreset = 13,
    PowerPreset = 15,
    Load = 17,
    Clear = 18,
};

std::uint32_t capacity(const Module& m) { return (std::uint32_t(m.reg(3)) << 16) | m.reg(4); }
std::uint32_t energy(const Module& m) { return (std::uint32_t(m.reg(5)) << 16) | m.reg(6); }

Module loadOn(const ModelParameters& p, std::uint16_t centiamps)
{
    Module m(p, 1, 1);
    m.write(CurrentPreset, centiamps);
    m.write(Load, 1);
    return m;
}

} // namespace

class SimModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void dischargesAtThePresetCurrent()
    {
        Module m = loadOn({}, 100); // 1 A from a full 2.2 AH pack
        m.advance(1);
        const int startVolts = m.reg(Voltage);
        QCOMPARE(startVolts, 1260 - 12); // 120 milliohms at 1 A
        m.advance(3599);
        QCOMPARE(int(m.reg(Current)), 100);
        QVERIFY(capacity(m) >= 995 && capacity(m) <= 1000); // 1.000 AH
        QVERIFY(energy(m) > 11000 && energy(m) < 12600);    // 1 AH at 11..12.6 V
        QCOMPARE(int(m.reg(Hours)), 1);
        QCOMPARE(int(m.reg(Minutes)), 0);
        QCOMPARE(int(m.reg(Seconds)), 0);
        QVERIFY(m.reg(Voltage) < startVolts - 50);
        QVERIFY(m.reg(Temperature) > 25 && m.reg(Temperature) < 35);
        QCOMPARE(int(m.reg(Protection)), 0);
    }

    void limitsPowerToThePreset_data()
    {
        QTest::addColumn<int>("centiamps");
        QTest::addColumn<int>("centiwatts");
        QTest::addColumn<bool>("limited");
        QTest::newRow("10 A, 20 W") << 1000 << 2000 << true;
        QTest::newRow("5 A, 1 W") << 500 << 100 << true;
        QTest::newRow("1 A, 150 W") << 100 << 15000 << false;
    }
    void limitsPowerToThePreset()
    {
        QFETCH(int, centiamps);
        QFETCH(int, centiwatts);
        QFETCH(bool, limited);
        Module m = loadOn({}, std::uint16_t(centiamps));
        m.write(PowerPreset, std::uint16_t(centiwatts));
        m.advance(1);
        QCOMPARE(m.reg(Current) < centiamps, limited);
        if (limited) QVERIFY(std::abs(m.reg(Power) - centiwatts) <= 1);
        // Power is what the voltage and current registers say.
        QVERIFY(std::abs(m.reg(Voltage) * m.reg(Current) / 100 - m.reg(Power)) <= 15);
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
        ModelParameters p;
        if (code == 1) p.stateOfCharge = 0.02; // a few dozen seconds left at 2 A
        if (code == 2) p.oppWatts = 10;
        Module m = loadOn(p, 200);
        if (code == 4) m.setReg(Temperature, 95);
        int seconds = 0;
        for (; seconds < 600 && m.reg(Load) == 1; ++seconds) {
            m.advance(1);
            QVERIFY(m.reg(Voltage) <= 1260); // never wraps below zero
        }
        QCOMPARE(int(m.reg(Protection)), code);
        QCOMPARE(int(m.reg(Load)), 0);
        QCOMPARE(int(m.reg(Current)), 0);
        QCOMPARE(int(m.reg(Power)), 0);
        if (code == 1) QVERIFY(seconds > 10); // ran until the pack was spent, not at once

        m.write(Load, 1); // switching on again acknowledges the trip
        QCOMPARE(int(m.reg(Protection)), 0);
    }

    void temperatureFollowsPower()
    {
        Module m = loadOn({}, 1000);
        m.advance(600);
        QVERIFY(m.reg(Temperature) > 50);
        m.write(Load, 0);
        m.advance(600);
        QVERIFY(m.reg(Temperature) <= 26);
    }

    void countersCarryAndSaturate_data()
    {
        QTest::addColumn<QList<int>>("before"); // register, value ...
        QTest::addColumn<QList<int>>("after");
        QTest::newRow("capacity carries") << QList<int>{3, 0, 4, 0xFFFF} << QList<int>{3, 1};
        QTest::newRow("capacity saturates")
            << QList<int>{3, 0xFFFF, 4, 0xFFFF} << QList<int>{3, 0xFFFF, 4, 0xFFFF};
        QTest::newRow("time carries")
            << QList<int>{10, 0, 11, 59, 12, 59} << QList<int>{10, 1, 11, 0, 12, 9};
        QTest::newRow("time saturates")
            << QList<int>{10, 65535, 11, 59, 12, 59} << QList<int>{10, 65535, 11, 59, 12, 59};
    }
    void countersCarryAndSaturate()
    {
        QFETCH(QList<int>, before);
        QFETCH(QList<int>, after);
        Module m = loadOn({}, 200);
        for (qsizetype i = 0; i + 1 < before.size(); i += 2)
            m.setReg(before[i], std::uint16_t(before[i + 1]));
        m.advance(10);
        for (qsizetype i = 0; i + 1 < after.size(); i += 2)
            QCOMPARE(int(m.reg(after[i])), after[i + 1]);
    }

    void clearDataKeepsTheBattery()
    {
        Module m = loadOn({}, 200);
        m.advance(600);
        m.write(Load, 0);
        m.advance(1);
        const int volts = m.reg(Voltage);
        m.write(Clear, 1);
        for (int n : {3, 4, 5, 6, 10, 11, 12})
            QCOMPARE(int(m.reg(n)), 0);
        m.advance(1);
        QCOMPARE(int(m.reg(Voltage)), volts); // the charge taken stays taken
        QCOMPARE(int(m.reg(CurrentPreset)), 200);
    }

    void speedFactorRunsTheModelFaster()
    {
        eload::sim::Options o;
        o.speed = 600;
        eload::sim::Simulator simulator(o);
        QVERIFY(std::holds_alternative<std::string>(simulator.start()));
        simulator.setReg(Load, 1);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        // About ten model minutes in one real second; at least five.
        QVERIFY(simulator.reg(Minutes) >= 5 || simulator.reg(Hours) > 0);
        QVERIFY(simulator.reg(Current) > 0);
    }
};

QTEST_GUILESS_MAIN(SimModelTest)
#include "test_sim_model.moc"
