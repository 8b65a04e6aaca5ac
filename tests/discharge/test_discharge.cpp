// The discharge data: summary, end reasons and restarts, decimation and its
// memory bound, recordings read back (workbooks of the panel and of openpyxl, CSV).

#include "core/Texts.h"
#include "discharge/Series.h"
#include "discharge/TestModel.h"
#include "modbus/Formats.h"
#include "reader/RecordingFile.h"
#include "recording/XlsxSpreadsheet.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace eload;
using namespace eload::discharge;
using namespace eload::reader;

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

QString runPython(const QStringList& args)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), QStringList{WRITE_WORKBOOK_PY} + args);
    if (!python.waitForFinished(120000) || python.exitCode() != 0)
        return QString::fromUtf8(python.readAllStandardError());
    return {};
}

QString errorOf(const ReadResult& r)
{
    return std::holds_alternative<ReadError>(r) ? std::get<ReadError>(r).message : QString();
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

    void valueTextsParseBack()
    {
        QCOMPARE(modbus::valueOfText(modbus::capacityText(65536), u"AH"), 65.536);
        QCOMPARE(modbus::valueOfText(modbus::capacityText(65536), u"A"), std::nullopt);
        QCOMPARE(modbus::valueOfText(u"1,25A", u"A"), std::nullopt);
        QCOMPARE(modbus::secondsOfDischargeTimeText(u" 01:02:03"), 3723);
        QCOMPARE(modbus::secondsOfDischargeTimeText(u"01:60:03"), std::nullopt);
    }

    // As the recorder writes it: libxlsxwriter, inline strings, number in column 1.
    void workbookThisProjectRecorded()
    {
        QTemporaryDir dir;
        XlsxSpreadsheet sheet(dir.path());
        QVERIFY(!sheet.newBook());
        for (int c = 1; c <= 10; ++c)
            QVERIFY(!sheet.setText(1, c, texts::kRecordHeader[c - 1]));
        for (int r = 2; r <= 4; ++r) {
            const auto n = std::uint16_t(r - 2);
            const QStringList row = {
                QStringLiteral("2026-03-05 14时:05分:%1秒").arg(r, 2, 10, QLatin1Char('0')),
                modbus::currentText(200),
                modbus::voltageText(1234 - n),
                modbus::powerText(2468),
                modbus::temperatureText(28 + n),
                modbus::resistanceText(35),
                modbus::capacityText(n * 1000u),
                modbus::energyText(n * 12000u),
                QLatin1Char(' ') + modbus::dischargeTimeText(n, 0, 1)};
            QVERIFY(!sheet.setNumber(r, 1, r - 1));
            for (int c = 0; c < row.size(); ++c)
                QVERIFY(!sheet.setText(r, c + 2, row[c]));
        }
        QVERIFY(!sheet.saveAs(dir.filePath("2026-03-05_14时05分02秒")));
        sheet.close();
        const ReadResult read = readRecording(dir.filePath("2026-03-05_14时05分02秒.xlsx"));
        QCOMPARE(errorOf(read), QString());
        const auto& curve = std::get<RecordedCurve>(read);
        QCOMPARE(curve.name, QStringLiteral("2026-03-05_14时05分02秒"));
        QCOMPARE(curve.samples.size(), std::size_t(3));
        const Sample& last = curve.samples.back();
        QCOMPARE(csvRow(last).section(u',', 1), // every value, through the CSV's texts
                 QStringLiteral("12.32,2.00,24.68,2.000,24.000,30,35,0,1,7201"));
        QVERIFY(!curve.hasStatus);
        QCOMPARE(last.msecs - curve.samples.front().msecs, 2000);
        QCOMPARE(QDateTime::fromMSecsSinceEpoch(last.msecs).time(), QTime(14, 5, 4));
        QCOMPARE(summarize(curve).capacityAh, 2.0);
    }

    void workbookOpenpyxlWrote()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("cell-7.xlsx");
        QCOMPARE(runPython({"panel", path}), QString());
        const ReadResult read = readWorkbook(path);
        QCOMPARE(errorOf(read), QString());
        const auto& samples = std::get<RecordedCurve>(read).samples;
        QCOMPARE(samples.size(), std::size_t(2));
        QCOMPARE(samples[0].voltage, 12.34f);                // rich-text runs of a shared string
        QCOMPARE(samples[1].voltage, 12.3f);                 // a number cell
        QCOMPARE(samples[1].msecs - samples[0].msecs, 1000); // a date cell
        QCOMPARE(samples[1].energyWh, 0.012);
    }

    void workbookErrors_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("truncated") << "truncated"
                                   << "文件不完整或已损坏";
        QTest::newRow("foreign") << "foreign"
                                 << "不是本程序的记录：第 1 行应为表头";
        QTest::newRow("bad row") << "badrow"
                                 << "第 3 行 D 列（电压）的值“abc”无法识别";
        QTest::newRow("other zip") << "other-zip"
                                   << "不是 xlsx 工作簿（缺少 xl/workbook.xml）";
        QTest::newRow("not a zip") << "text"
                                   << "不是 xlsx 工作簿（不是 zip 文件）";
        QTest::newRow("zip bomb") << "bomb"
                                  << "解压后超过 512 MiB 的上限";
    }
    void workbookErrors()
    {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(kind + ".xlsx");
        if (kind == u"text") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("序号,时间\n") > 0);
        } else {
            QCOMPARE(runPython({kind == u"truncated" ? "panel" : kind, path}), QString());
        }
        if (kind == u"truncated") QVERIFY(QFile::resize(path, QFileInfo(path).size() / 2));
        const QString message = errorOf(readWorkbook(path));
        QVERIFY2(message.startsWith(path + ": ") && message.contains(error), qPrintable(message));
    }

    void csvRoundTripAndErrors()
    {
        std::vector<Sample> samples = {sampleAt(0, false, 12.6, 0, 0, 0, 0),
                                       sampleAt(1, true, 11.98, 2.5, 65.536, 1.234, 3723, 1)};
        samples[1].msecs += 123;
        samples[1].temperatureC = 65531; // -5 ℃ as the register holds it
        samples[1].resistanceMilliohm = 35;
        QTemporaryDir dir;
        const auto write = [&](const QString& name, const QByteArray& text) {
            QFile f(dir.filePath(name));
            return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
        };
        QByteArray log = "\xEF\xBB\xBF" + csvHeader().toUtf8() + "\r\n";
        for (const Sample& s : samples)
            log += csvRow(s).toUtf8() + "\r\n";
        QVERIFY(write("log.csv", log));
        QVERIFY(csvRow(samples[1]).contains(u",11.98,2.50,29.95,65.536,1.234,65531,35,1,1,3723"));
        const ReadResult read = readRecording(dir.filePath("log.csv"));
        QCOMPARE(errorOf(read), QString());
        const auto& back = std::get<RecordedCurve>(read).samples;
        QCOMPARE(back.size(), samples.size());
        for (std::size_t i = 0; i < back.size(); ++i)
            QCOMPARE(csvRow(back[i]), csvRow(samples[i]));
        QCOMPARE(back[1].msecs, samples[1].msecs);

        const QByteArray header = csvHeader().toUtf8() + "\n";
        const QByteArray row = csvRow(samples[1]).toUtf8();
        const std::pair<QByteArray, QString> bad[] = {
            {"time,voltage\n", "不是本程序的 CSV 记录"},
            {header + QByteArray(row).replace(",11.98,", ",x,"),
             "第 2 行 B 列（voltage_V）的值“x”无法识别"},
            {header + row + "\n1,2\n", "第 3 行应有 11 列，实有 2 列"},
            {header + QByteArray(row).replace(",1,1,", ",1,2,"), "J 列（load_on）"}};
        for (const auto& [text, error] : bad) {
            QVERIFY(write("bad.csv", text));
            QVERIFY2(errorOf(readCsv(dir.filePath("bad.csv"))).contains(error), qPrintable(error));
        }
    }
};

QTEST_GUILESS_MAIN(TestDischarge)
#include "test_discharge.moc"
