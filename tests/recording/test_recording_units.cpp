// The pieces under the recorder: the row journal on disk and the failures
// of the libxlsxwriter workbook.

#include "recording/RecordLayout.h"
#include "recording/RowJournal.h"
#include "recording/XlsxSpreadsheet.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace eload;

namespace {

RecordRow sampleRow(int number)
{
    return {number,
            {QStringLiteral("2026-03-05 14时:05分:09秒"), QStringLiteral("1.25A"),
             QStringLiteral("12.00V"), QStringLiteral("15.00W"), QStringLiteral("25℃"),
             QStringLiteral("120MR"), QStringLiteral("0.125AH"), QStringLiteral("1.500WH"),
             QStringLiteral(" 01:05:09")}};
}

void appendBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::Append));
    f.write(bytes);
}

QList<RecordRow> readAll(RowJournal& journal)
{
    QList<RecordRow> rows;
    const auto e = journal.readRows([&](const RecordRow& r) -> std::optional<QString> {
        rows.append(r);
        return std::nullopt;
    });
    if (e) qWarning("%s", qPrintable(*e));
    return rows;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

class RecordingUnitsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void journalLineRoundTrip()
    {
        RecordRow row = sampleRow(65533);
        row.texts[1] = QStringLiteral("a\tb\nc\\d\re\\t");
        row.texts[8] = QString();
        const QByteArray line = journalLine(row);
        QCOMPARE(line.count('\n'), 1);
        QCOMPARE(parseJournalLine(line), std::optional<RecordRow>(row));
    }

    void damagedLines_data()
    {
        const QByteArray good = journalLine(sampleRow(7));
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("cut short") << good.left(good.size() - 1);
        QByteArray flipped = good;
        flipped[3] = flipped[3] == 'x' ? 'y' : 'x';
        QTest::newRow("changed byte") << flipped;
        QTest::newRow("zeros") << QByteArray(40, '\0') + '\n';
    }
    void damagedLines()
    {
        QFETCH(QByteArray, line);
        QVERIFY(!parseJournalLine(line));
    }

    void journalKeepsRowsUpToATornTail()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(RowJournal::fileNameFor(QStringLiteral("stem")));
        {
            RowJournal journal;
            QCOMPARE(journal.create(path), std::nullopt);
            for (int n = 1; n <= 3; ++n)
                QCOMPARE(journal.append(sampleRow(n)), std::nullopt);
            QCOMPARE(journal.sync(), std::nullopt);
        } // closed as a crash would leave it
        appendBytes(path, journalLine(sampleRow(4)).left(15));

        RowJournal again;
        QVERIFY(again.create(path).has_value()); // never over an existing journal
        QCOMPARE(again.adopt(path), std::nullopt);
        const QList<RecordRow> rows = readAll(again);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[2], sampleRow(3));
        again.remove();
        QVERIFY(!QFile::exists(path));
    }

    // A failed save leaves neither the workbook nor its part file. Tests run
    // as root, which ignores folder permissions, so the failures come from
    // folders that are missing or are files.
    void failedSaveLeavesNothing_data()
    {
        QTest::addColumn<bool>("scratchGone");
        QTest::newRow("target folder is a file") << false;
        QTest::newRow("scratch folder removed") << true;
    }
    void failedSaveLeavesNothing()
    {
        QFETCH(bool, scratchGone);
        QTemporaryDir dir;
        const QString scratch = dir.filePath(QStringLiteral("scratch"));
        QVERIFY(QDir().mkpath(scratch));
        appendBytes(dir.filePath(QStringLiteral("plain")), "not a folder");
        XlsxSpreadsheet sheet(scratch);
        QCOMPARE(sheet.newBook(), std::nullopt);
        QCOMPARE(sheet.setNumber(1, 1, 1), std::nullopt);
        QCOMPARE(sheet.setNumber(2, 1, 2), std::nullopt);
        if (scratchGone) QVERIFY(QDir(scratch).removeRecursively());
        const QString target = scratchGone ? dir.filePath(QStringLiteral("book"))
                                           : dir.filePath(QStringLiteral("plain/book"));
        const auto failure = sheet.saveAs(target);
        QVERIFY(failure.has_value());
        QVERIFY(!failure->message.isEmpty());
        sheet.close();
        QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("plain")});
        if (!scratchGone) QVERIFY(filesIn(scratch).isEmpty());
    }
};

QTEST_GUILESS_MAIN(RecordingUnitsTest)
#include "test_recording_units.moc"
