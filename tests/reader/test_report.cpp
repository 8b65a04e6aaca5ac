// `eload-cli report` on every file `watch` writes, watch run against the
// simulated modules with the temperature register at 65526 (a module at
// -10 ℃): the CSV log, the workbook, one of each per module, the CSV on
// standard output with modules interleaved, workbooks after a roll-over, and
// a log whose last row a full disk cut short. Messages in English.

#include "modbus/Reading.h"
#include "reader/RecordingFile.h"
#include "recording/WorkbookRecording.h"
#include "sim/Simulator.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace eload;

namespace {

constexpr int kWaitMs = 120000; // generous: the machine may be busy

// 1.25 A, 12.10 V, 15.12 W, 2.500 AH, 30.250 WH, 45 mΩ, 65526 ℃, no
// protection, 01:05:09, presets 2 A, 1.5 V, 100 W, 9600 Bd, load on.
const std::vector<std::uint16_t> kRegisters = {125, 1210, 1512, 0, 2500, 0,   30250, 45, 65526,
                                               0,   1,    5,    9, 200,  150, 10000, 1,  1};

struct Run {
    int status = -1;
    QByteArray out, err;
    QList<QJsonObject> json() const
    {
        QList<QJsonObject> objects;
        for (const QByteArray& l : out.split('\n'))
            if (!l.isEmpty()) objects << QJsonDocument::fromJson(l).object();
        return objects;
    }
};

Run run(const QStringList& args)
{
    QProcess p;
    p.start(ELOAD_CLI, args);
    p.closeWriteChannel();
    if (!p.waitForFinished(kWaitMs)) p.kill();
    p.waitForFinished();
    const bool normal = p.exitStatus() == QProcess::NormalExit;
    return {normal ? p.exitCode() : -1, p.readAllStandardOutput(), p.readAllStandardError()};
}

// Modules 3 and 5 on one pty, holding kRegisters (module 5 at 13.10 V). The
// counts stand still: each discharge's own capacity is zero.
struct Line {
    sim::Simulator sim{options()};
    QString path;
    Line()
    {
        auto started = sim.start();
        if (auto* p = std::get_if<std::string>(&started)) path = QString::fromStdString(*p);
        for (sim::ModuleAccess m : sim.modules())
            for (int i = 0; i < int(kRegisters.size()); ++i)
                m.setReg(i, kRegisters[i]);
        sim.module(5)->setReg(modbus::RegVoltage, 1310);
    }
    static sim::Options options()
    {
        sim::Options o;
        for (std::uint8_t a : {3, 5}) {
            o.modules.push_back({a, {}});
            o.modules.back().model.running = false;
        }
        return o;
    }
};

double capacityOf(const QJsonObject& report) { return report["summary"]["capacity_Ah"].toDouble(); }
double lowestOf(const QJsonObject& report)
{
    return report["summary"]["lowest_voltage_V"].toDouble();
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestReport : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString file(const QString& name) const { return dir_.filePath(name); }

private Q_SLOTS:
    // Two watches of a few replies: one writing files, one CSV on stdout.
    void initTestCase()
    {
        Line line;
        QVERIFY(!line.path.isEmpty());
        // Nothing into the user's test library.
        const QStringList common{"--port",  line.path,    "--address", "3,5",          "watch",
                                 "--no-db", "--interval", "100",       "--stop-after", "2"};
        const Run files =
            run(common + QStringList{"--json", "--csv", file("log.csv"), "--xlsx", file("book")});
        QVERIFY2(files.status == 0, files.err);
        for (sim::ModuleAccess m : line.sim.modules()) // --stop-after switched them off
            m.setReg(modbus::RegLoadSwitch, 1);
        const Run stdoutCsv = run(common + QStringList{"--csv"});
        QVERIFY2(stdoutCsv.status == 0, stdoutCsv.err);
        QVERIFY(writeFile(file("stdout.csv"), stdoutCsv.out));
    }

    // Every file: one summary per module, with that module's values.
    void everyFileWatchWrites_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<int>>("addresses"); // one summary each; 0: the file names none
        QTest::newRow("--csv FILE") << "log-3.csv" << QList<int>{0};
        QTest::newRow("--xlsx FILE") << "book-5.xlsx" << QList<int>{0};
        QTest::newRow("--csv on stdout") << "stdout.csv" << QList<int>{3, 5};
    }
    void everyFileWatchWrites()
    {
        QFETCH(QString, name);
        QFETCH(QList<int>, addresses);
        const Run r = run({"report", "--json", file(name)});
        QVERIFY2(r.status == 0, r.err);
        QVERIFY2(r.err.isEmpty(), r.err);
        const QList<QJsonObject> reports = r.json();
        QCOMPARE(reports.size(), addresses.size());
        for (qsizetype i = 0; i < reports.size(); ++i) {
            const QJsonObject& o = reports[i];
            QCOMPARE(o["file"].toString(), file(name));
            QCOMPARE(o["address"].toInt(), addresses[i]);
            const int module = addresses[i] ? addresses[i] : name.contains("-5") ? 5 : 3;
            QCOMPARE(lowestOf(o), module == 5 ? 13.1 : 12.1);
            QCOMPARE(capacityOf(o), 0.0);
            QVERIFY(o["summary"]["samples"].toInt() >= 3);
        }
    }

