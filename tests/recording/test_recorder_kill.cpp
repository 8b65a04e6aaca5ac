// A recording killed with SIGKILL: the next start recovers every row but at
// most the last second's.

#include "RowPattern.h"
#include "WorkbookReader.h"
#include "recording/Recorder.h"
#include "recording/RowJournal.h"
#include "support/Rig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace eload;
using namespace eload::test;

class RecorderKillTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void killedRecordingIsRecovered()
    {
        QTemporaryDir dir;
        QProcess driver;
        driver.start(QStringLiteral(RECORD_DRIVER), {dir.path()});
        QVERIFY(driver.waitForStarted());
        int printed = 0;
        QElapsedTimer running;
        running.start();
        while (running.elapsed() < 3000 && driver.state() == QProcess::Running) {
            driver.waitForReadyRead(100);
            while (driver.canReadLine())
                printed = driver.readLine().trimmed().toInt();
        }
        driver.kill(); // SIGKILL
        QVERIFY(driver.waitForFinished());
        while (driver.canReadLine())
            printed = driver.readLine().trimmed().toInt();
        QVERIFY2(printed >= 20, "the driver recorded too few rows");

        const QStringList journals =
            QDir(dir.path()).entryList({RowJournal::filePattern()}, QDir::Files | QDir::Hidden);
        QCOMPARE(journals.size(), 1);
        const QString stem = RowJournal::stemOf(journals[0]);
        Rig rig;
        rig.state.AppFolder = dir.path();
        Recorder(rig.ctx, RecorderOptions{dir.path(), {}, {}}).recoverUnfinished();
        QCOMPARE(rig.panel.text(Ctl::Message_Show), texts::kRecordsRecovered.arg(stem));

        const auto book = readWorkbook(dir.filePath(stem + QStringLiteral(".xlsx")));
        QVERIFY(book);
        const int rows = book->count - 1;
        // One second is 20 polls; the poll in progress at the kill may be there too.
        QVERIFY2(rows >= printed - 20 && rows <= printed + 1,
                 qPrintable(QStringLiteral("%1 rows of %2").arg(rows).arg(printed)));
        for (int n = 1; n <= rows; ++n) {
            const SheetRow& row = book->head[n];
            QCOMPARE(row.value(0), QVariant(double(n)));
            QCOMPARE(row.mid(2), sheetRow(n, rowTextsFor(n)).mid(1));
        }
        QVERIFY(QDir(dir.path()).entryList({RowJournal::filePattern()}, QDir::Hidden).isEmpty());
    }
};

QTEST_GUILESS_MAIN(RecorderKillTest)
#include "test_recorder_kill.moc"
