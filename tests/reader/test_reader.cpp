// Recordings read back: workbooks of the panel and of openpyxl, the CSV logs
// of watch (with and without the address column, cut short by a full disk),
// every failure told in both languages; the value-to-count conversion that
// every text of a figure goes through.

#include "core/Texts.h"
#include "modbus/Formats.h"
#include "reader/RecordingFile.h"
#include "recording/XlsxSpreadsheet.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <limits>

using namespace eload;
using namespace eload::reader;

namespace {

QString runPython(const QStringList& args)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), QStringList{WRITE_WORKBOOK_PY} + args);
    if (!python.waitForFinished(120000) || python.exitCode() != 0)
        return QString::fromUtf8(python.readAllStandardError()) + QStringLiteral(" (failed)");
    return {};
}

const ReadError* errorOf(const ReadResult& r) { return std::get_if<ReadError>(&r); }

QString messageOf(const ReadResult& r)
{
    const ReadError* e = errorOf(r);
    return e ? e->message() : QString();
}

const RecordedCurve& onlyCurve(const ReadResult& r)
{
    return std::get<Recording>(r).curves.front();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

discharge::Sample sampleAt(int second, double volts, double ah, std::uint16_t temperature)
{
    discharge::Sample s;
    s.msecs = 1'700'000'000'000 + second * 1000ll + 123;
    s.loadOn = true;
    s.voltage = float(volts);
    s.current = 2.5f;
    s.power = float(volts * 2.5);
    s.capacityAh = ah;
    s.energyWh = ah * volts;
    s.temperatureC = temperature;
    s.resistanceMilliohm = 35;
    s.dischargeSeconds = second;
    return s;
}

QByteArray csvLog(const std::vector<discharge::Sample>& samples, const QByteArray& lineEnd = "\n")
{
    QByteArray log = csvHeader().toUtf8() + lineEnd;
    for (const discharge::Sample& s : samples)
        log += csvRow(s).toUtf8() + lineEnd;
    return log;
}

} // namespace

class TestReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void valueTextsParseBack()
    {
        QCOMPARE(modbus::valueOfText(modbus::capacityText(65536), u"AH"), 65.536);
        QCOMPARE(modbus::valueOfText(modbus::capacityText(65536), u"A"), std::nullopt);
        QCOMPARE(modbus::valueOfText(u"1,25A", u"A"), std::nullopt);
        QCOMPARE(modbus::secondsOfDischargeTimeText(u" 01:02:03"), 3723);
        QCOMPARE(modbus::secondsOfDischargeTimeText(u"01:60:03"), std::nullopt);
    }

    // One conversion for every figure's text: nearest count, saturating at
    // the count's range, never wrapping (capacities beyond 2^32 thousandths).
    void valuesToCounts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        using namespace modbus;
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const auto row = [](const char* name, const QString& text, const char* expected) {
            QTest::newRow(name) << text << QString::fromUtf8(expected);
        };
        row("volts", voltageText(hundredthsOfValue(12.34)), "12.34V");
        row("volts, half a count", voltageText(hundredthsOfValue(0.125)), "0.13V");
        row("volts below zero", voltageText(hundredthsOfValue(-1)), "0.00V");
        row("volts NaN", voltageText(hundredthsOfValue(nan)), "0.00V");
        row("volts beyond a register", voltageText(hundredthsOfValue(700)), "655.35V");
        row("capacity", capacityText(thousandthsOfValue(2.2)), "2.200AH");
        row("capacity beyond 32 bits", capacityText(thousandthsOfValue(5'000'000)),
            "5000000.000AH");
        row("energy beyond 32 bits", energyText(thousandthsOfValue(4'294'967.296)),
            "4294967.296WH");
        row("capacity beyond 64 bits", capacityText(thousandthsOfValue(1e300)),
            "18446744073709551.615AH");
        row("duration", durationText(wholeOfValue(3723.4)), "01:02:03");
        row("duration beyond 65535 h", durationText(wholeOfValue(70000.0 * 3600)), "70000:00:00");
        row("duration beyond 32 bits", durationText(wholeOfValue(1e12)), "1193046:28:15");
    }
    void valuesToCounts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    // As the recorder writes it: libxlsxwriter, inline strings, number in
    // column 1; the temperature as the panel shows the register (65526 is
    // what a module reads at -10 ℃).
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
                modbus::temperatureText(std::uint16_t(65526 + n)),
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
        QCOMPARE(messageOf(read), QString());
        QCOMPARE(std::get<Recording>(read).curves.size(), std::size_t(1));
        const RecordedCurve& curve = onlyCurve(read);
        QCOMPARE(curve.name, QStringLiteral("2026-03-05_14时05分02秒"));
        QCOMPARE(curve.address, 0);
        QCOMPARE(curve.samples.size(), std::size_t(3));
        const discharge::Sample& last = curve.samples.back();
        QCOMPARE(csvRow(last).section(u',', 1), // every value, through the CSV's texts
                 QStringLiteral("12.32,2.00,24.68,2.000,24.000,65528,35,0,1,7201"));
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
        QCOMPARE(messageOf(read), QString());
        const auto& samples = onlyCurve(read).samples;
        QCOMPARE(samples.size(), std::size_t(2));
        QCOMPARE(samples[0].voltage, 12.34f);                // rich-text runs of a shared string
        QCOMPARE(samples[1].voltage, 12.3f);                 // a number cell
        QCOMPARE(samples[1].msecs - samples[0].msecs, 1000); // a date cell
        QCOMPARE(samples[1].energyWh, 0.012);
    }

    // Each failure names the file and what was wrong: for the window as it
    // always read, for eload-cli in English. The small crafted files here;
    // the large ones in test_reader_limits.
    void workbookErrors_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("chinese");
        QTest::addColumn<QString>("english");
        const auto row = [](const char* kind, const char* chinese, const char* english) {
            QTest::newRow(kind) << kind << QString::fromUtf8(chinese) << english;
        };
        row("truncated", "文件不完整或已损坏", "incomplete or damaged");
        row("foreign", "不是本程序的记录：第 1 行应为表头",
            "not a recording of the panel: row 1 should be the header");
        row("badrow", "第 3 行 D 列（电压）的值“abc”无法识别",
            "row 3, column D (voltage): \"abc\" is not a value");
        row("other-zip", "不是 xlsx 工作簿（缺少 xl/workbook.xml）",
            "not an .xlsx workbook (no xl/workbook.xml)");
        row("text", "不是 xlsx 工作簿（不是 zip 文件）", "not an .xlsx workbook (not a zip file)");
        row("empty", "文件为空", "the file is empty");
        row("missing", "文件不存在", "no such file");
        row("doctype", "xl/worksheets/sheet1.xml 不是完整的 XML（第 1 行：",
            "xl/worksheets/sheet1.xml is not well-formed XML (line 1: a document type");
        row("huge", "xl/worksheets/sheet1.xml 解压后超过 2048 MiB 的上限，不予读取",
            "xl/worksheets/sheet1.xml is larger than 2048 MiB uncompressed; not read");
    }
    void workbookErrors()
    {
        QFETCH(QString, kind);
        QFETCH(QString, chinese);
        QFETCH(QString, english);
        QTemporaryDir dir;
        const QString path = dir.filePath(kind + ".xlsx");
        if (kind == u"text")
            QVERIFY(writeFile(path, "序号,时间\n"));
        else if (kind == u"empty")
            QVERIFY(writeFile(path, {}));
        else if (kind != u"missing")
            QCOMPARE(runPython({kind == u"truncated" ? "panel" : kind, path}), QString());
        if (kind == u"truncated") QVERIFY(QFile::resize(path, QFileInfo(path).size() / 2));
        const ReadResult read = readRecording(path);
        const ReadError* e = errorOf(read);
        QVERIFY(e);
        QCOMPARE(e->file, path);
        QVERIFY2(e->message().startsWith(path + ": ") && e->message().contains(chinese),
                 qPrintable(e->message()));
        QVERIFY2(e->englishMessage().startsWith(path + ": ") &&
                     e->englishMessage().contains(english),
                 qPrintable(e->englishMessage()));
    }

    // The CSV log round trip: CR LF, a byte-order mark, every register
    // unsigned (an older log's signed temperature is the same register).
    void csvRoundTrip()
    {
        std::vector<discharge::Sample> samples = {sampleAt(0, 12.6, 0, 28),
                                                  sampleAt(1, 11.98, 65.536, 65526)};
        samples[0].loadOn = false;
        samples[1].protection = 1;
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("log.csv"), "\xEF\xBB\xBF" + csvLog(samples, "\r\n")));
        QVERIFY(csvRow(samples[1]).endsWith(u",11.98,2.50,29.95,65.536,785.121,65526,35,1,1,1"));
        const ReadResult read = readRecording(dir.filePath("log.csv"));
        QCOMPARE(messageOf(read), QString());
        const auto& back = onlyCurve(read).samples;
        QCOMPARE(back.size(), samples.size());
        for (std::size_t i = 0; i < back.size(); ++i)
            QCOMPARE(csvRow(back[i]), csvRow(samples[i]));
        QCOMPARE(back[1].msecs, samples[1].msecs);

        QVERIFY(writeFile(dir.filePath("old.csv"), csvLog(samples).replace(",65526,", ",-10,")));
        const ReadResult old = readRecording(dir.filePath("old.csv"));
        QCOMPARE(messageOf(old), QString());
        QCOMPARE(onlyCurve(old).samples[1].temperatureC, std::uint16_t(65526));
    }

    void csvErrors_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("chinese");
        QTest::addColumn<QString>("english");
        const QByteArray header = csvHeader().toUtf8() + "\n";
        const QByteArray row = csvRow(sampleAt(1, 11.98, 1, 30)).toUtf8() + "\n";
        const auto add = [](const char* name, const QByteArray& text, const char* chinese,
                            const char* english) {
            QTest::newRow(name) << text << QString::fromUtf8(chinese) << english;
        };
        add("not ours", "time,voltage\n", "不是本程序的 CSV 记录",
            "not a CSV log of the panel or of watch --csv");
        add("bad value", header + QByteArray(row).replace(",11.98,", ",x,"),
            "第 2 行 B 列（voltage_V）的值“x”无法识别",
            "line 2, column B (voltage_V): \"x\" is not a value");
        add("torn in the middle", header + row.left(30) + "\n" + row,
            "第 2 行应有 11 列，实有 2 列", "line 2 should have 11 fields, it has 2");
        add("load state", header + QByteArray(row).replace(",0,1,", ",0,2,"), "J 列（load_on）",
            "column J (load_on)");
        add("temperature beyond the register", header + QByteArray(row).replace(",30,", ",65536,"),
            "G 列（temperature_C）的值“65536”", "column G (temperature_C): \"65536\"");
        add("address", "address," + header + "0," + row, "第 2 行 A 列（address）的值“0”",
            "line 2, column A (address): \"0\" is not a value");
        add("address row without its address", "address," + header + row,
            "第 2 行应有 12 列，实有 11 列", "line 2 should have 12 fields, it has 11");
        add("line too long", header + QByteArray(5000, 'x') + "\n", "第 2 行过长",
            "line 2 is too long");
    }
    void csvErrors()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, chinese);
        QFETCH(QString, english);
        QTemporaryDir dir;
        const QString path = dir.filePath("bad.csv");
        QVERIFY(writeFile(path, text));
        const ReadResult read = readCsv(path);
        const ReadError* e = errorOf(read);
        QVERIFY(e);
        QVERIFY2(e->message().startsWith(path + ": ") && e->message().contains(chinese),
                 qPrintable(e->message()));
        QVERIFY2(e->englishMessage().startsWith(path + ": ") &&
                     e->englishMessage().contains(english),
                 qPrintable(e->englishMessage()));
    }

    // A full disk cuts the last row anywhere, even inside a number that still
    // parses: without its line end it is skipped, with a warning naming it.
    void csvTornLastRow_data()
    {
        QTest::addColumn<int>("keep"); // bytes of the last row left
        QTest::newRow("inside the time") << 7;
        QTest::newRow("inside the last number, which still parses") << -2;
        QTest::newRow("all but the line end") << -1;
    }
    void csvTornLastRow()
    {
        QFETCH(int, keep);
        std::vector<discharge::Sample> samples;
        for (int i = 0; i < 60; ++i)
            samples.push_back(sampleAt(i, 12 - i * 0.01, i * 0.001, 30));
        samples.push_back(sampleAt(3723, 11, 1, 30));
        QByteArray log = csvLog(samples);
        const qsizetype lastRow = log.lastIndexOf('\n', log.size() - 2) + 1;
        log.chop(keep > 0 ? log.size() - lastRow - keep : -keep);
        QTemporaryDir dir;
        const QString path = dir.filePath("full-disk.csv");
        QVERIFY(writeFile(path, log));
        const ReadResult read = readRecording(path);
        QCOMPARE(messageOf(read), QString());
        const Recording& r = std::get<Recording>(read);
        QCOMPARE(r.curves.front().samples.size(), std::size_t(60));
        QCOMPARE(r.warnings.size(), std::size_t(1));
        QCOMPARE(r.warnings[0].problem, ReadProblem::TornLastRow);
        QCOMPARE(r.warnings[0].englishMessage(),
                 path + ": line 62 is incomplete (the file ends inside it, as after a full "
                        "disk); skipped");
        QCOMPARE(r.warnings[0].message(),
                 path + QStringLiteral(": 第 62 行不完整（文件在该行中间结束），已跳过"));
    }

    // `watch --csv` on standard output: the address first, the modules'
    // rows interleaved; a curve each, in the order they first answer.
    void csvWithAddresses()
    {
        QByteArray log = "address," + csvHeader().toUtf8() + "\n";
        for (int i = 0; i < 30; ++i)
            for (int address : {7, 2})
                log += QByteArray::number(address) + ',' +
                       csvRow(sampleAt(i, 12 - address * 0.1, i * 0.01 * address, 30)).toUtf8() +
                       "\n";
        QTemporaryDir dir;
        const QString path = dir.filePath("stdout.csv");
        QVERIFY(writeFile(path, log));
        const ReadResult read = readRecording(path);
        QCOMPARE(messageOf(read), QString());
        const Recording& r = std::get<Recording>(read);
        QCOMPARE(r.curves.size(), std::size_t(2));
        QCOMPARE(r.curves[0].address, 7);
        QCOMPARE(r.curves[1].address, 2);
        for (const RecordedCurve& c : r.curves) {
            QCOMPARE(c.name, QStringLiteral("stdout"));
            QCOMPARE(c.samples.size(), std::size_t(30));
            QCOMPARE(c.samples.back().capacityAh, 0.29 * c.address);
            QCOMPARE(c.samples.back().voltage, float(12 - c.address * 0.1));
        }
        QVERIFY(r.warnings.empty());
    }

    void unsupportedType()
    {
        const ReadResult read = readRecording(QStringLiteral("/tmp/notes.txt"));
        const ReadError* e = errorOf(read);
        QVERIFY(e);
        QCOMPARE(e->englishMessage(),
                 QStringLiteral("/tmp/notes.txt: not a recording: .xlsx or .csv expected"));
        QCOMPARE(e->message(),
                 QStringLiteral("/tmp/notes.txt: 不支持的文件类型（应为 .xlsx 或 .csv）"));
    }
};

QTEST_GUILESS_MAIN(TestReader)
#include "test_reader.moc"
