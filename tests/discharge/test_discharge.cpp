// The discharge data: summary, end reasons and restarts, decimation and its
// memory bound.

#include "discharge/Series.h"
#include "discharge/TestModel.h"

#include <QRandomGenerator>
#include <QTest>
#include <cmath>

using namespace eload;
using namespace eload::discharge;

namespace {

Sample sampleAt(int second, bool on, double volts, double amps, double ah, double wh, int seconds,
                std::uint16_t code = 0)
{
    Sample s;
    s.msecs = 1'700'000'000'000 + second * 1000ll;
    s.loadOn = on;
    s.voltage = float(volts);
    s.current = float(amps);
    s.power = float(volts * amps);
    s.capacityAh = ah;
    s.energyWh = wh;
    s.dischargeSeconds = seconds;
    s.protection = code;
    return s;
}

// Replies as tokens: "1" load on, "0" load off, "C" the counts cleared (load
// off), each with an optional ":code"; "L" the line lost. Each load-on reply
// adds 0.1 AH. Returns one letter per token: S started, E ended, . neither.
QString play(const QString& script, TestModel& tracker, std::vector<Sample>& samples)
{
    QString changes;
    double ah = 0;
    for (const QString& token : script.split(u' ')) {
        TestModel::Change change;
        if (token == u"L") {
            change = tracker.lineEnded();
        } else {
            const bool on = token.startsWith(u'1');
            ah = token.startsWith(u'C') ? 0 : ah + (on ? 0.1 : 0);
            const int n = int(samples.size());
            samples.push_back(sampleAt(n, on, 12 - n * 0.1, on ? 1 : 0, ah, ah * 12, int(ah * 3600),
                                       std::uint16_t(token.section(u':', 1).toUInt())));
            change = tracker.take(samples.back());
        }
        changes += change == TestModel::Change::Started ? u'S'
                   : change == TestModel::Change::Ended ? u'E'
                                                        : u'.';
    }
    return changes;
}

} // namespace

