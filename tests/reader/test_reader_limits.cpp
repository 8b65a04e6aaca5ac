// Files made to turn the reader against the program, each read in a process
// whose address space is limited: ten million nested elements in 69 KB, one
// 500 MiB cell in 511 KB, the same behind noise that keeps the compression
// ratio honest, a tag of 20 MiB, too many shared strings, zip bombs, a
// directory that lies. The read
// ends soon, in a message, within a few MiB; the chart window loading one as
// a reference says so and lives on, as it does when memory runs out.

#include "reader/RecordingFile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace eload;

namespace {

// The crafted kinds of write_workbook.py used here.
const QStringList kCrafted = {"nested",         "bigcell",          "bigshared",    "nested-padded",
                              "bigcell-padded", "bigshared-padded", "bigattribute", "bomb",
                              "liar",           "manyshared"};

// Room for the read beyond what a probe holds at its start. Today's reader
// took 1.7 GB and 2.6 GB for the first two.
constexpr int kLimitMib = 256;

struct Run {
    int status = -1;
    QByteArray out, err;
};

Run run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(180000)) p.kill();
    p.waitForFinished();
    const bool normal = p.exitStatus() == QProcess::NormalExit;
    return {normal ? p.exitCode() : -1, p.readAllStandardOutput(), p.readAllStandardError()};
}

} // namespace

class TestReaderLimits : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(const QString& kind) const { return dir_.filePath(kind + ".xlsx"); }

private Q_SLOTS:
    // All at once: the machine's cores share the compression.
    void initTestCase()
    {
        std::vector<std::unique_ptr<QProcess>> writers;
        for (const QString& kind : kCrafted) {
            writers.push_back(std::make_unique<QProcess>());
            writers.back()->start("/usr/bin/python3", {WRITE_WORKBOOK_PY, kind, path(kind)});
        }
        for (auto& w : writers) {
            QVERIFY(w->waitForFinished(300000));
            QVERIFY2(w->exitCode() == 0, w->readAllStandardError());
        }
        QVERIFY(QFileInfo(path("nested")).size() < 80'000);
        QVERIFY(QFileInfo(path("bigcell")).size() < 600'000);
    }

    void craftedFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("chinese");
        QTest::addColumn<int>("mib"); // the read's memory: what it keeps and the parser's 16 MiB
        const QString sheet = "xl/worksheets/sheet1.xml", shared = "xl/sharedStrings.xml";
        const auto row = [](const QString& kind, const QString& english, const QString& chinese,
                            int mib = 32) {
            QTest::newRow(qPrintable(kind)) << kind << english << chinese << mib;
        };
        const QString bomb = " is compressed more than 200 to 1 (a zip bomb?); not read";
        const QString bombZh = QStringLiteral(" 的压缩比超过 200 比 1（疑为压缩炸弹），不予读取");
        row("nested", sheet + bomb, sheet + bombZh);
        row("bigcell", sheet + bomb, sheet + bombZh);
        row("bigshared", shared + bomb, shared + bombZh);
        row("bomb", sheet + bomb, sheet + bombZh);
        row("liar", sheet + bomb, sheet + bombZh); // the directory's sizes say 5 to 1
        row("nested-padded", sheet + " nests elements deeper than 64 levels; not read",
            sheet + QStringLiteral(" 的元素嵌套超过 64 层，不予读取"));
        row("bigcell-padded", "row 2, column B: a text longer than 32767 characters; not read",
            QStringLiteral("第 2 行 B 列的文字超过 32767 个字符，不予读取"));
        row("bigshared-padded", shared + " holds a text longer than 32767 characters; not read",
            shared + QStringLiteral(" 中有文字超过 32767 个字符，不予读取"));
        row("bigattribute", sheet + " holds an element larger than 16 MiB; not read",
            sheet + QStringLiteral(" 中有元素超过 16 MiB，不予读取"));
        // 8,388,608 strings kept, 12 bytes each
        row("manyshared", "more than 8388608 shared strings or 134217728 bytes of them; not read",
            QStringLiteral("共享字符串超过上限（8388608 个或 134217728 字节），不予读取"), 128);
    }
    // The message, soon, and the memory of the read bounded.
    void craftedFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, english);
        QFETCH(QString, chinese);
        QFETCH(int, mib);
        QElapsedTimer clock;
        clock.start();
        const Run r = run(READ_PROBE, {"--limit-mib", QString::number(kLimitMib), path(kind)});
        QVERIFY2(r.status == 0, r.err);
        QVERIFY2(clock.elapsed() < 60000, "the read did not end soon");
        const QJsonObject o = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(o["error"].toString(), path(kind) + ": " + english);
        QCOMPARE(o["message"].toString(), path(kind) + ": " + chinese);
        const double grownKb = o["hwm_kb_after"].toDouble() - o["hwm_kb_before"].toDouble();
        QVERIFY2(grownKb < mib * 1024, qPrintable(QString::number(grownKb)));
    }

    // The two files as references in the chart window, its worker's
    // address space limited: the window names the file and the reason.
    void chartWindowSurvives_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");
        QTest::newRow("nested") << "nested" << QStringLiteral("的压缩比超过 200 比 1");
        QTest::newRow("bigcell") << "bigcell" << QStringLiteral("的压缩比超过 200 比 1");
        QTest::newRow("nested-padded") << "nested-padded" << QStringLiteral("的元素嵌套超过 64 层");
        QTest::newRow("bigcell-padded")
            << "bigcell-padded" << QStringLiteral("第 2 行 B 列的文字超过 32767 个字符");
    }
    void chartWindowSurvives()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        const Run r = run(CHART_REFERENCE_PROBE, {QString::number(kLimitMib), path(kind)});
        QVERIFY2(r.status == 0, r.err);
        const QString out = QString::fromUtf8(r.out);
        QVERIFY2(out.contains("references 0\n"), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("无法读取参考曲线：\n") + path(kind)) &&
                     out.contains(said),
                 qPrintable(out));
    }

    // A genuine log too large for the memory left: the read fails like any
    // other, in a message, the reader's or the window's worker's.
    void outOfMemoryIsAMessage()
    {
#ifdef __SANITIZE_ADDRESS__
        QSKIP("AddressSanitizer's allocator aborts where the real one throws std::bad_alloc");
#endif
        const QString csv = dir_.filePath("long.csv");
        QFile f(csv);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(reader::csvHeader().toUtf8() + '\n');
        discharge::Sample s;
        s.msecs = QDateTime(QDate(2026, 3, 5), QTime(14, 0)).toMSecsSinceEpoch();
        const QByteArray row = reader::csvRow(s).toUtf8() + '\n';
        for (int i = 0; i < 400'000; ++i) // 22 MB of samples to keep
            f.write(row);
        f.close();

        const Run read = run(READ_PROBE, {"--limit-mib", "12", csv});
        QVERIFY2(read.status == 0, read.err);
        QCOMPARE(QJsonDocument::fromJson(read.out).object()["error"].toString(),
                 csv + ": not enough memory to read it");

        const Run chart = run(CHART_REFERENCE_PROBE, {"12", csv});
        QVERIFY2(chart.status == 0, chart.err);
        QVERIFY2(chart.out.contains(
                     (QStringLiteral("无法读取参考曲线：\n") + csv + ": 内存不足").toUtf8()),
                 chart.out);
    }
};

QTEST_GUILESS_MAIN(TestReaderLimits)
#include "test_reader_limits.moc"