    // The register as it is: the workbook shows what the panel shows, the
    // CSVs the same number.
    void temperatureUnsigned()
    {
        QVERIFY(contents(file("log-3.csv")).contains(",65526,45,"));
        QVERIFY(contents(file("stdout.csv")).contains(",65526,45,"));
        const reader::ReadResult book = reader::readRecording(file("book-3.xlsx"));
        QVERIFY(std::holds_alternative<reader::Recording>(book));
        QCOMPARE(std::get<reader::Recording>(book).curves[0].samples.back().temperatureC,
                 std::uint16_t(65526));
    }

    // For people: the file and the address, the figures in the panel's units.
    void textSummaries()
    {
        const Run r = run({"report", file("stdout.csv"), file("book-3.xlsx")});
        QVERIFY2(r.status == 0, r.err);
        const QString out = QString::fromUtf8(r.out);
        QVERIFY2(out.contains(file("stdout.csv") + ", address 3: ") &&
                     out.contains(file("stdout.csv") + ", address 5: ") &&
                     out.contains(file("book-3.xlsx") + ": end not recorded"),
                 qPrintable(out));
        QVERIFY2(out.contains("lowest 13.10V") && out.contains("lowest 12.10V"), qPrintable(out));
    }

    // A full disk cut the last row: the rows before are reported, the cut one
    // named on stderr. Cut anywhere else, the log is refused.
    void tornLog()
    {
        QByteArray log = contents(file("log-5.csv"));
        const int rows = int(log.count('\n')) - 1;
        QVERIFY(rows >= 3);
        QVERIFY(writeFile(file("torn.csv"), log.left(log.size() - 9)));
        const Run torn = run({"report", "--json", file("torn.csv")});
        QVERIFY2(torn.status == 0, torn.err);
        const QList<QJsonObject> reports = torn.json();
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports[0]["summary"]["samples"].toInt(), rows - 1);
        QCOMPARE(QString::fromUtf8(torn.err),
                 QStringLiteral(
                     "eload-cli: warning: %1: line %2 is incomplete (the file ends inside it, as "
                     "after a full disk); skipped\n")
                     .arg(file("torn.csv"))
                     .arg(rows + 1));

        const qsizetype second = log.indexOf('\n', log.indexOf('\n') + 1);
        QVERIFY(writeFile(file("cut.csv"), log.left(second - 9) + log.mid(second)));
        const Run cut = run({"report", file("cut.csv")});
        QCOMPARE(cut.status, 1);
        QVERIFY2(cut.out.isEmpty(), cut.out);
        QVERIFY2(cut.err.startsWith("eload-cli: " + file("cut.csv").toUtf8() +
                                    ": line 2 should have 11 fields"),
                 cut.err);
    }

    // Books after a roll-over are workbooks of their own, as the recording
    // watch uses writes them: each is reported, with the part it covers (the
    // second does not begin at the module's zero).
    void rolledOverBooks()
    {
        modbus::RegisterBlock raw{};
        std::copy(kRegisters.begin(), kRegisters.end(), raw.begin());
        WorkbookRecording recording;
        QCOMPARE(recording.start(fileBooks(file("long"))), std::nullopt);
        const QDateTime start(QDate(2026, 3, 5), QTime(14, 0));
        const int rows = kRowsPerBook + 10;
        for (int i = 0; i < rows; ++i) {
            raw[modbus::RegCapacityHigh] = std::uint16_t(i >> 16);
            raw[modbus::RegCapacityLow] = std::uint16_t(i);
            const QDateTime t = start.addSecs(i);
            QCOMPARE(recording.append(rowFromReading(modbus::readingFromRegisters(raw, t), t)),
                     std::nullopt);
        }
        QCOMPARE(recording.save(), std::nullopt);
        const Run r = run({"report", "--json", file("long.xlsx"), file("long_2.xlsx")});
        QVERIFY2(r.status == 0, r.err);
        const QList<QJsonObject> reports = r.json();
        QCOMPARE(reports.size(), 2);
        QCOMPARE(reports[0]["summary"]["samples"].toInt(), kRowsPerBook);
        QCOMPARE(capacityOf(reports[0]), (kRowsPerBook - 1) / 1000.0);
        QCOMPARE(reports[1]["summary"]["samples"].toInt(), 10);
        QCOMPARE(capacityOf(reports[1]), (rows - kRowsPerBook - 1) / 1000.0);
    }

    // The chart window takes the CSV on stdout as one reference per module.
    void chartTakesEveryModule()
    {
        QProcess probe;
        probe.start(CHART_REFERENCE_PROBE, {"0", file("stdout.csv")});
        QVERIFY(probe.waitForFinished(kWaitMs));
        QCOMPARE(probe.exitCode(), 0);
        const QString out = QString::fromUtf8(probe.readAllStandardOutput());
        QVERIFY2(out.startsWith(QStringLiteral("references 2\nreference stdout（地址 3）\n"
                                               "reference stdout（地址 5）\nbox \n")),
                 qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(TestReport)
#include "test_report.moc"
