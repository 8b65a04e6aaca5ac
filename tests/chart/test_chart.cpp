// The discharge chart window over hand-made readings: the option, the second
// window, the summary and curves, a new discharge, reference files, export.

#include "app/Options.h"
#include "chart/ChartWindow.h"
#include "chart/SummaryTexts.h"
#include "modbus/Reading.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace eload;
using namespace eload::chart;

namespace {

// Minute i of a 1 A discharge from 12.50 V: 0.1 AH and 1.2 WH every 360 s of
// the module's time. The last reading shows the UVLO trip, the load off and
// the battery recovering.
modbus::Reading minute(int i, bool tripped = false)
{
    modbus::Reading r;
    r.time = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000 + i * 60'000);
    r.voltage = tripped ? 12.0 : 12.5 - 0.1 * i;
    r.current = tripped ? 0 : 1.0;
    r.power = r.voltage * r.current;
    r.capacityAh = 0.1 * i;
    r.energyWh = 1.2 * i;
    r.dischargeSeconds = 360 * i;
    r.loadOn = !tripped;
    r.protection = tripped ? modbus::ProtectionUvlo : modbus::ProtectionNone;
    return r;
}

void dischargeToUvlo(ChartWindow& w)
{
    for (int i = 0; i < 10; ++i)
        w.feed().takeReading(minute(i));
    w.feed().takeReading(minute(10, true));
    w.redrawNow();
}

QString figure(ChartWindow& w, const char* name)
{
    return w.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

QString shownBox(ChartWindow& w)
{
    const auto boxes = w.findChildren<QMessageBox*>();
    return boxes.isEmpty() ? QString() : boxes.last()->text();
}

// Whether the program's event loop ends when `close` runs in it.
template <typename Close> bool closingEnds(Close close)
{
    QTimer later;
    later.setSingleShot(true);
    QObject::connect(&later, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    later.start(300);
    QTimer::singleShot(0, qApp, close);
    return QCoreApplication::exec() == 0;
}

struct Shown {
    ChartWindow w;
    Shown()
    {
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
    }
};

} // namespace

class ChartTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theOption()
    {
        const struct {
            QStringList args;
            bool chart;
        } rows[] = {{{}, false}, {{"--chart"}, true}, {{"--com", "1=/dev/null", "--chart"}, true}};
        for (const auto& row : rows) {
            QList<QByteArray> bytes{"eload-panel"};
            for (const QString& a : row.args)
                bytes << a.toLocal8Bit();
            std::vector<char*> argv;
            for (QByteArray& b : bytes)
                argv.push_back(b.data());
            const ParsedOptions p = parseOptions(int(argv.size()), argv.data(), PortMap{});
            QVERIFY(p.error.isEmpty());
            QCOMPARE(p.options.chart, row.chart);
            QCOMPARE(p.options.qtArguments.size(), std::size_t(1)); // not passed on to Qt
        }
        QVERIFY(helpText().contains(QLatin1String("--chart")));
    }

    // What main does with the option: a second window beside the panel, which
    // may close alone, while closing the panel's window ends the program.
    void theSecondWindow()
    {
        for (const bool wanted : {false, true}) {
            QWidget panel;
            panel.resize(400, 300);
            panel.move(0, 0);
            panel.show();
            std::unique_ptr<ChartWindow> chartWindow;
            if (wanted) {
                chartWindow = std::make_unique<ChartWindow>();
                chartWindow->showBeside(panel);
                QVERIFY(QTest::qWaitForWindowExposed(chartWindow.get()));
                QCOMPARE(chartWindow->windowTitle(), QStringLiteral("放电曲线"));
                QVERIFY(panel.screen()->availableGeometry().contains(chartWindow->frameGeometry()));
            }
            int shown = 0;
            for (QWidget* top : QApplication::topLevelWidgets())
                shown += top->isVisible();
            QCOMPARE(shown, wanted ? 2 : 1);
            if (wanted) {
                QCOMPARE(closingEnds([&] { chartWindow->close(); }), false);
                QVERIFY(panel.isVisible());
                chartWindow->show();
            }
            QCOMPARE(closingEnds([&] { panel.close(); }), true); // the chart keeps nothing alive
        }
    }

    void readingsMakeTheSummaryAndCurves()
    {
        Shown s;
        ChartWindow& w = s.w;
        for (int i = 0; i < 5; ++i)
            w.feed().takeReading(minute(i));
        w.redrawNow();
        QCOMPARE(figure(w, "end"), QStringLiteral("放电中"));
        w.feed().takeReading(minute(5)); // beyond the redraw: shown within a quarter second
        QTRY_COMPARE(figure(w, "capacity"), QStringLiteral("0.500AH"));
        for (int i = 6; i < 10; ++i)
            w.feed().takeReading(minute(i));
        w.feed().takeReading(minute(10, true));
        w.redrawNow();
        const char* names[] = {"duration",      "capacity",       "energy",       "averageVoltage",
                               "lowestVoltage", "averageCurrent", "averagePower", "end"};
        const QStringList expected{"01:00:00", "1.000AH", "12.000WH", "12.00V",
                                   "11.60V",   "1.00A",   "12.00W",   "UVLO"};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(figure(w, names[i]), expected[i]);
        // Every reading over time; only those under load over capacity.
        QCOMPARE(w.feed().curves().voltage.size(), std::size_t(11));
        QCOMPARE(w.feed().curves().voltageOverCapacity.size(), std::size_t(10));
        QCOMPARE(w.plot(ChartWindow::View::Time).line(0)->count(), 11);
        w.feed().takeReading(minute(11, true)); // idle after the end: no discharge's
        QCOMPARE(w.feed().samples().rows().size(), std::size_t(11));
    }

    void aNewDischargeKeepsTheEarlierAsReference()
    {
        Shown s;
        ChartWindow& w = s.w;
        dischargeToUvlo(w);
        w.feed().takeReading(minute(0)); // the count back at zero, the load on
        w.redrawNow();
        QCOMPARE(w.feed().references().size(), std::size_t(1));
        const ReferenceCurve& earlier = w.feed().references().front();
        QVERIFY(earlier.name.startsWith(QStringLiteral("第 1 次放电")));
        QCOMPARE(earlier.voltageOverCapacity.size(), std::size_t(10));
        QCOMPARE(earlier.summary.end, discharge::EndReason::Uvlo);
        QCOMPARE(w.plot(ChartWindow::View::Capacity).traceCount(), std::size_t(2));
        QCOMPARE(w.findChild<QTableWidget*>()->item(0, 2)->text(), QStringLiteral("1.000AH"));
        QCOMPARE(figure(w, "capacity"), QStringLiteral("0.000AH"));
        QCOMPARE(figure(w, "end"), QStringLiteral("放电中"));
        QCOMPARE(w.feed().curves().voltage.size(), std::size_t(1));
    }

    // Export writes files that read back; the CSV comes back as a reference
    // curve; a file that is no recording is named and changes nothing.
    void exportAndReferences()
    {
        Shown s;
        ChartWindow& w = s.w;
        dischargeToUvlo(w);
        QTemporaryDir dir;
        QSignalSpy exported(&w, &ChartWindow::exported);
        for (const char* name : {"c.png", "c.svg", "c.csv"}) {
            const QString path = dir.filePath(QString::fromLatin1(name));
            if (path.endsWith(QLatin1String(".csv")))
                w.exportCsv(path);
            else
                w.exportImage(path);
            QTRY_COMPARE(exported.count(), 1);
            QCOMPARE(exported.takeFirst().at(1).toString(), QString());
        }
        QVERIFY(!QImage(dir.filePath("c.png")).isNull());
        QVERIFY(QSvgRenderer(dir.filePath("c.svg")).isValid());
        QFile csv(dir.filePath("c.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.first(), reader::csvHeader().toUtf8());
        QCOMPARE(lines.size(), 11 + 2); // header, 11 rows, the last line's end

        w.exportImage(dir.filePath("no/such/folder/c.png"));
        QVERIFY(!exported.takeFirst().at(1).toString().isEmpty());
        QVERIFY(shownBox(w).contains(QLatin1String("no/such/folder")));

        QSignalSpy opened(&w, &ChartWindow::referencesOpened);
        w.openReferences({dir.filePath("c.csv")});
        QTRY_COMPARE(opened.count(), 1);
        QCOMPARE(w.feed().references().size(), std::size_t(1));
        QCOMPARE(w.feed().references().front().name, QStringLiteral("c"));
        QCOMPARE(w.feed().references().front().summary.capacityAh, 1.0);

        const QString bad = dir.filePath("bad.xlsx");
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("not a workbook") > 0);
        f.close();
        w.openReferences({bad});
        QTRY_COMPARE(opened.count(), 2);
        QVERIFY(shownBox(w).contains(bad));
        QCOMPARE(w.feed().references().size(), std::size_t(1));
        QCOMPARE(w.findChild<QTableWidget*>()->rowCount(), 1);
        QCOMPARE(w.plot(ChartWindow::View::Capacity).traceCount(), std::size_t(2));
    }

    // The time of day steps back an hour mid-discharge: the curves run on
    // the steady clock and keep every reply; the export keeps the wall time.
    void aClockStepDropsNothing()
    {
        DischargeFeed feed;
        for (int i = 0; i < 20; ++i) {
            discharge::Sample s;
            s.loadOn = true;
            s.voltage = 12;
            s.current = 1;
            s.capacityAh = i * 0.001;
            s.monotonicMsecs = 1000 + i * 500;
            s.msecs = 1'700'000'000'000 + i * 500 - (i >= 10 ? 3'600'000 : 0);
            feed.take(s);
        }
        QCOMPARE(feed.curves().voltage.size(), std::size_t(20));
        QCOMPARE(feed.curves().voltage.refused(), std::size_t(0));
        QCOMPARE(feed.curves().voltage.last()->x(), 9.5);
        QCOMPARE(feed.samples().rows().back().msecs, 1'700'000'000'000 + 19 * 500 - 3'600'000);
    }

    void theExportLogIsBounded()
    {
        SampleLog log(8);
        for (int i = 0; i < 100; ++i) {
            discharge::Sample s;
            s.msecs = i;
            log.append(s);
        }
        const auto& rows = log.rows();
        QVERIFY(rows.size() <= 8);
        QCOMPARE(rows.size() + log.dropped(), std::size_t(100)); // every row kept or counted
        QCOMPARE(rows.front().msecs, 0);
        QCOMPARE(rows.back().msecs, 99);
        QVERIFY(std::is_sorted(rows.begin(), rows.end(),
                               [](const auto& a, const auto& b) { return a.msecs < b.msecs; }));
    }
};

QTEST_MAIN(ChartTest)
#include "test_chart.moc"
