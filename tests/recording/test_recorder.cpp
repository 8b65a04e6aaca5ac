// The recorder over the in-memory panel, workbooks read back with openpyxl.
// Run as "test_recorder record_driver FOLDER" it records until killed.

#include "RowPattern.h"
#include "WorkbookReader.h"
#include "recording/Recorder.h"
#include "support/Rig.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace eload;
using namespace eload::test;

namespace {

const QString kStem = QStringLiteral("2026-03-05_14时07分09秒"); // FakeClock's start
const QString kBook = kStem + ".xlsx", kJournal = "." + kStem + ".rows";
const QString kRowTime = QStringLiteral("2026-03-05 14时:07分:09秒");
constexpr int kFullBook = 65533;

// The header, then the rows of polls first .. first+count-1 numbered from `number`.
QList<SheetRow> rowsFor(int first, int count, int number = 1, const QString& time = kRowTime)
{
    QList<SheetRow> rows{
        {"序号", "时间", "电流", "电压", "功率", "温度", "内阻", "容量", "能量", "放电时间"}};
    for (int n = first; n < first + count; ++n) {
        rows.append({double(number++), time});
        for (const QString& t : rowTextsFor(n))
            rows.last().append(t);
    }
    return rows;
}

struct RecorderRig : Rig {
    QTemporaryDir dir;
    QString app = dir.filePath("app"), docs = dir.filePath("docs");
    std::unique_ptr<Recorder> recorder;

    RecorderRig()
    {
        QDir().mkpath(state.AppFolder = app);
        restart();
        openPort();
    }
    void restart() { recorder = std::make_unique<Recorder>(ctx, RecorderOptions{app, docs, {}}); }
    void click() { recorder->Command6_Click(); }
    void polls(int first, int count)
    {
        for (int n = first; n < first + count; ++n) {
            showValuesFor(panel, n);
            recorder->WriteRow();
        }
    }
    QStringList ls(const QString& f) const { return QDir(f).entryList(QDir::Files | QDir::Hidden); }
};

// record_driver FOLDER: polls until killed, printing each poll once its row is with the recorder.
[[noreturn]] void recordDriver(const char* folder)
{
    RecorderRig rig;
    rig.dir.remove();
    rig.state.AppFolder = folder;
    rig.click();
    for (int n = 1;; ++n) {
        rig.polls(n, 1);
        std::printf("%d\n", n);
        std::fflush(stdout);
        QTest::qWait(50);
    }
}

} // namespace

class RecorderTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Steps in order: "record" 3 polls, "synced" waits for them on disk, "stop" ends the
    // acquisition, "block" puts a folder where the book goes, "shutdown" closes twice,
    // "app folder a file" (root ignores permissions); a book in `files` holds the 3 rows.
    void saving_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QStringList>("files"); // in the recording's folder
        const QStringList none, book{kBook}, failed{texts::kRecordSaveFailed};
        const QString rec = texts::kRecord, ing = texts::kRecording, save = texts::kSave;
        const QStringList port{texts::kOpenPortFirst}, portFailed = port + failed;
        const QString reason = texts::kProgramFolderNotWritable;
        const QStringList outside{texts::kRecordSavedOutside.arg(reason)};
        const auto row = [](const char* name, const QString& steps) -> QTestData& {
            return QTest::newRow(name) << steps.split(", ");
        };
        row("saved", "record, synced, stop, click") << rec << none << book;
        row("shutdown while recording", "record, shutdown") << ing << none << book;
        row("shutdown while save pending", "record, stop, shutdown") << save << none << book;
        row("port closed, shutdown", "record, port closed, shutdown") << rec << port << book;
        row("shutdown, no recording", "shutdown") << rec << none << none;
        row("failed save, retried", "record, stop, block, click, unblock, click")
            << rec << failed << book;
        row("failed save at shutdown", "record, stop, block, shutdown, unblock, next start")
            << save << failed << book;
        row("new recording saves the earlier", "record, port closed, click")
            << ing << port << QStringList{"." + kStem + "_2.rows", kBook};
        row("new recording, earlier fails", "record, port closed, block, click")
            << save << portFailed << QStringList{kJournal};
        // Saved elsewhere than beside the program, at shutdown too: a box names the path.
        row("AppFolder unwritable", "app folder a file, record, shutdown")
            << ing << outside << book;
        row("saved outside AppFolder", "app folder a file, record, stop, click")
            << rec << outside << book;
        row("recovered outside AppFolder",
            "app folder a file, record, stop, block, shutdown, unblock, next start")
            << save
            << QStringList{texts::kRecordSaveFailed, texts::kRecordsRecoveredOutside.arg(reason)}
            << book;
        row("no folder at all", "app folder a file, no documents, record")
            << rec << QStringList{texts::kRecordStartFailed} << none;
    }
    void saving()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, caption);
        QFETCH(QStringList, boxes);
        QFETCH(QStringList, files);
        RecorderRig rig;
        QString folder = rig.app;
        for (const QString& step : steps) {
            if (step == "record") rig.click(), rig.polls(1, 3);
            if (step == "synced") QTRY_VERIFY_WITH_TIMEOUT(rig.recorder->rowsSynced(), 10000);
            if (step == "stop") rig.panel.setText(Ctl::Command6, texts::kSave); // by Command_OK3
            if (step == "click") rig.click();
            if (step == "shutdown") rig.recorder->saveAtShutdown(), rig.recorder->saveAtShutdown();
            if (step == "next start") rig.restart(), rig.recorder->recoverUnfinished();
            if (step == "block") QDir().mkpath(folder + "/" + kBook);
            if (step == "unblock") QDir().rmdir(folder + "/" + kBook);
            if (step == "port closed")
                rig.panel.setText(Ctl::Command1, texts::kOpenPort), rig.click(), rig.openPort();
            if (step == "app folder a file") {
                QFile(rig.state.AppFolder = rig.dir.filePath("file")).open(QIODevice::WriteOnly);
                folder = rig.docs;
            }
            if (step == "no documents")
                rig.docs = folder = rig.state.AppFolder + "/docs", rig.restart();
        }
        QCOMPARE(rig.panel.text(Ctl::Command6), caption);
        QCOMPARE(rig.panel.messages, boxes);
        if (boxes.contains(texts::kRecordSaveFailed))
            QVERIFY(rig.panel.details.join("\n").contains(folder + "/" + kBook));
        for (const QString& outside : {texts::kRecordSavedOutside, texts::kRecordsRecoveredOutside})
            if (boxes.contains(outside.arg(texts::kProgramFolderNotWritable)))
                QCOMPARE(rig.panel.details.last(), folder + "/" + kBook);
        // The documents folder could not be made (a file in the way): that cause, not "missing".
        if (boxes.contains(texts::kRecordStartFailed))
            QVERIFY(rig.panel.details.join("\n").contains(
                QString::fromLocal8Bit(std::strerror(ENOTDIR))));
        if (files.contains(kBook))
            QCOMPARE(rig.panel.toolTip(Ctl::Command6),
                     texts::kLastRecordTip.arg(folder + "/" + kBook));
        QCOMPARE(rig.ls(folder), files);
        if (files.contains(kBook)) {
            const auto saved = readWorkbook(folder + "/" + kBook).value_or(ReadWorkbook{}).head;
            QCOMPARE(saved, rowsFor(1, 3));
            QCOMPARE(saved.value(1).value(0).typeId(), int(QMetaType::Double)); // not the text "1"
        }
    }

    // A full workbook is saved at once and the next poll goes to row 2 of another.
    void rollOver()
    {
        const QString later = QStringLiteral("2026-03-05 23时:07分:09秒");
        const QString second = QStringLiteral("2026-03-05_23时07分09秒.xlsx");
        RecorderRig rig;
        rig.click();
        rig.polls(1, kFullBook - 1);
        rig.clock.current = rig.clock.current.addSecs(9 * 3600);
        rig.polls(kFullBook, 2);
        QVERIFY(rig.ls(rig.app).contains(kBook)); // saved at once
        rig.recorder->saveAtShutdown();
        const auto full = readWorkbook(rig.app + "/" + kBook, 1).value_or(ReadWorkbook{});
        QCOMPARE(full.count, kFullBook + 1);
        QCOMPARE(full.head + full.tail, rowsFor(kFullBook, 1, kFullBook, later));
        QCOMPARE(rig.ls(rig.app), (QStringList{kBook, second}));
        QCOMPARE(readWorkbook(rig.app + "/" + second).value_or(ReadWorkbook{}).head,
                 rowsFor(kFullBook + 1, 1, 1, later));
    }

    // A start leaves alone the live journal of another instance; after a
    // SIGKILL it recovers every row but at most the last second's (20 polls).
    void killedRecordingIsRecovered()
    {
        RecorderRig rig;
        QProcess driver;
        driver.start(QCoreApplication::applicationFilePath(), {"record_driver", rig.app});
        QByteArray out; // a line per poll
        QTRY_VERIFY_WITH_TIMEOUT((out += driver.readAllStandardOutput()).count('\n') >= 40, 20000);
        rig.recorder->recoverUnfinished();
        QCOMPARE(rig.ls(rig.app), QStringList{kJournal});
        driver.kill();
        QVERIFY(driver.waitForFinished());
        const int polls = (out += driver.readAllStandardOutput()).count('\n');
        QFile torn(rig.app + "/" + kJournal); // as a power loss may leave it
        QVERIFY(torn.open(QIODevice::Append | QIODevice::Unbuffered));
        torn.write(journalLine({polls + 1, {kRowTime}}).left(20));
        rig.recorder->recoverUnfinished();
        QCOMPARE(rig.panel.text(Ctl::Message_Show), texts::kRecordsRecovered.arg(kStem));
        QCOMPARE(rig.ls(rig.app), QStringList{kBook});
        const auto book = readWorkbook(rig.app + "/" + kBook).value_or(ReadWorkbook{});
        const int rows = book.count - 1;
        QVERIFY2(rows >= polls - 20 && rows <= polls + 1, qPrintable(QString::number(rows)));
        QCOMPARE(book.head, rowsFor(1, rows));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "record_driver") recordDriver(argv[2]);
    RecorderTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_recorder.moc"