class TestDischarge : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Idle, three replies under load (2 A, the counts growing), then UVLO.
    void summaryOfAHandComputedDischarge()
    {
        const std::vector<Sample> samples = {
            sampleAt(0, false, 12.6, 0, 0, 0, 0), sampleAt(1, true, 12.0, 2, 0, 0, 0),
            sampleAt(2, true, 11.8, 2, 1, 11.9, 1800), sampleAt(3, true, 11.0, 2, 2, 23.4, 3600),
            sampleAt(4, false, 12.2, 0, 2, 23.4, 3600, 1)};
        TestModel early;
        early.take(samples[0]);
        early.take(samples[1]); // no count, no time yet: the means of the load-on replies
        QCOMPARE(early.summary().averageVoltage, 12.0);
        QCOMPARE(early.summary().averagePower, 24.0);

        const Summary s = summarize(samples);
        QCOMPARE(s.durationSeconds, 3600.0);
        QCOMPARE(s.capacityAh, 2.0);
        QCOMPARE(s.energyWh, 23.4);
        QCOMPARE(s.averageVoltage, 11.7);
        QCOMPARE(s.lowestVoltage, double(11.0f));
        QCOMPARE(s.averageCurrent, 2.0);
        QCOMPARE(s.averagePower, 23.4);
        QCOMPARE(s.end, EndReason::Uvlo);
        QCOMPARE(endReasonText(s.end), QStringLiteral("UVLO"));
        QCOMPARE(s.samples, 5);
        QCOMPARE(s.loadOnSamples, 3);
        QCOMPARE(s.endMsecs - s.startMsecs, 4000);
        QCOMPARE(summarize(samples, false).end, EndReason::None); // a workbook cannot tell
    }

    void trackerEndsAndRestarts_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("changes");
        QTest::addColumn<QString>("end");      // of the last discharge
        QTest::addColumn<QString>("previous"); // of the one before, "-" for none
        QTest::addColumn<QString>("report");   // summarize() of the samples
        QTest::addColumn<QString>("capacity"); // the last discharge's own
        const auto row = [](const char* name, const char* script, const char* changes,
                            const char* end, const char* previous, const char* report,
                            const char* capacity) {
            QTest::newRow(name) << script << changes << end << previous << report << capacity;
        };
        row("UVLO with the load off", "1 1 0:1", "S.E", "uvlo", "-", "uvlo", "0.100");
        row("UVLO a reply after", "1 1 0 0:1", "S..E", "uvlo", "-", "uvlo", "0.100");
        row("UVLO two replies after", "1 1 0 0 0:1", "S...E", "uvlo", "-", "uvlo", "0.100");
        row("OPP", "1 1 0:2", "S.E", "opp", "-", "opp", "0.100");
        row("OTP, load still on", "1 1:4", "SE", "otp", "-", "otp", "0.100");
        row("load off", "1 1 0 0 0 0", "S...E.", "load-off", "-", "load-off", "0.100");
        row("load off at the data's end", "1 1 0", "S..", "", "-", "load-off", "0.100");
        row("line lost", "1 1 L 0", "S.E.", "line-lost", "-", "load-off", "0.100");
        row("line lost after load off", "1 0 L", "S.E", "load-off", "-", "load-off", "0.000");
        row("stale code ends nothing", "0:1 1:1 1:1 0:1", "S..E", "uvlo", "-", "uvlo", "0.200");
        row("never on: no end", "0 0:1 0", "S..", "", "-", "", "0.000");
        row("restart on clear", "1 1 0:1 0:1 C:1 1", "S.E.S.", "", "uvlo", "", "0.100");
        row("restart on load on", "1 0:1 1 1", "SES.", "", "uvlo", "", "0.200");
        row("clear while running", "1 1 C", "S.S", "", "", "", "0.000");
        row("clear after the end, idle", "1 0:1 C:1 0:1", "SES.", "", "uvlo", "uvlo", "0.000");
        row("load back on at once", "1 0 1", "S.S", "", "load-off", "", "0.100");
        row("line back, load on", "1 L 1", "SES", "", "line-lost", "", "0.100");
    }
    void trackerEndsAndRestarts()
    {
        QFETCH(QString, script);
        QFETCH(QString, changes);
        QFETCH(QString, end);
        QFETCH(QString, previous);
        QFETCH(QString, report);
        QFETCH(QString, capacity);
        TestModel tracker;
        std::vector<Sample> samples;
        QCOMPARE(play(script, tracker, samples), changes);
        QCOMPARE(endReasonKey(tracker.summary().end), end);
        const auto before = tracker.previous();
        QCOMPARE(before ? endReasonKey(before->end) : QStringLiteral("-"), previous);
        QCOMPARE(endReasonKey(summarize(samples).end), report);
        QCOMPARE(QString::number(tracker.summary().capacityAh, 'f', 3), capacity);
    }

    // Against a brute-force pass over random data with spikes and repeated x.
    void decimationKeepsEveryColumnsExtremes()
    {
        QRandomGenerator rng(11);
        Series series;
        std::vector<QPointF> all;
        double x = 0, y = 12;
        for (int i = 0; i < 200'000; ++i) {
            x += rng.bounded(3) * 0.5;
            y += rng.generateDouble() - 0.5;
            const double v = rng.bounded(500) == 0 ? y + (rng.bounded(2) ? 40 : -40) : y;
            QVERIFY(series.append(x, v));
            all.emplace_back(x, double(float(v)));
        }
        QVERIFY(!series.append(x - 1, 0));
        const struct {
            double x0, x1;
            int columns;
        } views[] = {{0, x, 1000},
                     {x * .3, x * .31, 800},
                     {x * .5, x * .9, 7},
                     {-50, x + 50, 1},
                     {x * .2, x * .2 + 3, 1920}};
        for (const auto& v : views) {
            const std::vector<QPointF> out = series.decimated(v.x0, v.x1, v.columns);
            QVERIFY(std::is_sorted(out.begin(), out.end(),
                                   [](QPointF a, QPointF b) { return a.x() < b.x(); }));
            const double w = (v.x1 - v.x0) / v.columns;
            const auto column = [&](double px) {
                return int(std::min(v.columns - 1.0, std::floor((px - v.x0) / w)));
            };
            std::map<int, std::pair<double, double>> truth; // column: lowest, highest
            std::map<int, std::vector<double>> drawn;
            double before = NAN, after = NAN;
            for (const QPointF& p : all) {
                if (p.x() < v.x0) before = p.x();
                if (p.x() > v.x1 && std::isnan(after)) after = p.x();
                if (p.x() < v.x0 || p.x() > v.x1) continue;
                auto [it, fresh] = truth.try_emplace(column(p.x()), p.y(), p.y());
                it->second = {std::min(it->second.first, p.y()),
                              std::max(it->second.second, p.y())};
            }
            for (const QPointF& p : out)
                if (p.x() >= v.x0 && p.x() <= v.x1) drawn[column(p.x())].push_back(p.y());
            QCOMPARE(drawn.size(), truth.size());
            for (const auto& [c, ys] : drawn) {
                QVERIFY(ys.size() <= 4);
                QVERIFY(std::count(ys.begin(), ys.end(), truth[c].first));
                QVERIFY(std::count(ys.begin(), ys.end(), truth[c].second));
            }
            QCOMPARE(out.front().x() < v.x0, !std::isnan(before));
            if (!std::isnan(before)) QCOMPARE(out.front().x(), before);
            if (!std::isnan(after)) QCOMPARE(out.back().x(), after);
            const auto range = series.yRange(v.x0, v.x1);
            QVERIFY(range);
            QCOMPARE(range->min, std::min_element(truth.begin(), truth.end(), [](auto a, auto b) {
                                     return a.second.first < b.second.first;
                                 })->second.first);
        }
        for (double at : {-5.0, x * .37 + .25, x + 9}) {
            const auto near = series.nearest(at);
            const auto best = std::min_element(all.begin(), all.end(), [&](QPointF a, QPointF b) {
                return std::abs(a.x() - at) < std::abs(b.x() - at);
            });
            QVERIFY(near && std::abs(near->x() - at) == std::abs(best->x() - at));
        }
    }

    void mergingBoundsMemoryAndKeepsExtremes()
    {
        Series series(1000);
        for (int i = 0; i < 100'000; ++i) {
            const double y = i == 12'345 ? 50 : i == 23'456 ? -50 : std::sin(i * 0.01);
            QVERIFY(series.append(i, y));
            QVERIFY(series.size() <= 1000);
        }
        const Series copy = series; // a value: the chart keeps earlier curves
        const auto range = copy.yRange(0, 1e9);
        QVERIFY(range && range->min == -50 && range->max == 50);
        for (std::size_t i = 1; i < series.size(); ++i)
            QVERIFY(series.at(i - 1).x() <= series.at(i).x());
        for (int back = 1; back <= 250; ++back) // the newest quarter is untouched
            QCOMPARE(series.at(series.size() - back).x(), 100'000.0 - back);
        QVERIFY(series.memoryBytes() < 100'000 * 12 / 10); // a tenth of what all would take
    }
};

QTEST_GUILESS_MAIN(TestDischarge)
#include "test_discharge.moc"
