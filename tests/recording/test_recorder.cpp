// The record / save button, the row writer, the roll-over, shutdown and
// recovery, over the in-memory panel; workbooks are read back with openpyxl.

#include "RowPattern.h"
#include "WorkbookReader.h"
#include "recording/RecordLayout.h"
#include "recording/Recorder.h"
#include "recording/XlsxSpreadsheet.h"
#include "support/Rig.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace eload;
using namespace eload::test;

namespace {

const QString kStem = QStringLiteral("2026-03-05_14时07分09秒"); // FakeClock's start
const QString kRowTime = QStringLiteral("2026-03-05 14时:07分:09秒");

// Saves fail while `failures` is above zero, as a full disk would make them.
class FlakySpreadsheet final : public XlsxSpreadsheet {
public:
    FlakySpreadsheet(const QString& folder, int& failures)
        : XlsxSpreadsheet(folder), failures_(failures)
    {
    }
    std::optional<SheetError> saveAs(const QString& fileName) override
    {
        if (failures_ > 0 && failures_--)
            return SheetError{QStringLiteral("No space left on device")};
        return XlsxSpreadsheet::saveAs(fileName);
    }

private:
    int& failures_;
};

struct RecorderRig : Rig {
    QTemporaryDir dir;
    QString app = dir.filePath(QStringLiteral("app"));
    QString docs = dir.filePath(QStringLiteral("docs"));
    int saveFailures = 0;
    std::unique_ptr<Recorder> recorder;

    RecorderRig()
    {
        QDir().mkpath(app);
        state.AppFolder = app;
        restart();
        openPort();
    }
    // A new program run over the same folders.
    void restart()
    {
        recorder.reset();
        recorder = std::make_unique<Recorder>(
            ctx, RecorderOptions{app, docs, [this](const QString& folder) {
                                     return std::make_unique<FlakySpreadsheet>(folder,
                                                                               saveFailures);
                                 }});
    }
    void polls(int first, int count)
    {
        for (int n = first; n < first + count; ++n) {
            showValuesFor(panel, n);
            recorder->WriteRow();
        }
    }
    // What the stop by Command_OK3 does to the button.
    void stopAcquisition()
    {
        panel.setEnabled(Ctl::Command6, true);
        if (state.RecordFlag == QStringLiteral("1")) panel.setText(Ctl::Command6, texts::kSave);
    }
    QStringList files(const QString& folder) const
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QString button() const { return panel.text(Ctl::Command6); }
};

// Rows 2 onward as the recorder must have written polls first .. first+count-1.
QList<SheetRow> expectedRows(int first, int count, int number = 1, const QString& time = kRowTime)
{
    QList<SheetRow> rows;
    for (int n = first; n < first + count; ++n)
        rows.append(sheetRow(number++, QStringList{time} + rowTextsFor(n)));
    return rows;
}

QList<SheetRow> bookRows(const QString& path)
{
    const auto book = readWorkbook(path);
    if (!book) return {};
    if (book->head.value(0) != SheetRow(texts::kRecordHeader.begin(), texts::kRecordHeader.end())) {
        qWarning("header row differs");
        return {};
    }
    return book->head.mid(1);
}

} // namespace

class RecorderTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recordStopSave()
    {
        RecorderRig rig;
        rig.recorder->Command6_Click();
        QCOMPARE(rig.button(), texts::kRecording);
        QVERIFY(!rig.panel.isEnabled(Ctl::Command6));
        QCOMPARE(rig.state.RecordFlag, QStringLiteral("1"));
        QCOMPARE(rig.state.BookName, kStem);
        QCOMPARE(rig.files(rig.app), QStringList{RowJournal::fileNameFor(kStem)});
        rig.polls(10, 3);
        QCOMPARE(rig.state.NextRow, QStringLiteral("5"));
        QVERIFY(!rig.recorder->rowsSynced());
        QTRY_VERIFY_WITH_TIMEOUT(rig.recorder->rowsSynced(), 10000);
        rig.stopAcquisition();
        rig.polls(20, 2); // "保 存": no rows
        QCOMPARE(rig.state.NextRow, QStringLiteral("5"));
        rig.recorder->Command6_Click();
        QCOMPARE(rig.button(), texts::kRecord);
        QCOMPARE(rig.state.RecordFlag, QStringLiteral("0"));
        QCOMPARE(rig.files(rig.app), QStringList{kStem + QStringLiteral(".xlsx")});
        QCOMPARE(bookRows(rig.app + QStringLiteral("/") + kStem + QStringLiteral(".xlsx")),
                 expectedRows(10, 3));
        QVERIFY(rig.panel.messages.isEmpty());
    }

    // 65533 rows fill a workbook; the next poll goes to row 2 of a new one.
    // A failing roll-over save stops the rows and waits for "保 存" instead.
    void rollOver_data()
    {
        QTest::addColumn<int>("failures");
        QTest::newRow("saved") << 0;
        QTest::newRow("save fails once") << 1;
    }
    void rollOver()
    {
        QFETCH(int, failures);
        RecorderRig rig;
        rig.recorder->Command6_Click();
        rig.polls(1, kRowsPerBook - 1);
        rig.saveFailures = failures;
        rig.clock.current = rig.clock.current.addSecs(9 * 3600);
        const QString second = bookNameAt(rig.clock.current);
        rig.polls(kRowsPerBook, 1);
        QCOMPARE(rig.state.RecordFlag, QStringLiteral("1"));
        if (failures) {
            QCOMPARE(rig.panel.messages, QStringList{texts::kRecordSaveFailed});
            QCOMPARE(rig.button(), texts::kSave);
            QVERIFY(rig.panel.isEnabled(Ctl::Command6));
            rig.polls(1, 1);
            QCOMPARE(rig.state.NextRow, QString::number(kRollOverRow));
            rig.recorder->Command6_Click(); // the retry
        } else {
            QCOMPARE(rig.button(), texts::kRecording);
            QVERIFY(!rig.panel.isEnabled(Ctl::Command6));
            QCOMPARE(rig.state.NextRow, QStringLiteral("2"));
            QCOMPARE(rig.state.BookName, second);
            rig.polls(7, 1);
            rig.recorder->saveAtShutdown();
            QCOMPARE(bookRows(rig.app + QStringLiteral("/") + second + QStringLiteral(".xlsx")),
                     expectedRows(7, 1, 1, rowTimeText(rig.clock.current)));
        }
        const auto full = readWorkbook(rig.app + QStringLiteral("/") + kStem + ".xlsx", 1);
        QVERIFY(full);
        QCOMPARE(full->count, kRowsPerBook + 1);
        QCOMPARE(full->tail,
                 expectedRows(kRowsPerBook, 1, kRowsPerBook, rowTimeText(rig.clock.current)));
        QVERIFY(!rig.files(rig.app).join(QString()).contains(QStringLiteral(".rows")));
    }

    // A failing save keeps the recording and every row; pressing "保 存" again
    // saves it. At shutdown the journal stays and the next start saves it.
    void failedSave_data()
    {
        QTest::addColumn<bool>("atShutdown");
        QTest::newRow("save click") << false;
        QTest::newRow("shutdown") << true;
    }
    void failedSave()
    {
        QFETCH(bool, atShutdown);
        RecorderRig rig;
        rig.recorder->Command6_Click();
        rig.polls(1, 3);
        rig.stopAcquisition();
        rig.saveFailures = 1;
        atShutdown ? rig.recorder->saveAtShutdown() : rig.recorder->Command6_Click();
        QCOMPARE(rig.panel.messages, QStringList{texts::kRecordSaveFailed});
        const QString path = rig.app + QStringLiteral("/") + kStem + QStringLiteral(".xlsx");
        QVERIFY(rig.panel.details.value(0).contains(QDir::toNativeSeparators(path)));
        QCOMPARE(rig.files(rig.app), QStringList{RowJournal::fileNameFor(kStem)});
        QCOMPARE(rig.button(), texts::kSave);
        QVERIFY(rig.panel.isEnabled(Ctl::Command6));
        QCOMPARE(rig.state.RecordFlag, QStringLiteral("1"));
        if (atShutdown) {
            rig.restart();
            rig.recorder->recoverUnfinished();
            QCOMPARE(rig.panel.text(Ctl::Message_Show), texts::kRecordsRecovered.arg(kStem));
        } else {
            rig.recorder->Command6_Click();
            QCOMPARE(rig.button(), texts::kRecord);
        }
        QCOMPARE(rig.files(rig.app), QStringList{kStem + QStringLiteral(".xlsx")});
        QCOMPARE(bookRows(path), expectedRows(1, 3));
    }

    // Shutdown saves an open recording once, whatever the caption (a click
    // with the port closed resets it to "记 录" with a box), and leaves caption
    // and RecordFlag as they are; with none open it writes nothing.
    void shutdown_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("open");
        QTest::newRow("recording") << texts::kRecording << true;
        QTest::newRow("save pending") << texts::kSave << true;
        QTest::newRow("port closed at the click") << texts::kRecord << true;
        QTest::newRow("no recording") << texts::kRecord << false;
    }
    void shutdown()
    {
        QFETCH(QString, caption);
        QFETCH(bool, open);
        RecorderRig rig;
        if (open) {
            rig.recorder->Command6_Click();
            rig.polls(1, 2);
            rig.stopAcquisition();
        }
        rig.panel.setText(Ctl::Command6, caption);
        if (caption == texts::kRecord) {
            rig.panel.setText(Ctl::Command1, texts::kOpenPort);
            rig.recorder->Command6_Click();
            QCOMPARE(rig.panel.takeMessages(), QStringList{texts::kOpenPortFirst});
        }
        rig.recorder->saveAtShutdown();
        rig.recorder->saveAtShutdown(); // a second close request saves nothing twice
        QCOMPARE(rig.button(), caption);
        QCOMPARE(rig.state.RecordFlag, open ? QStringLiteral("1") : QStringLiteral("0"));
        QCOMPARE(rig.files(rig.app),
                 open ? QStringList{kStem + QStringLiteral(".xlsx")} : QStringList{});
        if (open)
            QCOMPARE(bookRows(rig.app + QStringLiteral("/") + kStem + ".xlsx"), expectedRows(1, 2));
        QVERIFY(rig.panel.messages.isEmpty());
    }

    // AppFolder refusing the recording (here a file: tests run as root, which
    // folder permissions do not stop) sends it to the documents
    // folder; with neither usable the recording does not start.
    void unwritableAppFolder_data()
    {
        QTest::addColumn<bool>("docsUsable");
        QTest::newRow("documents folder") << true;
        QTest::newRow("no folder at all") << false;
    }
    void unwritableAppFolder()
    {
        QFETCH(bool, docsUsable);
        RecorderRig rig;
        rig.state.AppFolder = rig.dir.filePath(QStringLiteral("file"));
        QFile file(rig.state.AppFolder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (!docsUsable) rig.docs = rig.state.AppFolder + QStringLiteral("/docs");
        rig.restart();
        rig.recorder->Command6_Click();
        if (!docsUsable) {
            QCOMPARE(rig.panel.messages, QStringList{texts::kRecordStartFailed});
            QCOMPARE(rig.button(), texts::kRecord);
            QVERIFY(rig.panel.isEnabled(Ctl::Command6));
            QCOMPARE(rig.state.RecordFlag, QStringLiteral("0"));
            return;
        }
        QCOMPARE(rig.panel.text(Ctl::Message_Show),
                 texts::kRecordingInFolder.arg(QDir::toNativeSeparators(rig.docs)));
        rig.polls(1, 1);
        rig.recorder->saveAtShutdown();
        QCOMPARE(bookRows(rig.docs + QStringLiteral("/") + kStem + ".xlsx"), expectedRows(1, 1));
    }

    // A full disk (a small tmpfs, so root only): rows that cannot be written
    // are held and one box says so; the save fails and waits; with space
    // again the retry saves every row, and no file stays open there.
    void fullDisk_data()
    {
        QTest::addColumn<bool>("freedBeforeSave");
        QTest::newRow("full at the save") << false;
        QTest::newRow("freed before the save") << true;
    }
    void fullDisk()
    {
        QFETCH(bool, freedBeforeSave);
        RecorderRig rig;
        const QString small = rig.dir.filePath(QStringLiteral("small"));
        QDir().mkpath(small);
        if (QProcess::execute(QStringLiteral("mount"),
                              {"-t", "tmpfs", "-o", "size=512k", "tmpfs", small}) != 0)
            QSKIP("mounting a small file system needs root");
        bool mounted = true;
        const auto unmount = qScopeGuard([&] {
            if (mounted) QProcess::execute(QStringLiteral("umount"), {small});
        });
        rig.state.AppFolder = small;
        rig.recorder->Command6_Click();
        rig.polls(1, 5);
        QFile filler(small + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) > 0) {
        }
        rig.polls(6, 200);
        QCOMPARE(rig.panel.takeMessages(), QStringList{texts::kRecordWriteFailed});
        rig.stopAcquisition();
        if (!freedBeforeSave) {
            rig.recorder->Command6_Click();
            QCOMPARE(rig.panel.takeMessages(), QStringList{texts::kRecordSaveFailed});
            QCOMPARE(rig.button(), texts::kSave);
        }
        filler.remove();
        rig.recorder->Command6_Click();
        QCOMPARE(rig.panel.messages, QStringList{});
        QCOMPARE(bookRows(small + QStringLiteral("/") + kStem + ".xlsx"), expectedRows(1, 205));
        mounted = false;
        QCOMPARE(QProcess::execute(QStringLiteral("umount"), {small}), 0); // nothing left open
    }

    // Record again while the earlier recording waits unsaved: it is saved
    // first, and when that fails the new recording does not start.
    void newRecordingSavesTheEarlier_data()
    {
        QTest::addColumn<int>("failures");
        QTest::newRow("saved") << 0;
        QTest::newRow("save fails") << 1;
    }
    void newRecordingSavesTheEarlier()
    {
        QFETCH(int, failures);
        RecorderRig rig;
        rig.recorder->Command6_Click();
        rig.polls(1, 2);
        rig.panel.setText(Ctl::Command1, texts::kOpenPort);
        rig.recorder->Command6_Click(); // resets the caption only
        rig.openPort();
        rig.panel.takeMessages();
        rig.saveFailures = failures;
        rig.recorder->Command6_Click(); // within the same second: a second name
        QCOMPARE(rig.state.RecordFlag, QStringLiteral("1"));
        if (failures) {
            QCOMPARE(rig.button(), texts::kSave);
            QCOMPARE(rig.files(rig.app), QStringList{RowJournal::fileNameFor(kStem)});
            return;
        }
        QCOMPARE(rig.button(), texts::kRecording);
        QCOMPARE(rig.state.NextRow, QStringLiteral("2"));
        QCOMPARE(rig.files(rig.app),
                 (QStringList{RowJournal::fileNameFor(kStem + QStringLiteral("_2")),
                              kStem + QStringLiteral(".xlsx")}));
        QCOMPARE(bookRows(rig.app + QStringLiteral("/") + kStem + ".xlsx"), expectedRows(1, 2));
    }

    // A start recovers leftover journals, but not the live one of another instance.
    void recoveryLeavesLiveRecordings()
    {
        RecorderRig rig;
        rig.recorder->Command6_Click();
        rig.polls(1, 4);
        rig.restart(); // the earlier run ended without saving
        rig.state.RecordFlag = QStringLiteral("0");
        rig.clock.current = rig.clock.current.addSecs(60);
        rig.openPort();
        rig.panel.setText(Ctl::Command6, texts::kRecord);
        rig.recorder->Command6_Click();
        const QString live = RowJournal::fileNameFor(rig.state.BookName);
        Recorder other(rig.ctx, RecorderOptions{rig.app, rig.docs, {}});
        other.recoverUnfinished();
        QCOMPARE(rig.panel.text(Ctl::Message_Show), texts::kRecordsRecovered.arg(kStem));
        QCOMPARE(rig.files(rig.app), (QStringList{live, kStem + QStringLiteral(".xlsx")}));
        QCOMPARE(bookRows(rig.app + QStringLiteral("/") + kStem + ".xlsx"), expectedRows(1, 4));
    }
};

QTEST_GUILESS_MAIN(RecorderTest)
#include "test_recorder.moc"
