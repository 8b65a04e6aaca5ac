// A genuine workbook of 1,000,000 rows in the panel's layout, written by
// another program (openpyxl's write-only mode: inline strings, 607 MB of
// sheet XML), read whole in a process whose address space is limited, its
// memory within about twice what the samples keep. Writing it takes about a
// minute of CPU: it is written once per run, and labelled `large`.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kRows = 1'000'000;
constexpr int kLimitMib = 256; // the samples keep 56 MB

} // namespace

class TestReaderMillion : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString book() const { return dir_.filePath("million.xlsx"); }

private Q_SLOTS:
    void initTestCase()
    {
        QProcess python;
        python.start("/usr/bin/python3",
                     {WRITE_WORKBOOK_PY, "million", book(), QString::number(kRows)});
        QVERIFY(python.waitForFinished(900000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError());
    }

    void readWhole()
    {
        QProcess probe;
        probe.start(READ_PROBE, {"--limit-mib", QString::number(kLimitMib), book()});
        QVERIFY(probe.waitForFinished(600000));
        QVERIFY2(probe.exitCode() == 0, probe.readAllStandardError());
        const QJsonObject o = QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
        QVERIFY2(!o.contains("error"), qPrintable(o["error"].toString()));
        QCOMPARE(o["rows"].toInt(), kRows);
        // Row 1,000,001: 277:46:39 into the discharge, eleven days on.
        const QString last = o["last"].toString();
        QVERIFY2(last.startsWith("2026-03-16T13:46:39.000"), qPrintable(last));
        QVERIFY2(last.endsWith(",11.61,2.00,24.00,555.555,6666.660,65526,35,0,1,999999"),
                 qPrintable(last));
#ifndef __SANITIZE_ADDRESS__ // its quarantine and shadow memory are not the reader's
        const double grownKb = o["hwm_kb_after"].toDouble() - o["hwm_kb_before"].toDouble();
        const double keptKb = o["kept_bytes"].toDouble() / 1024;
        QVERIFY2(grownKb < 2 * keptKb,
                 qPrintable(QStringLiteral("%1 kB for %2 kB kept").arg(grownKb).arg(keptKb)));
#endif
    }
};

QTEST_GUILESS_MAIN(TestReaderMillion)
#include "test_reader_million.moc"
