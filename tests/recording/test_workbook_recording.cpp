// The recording without a window, as eload-cli uses it: rows made from
// readings, a caller's file with its roll-over books, a held full book.

#include "core/FormState.h"
#include "modbus/DisplayRules.h"
#include "modbus/Reading.h"
#include "recording/Recorder.h"
#include "support/MemoryPanel.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace eload;

namespace {

modbus::RegisterBlock blockFor(int n)
{
    modbus::RegisterBlock raw{};
    for (int i = 0; i < modbus::kReadBlockCount; ++i)
        raw[i] = std::uint16_t(n * (i + 7) + i);
    return raw;
}

} // namespace

class WorkbookRecordingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The same registers give the same row from the window and from the reading.
    void rowFromReadingIsTheWindowsRow()
    {
        const QDateTime t(QDate(2026, 3, 5), QTime(23, 59, 58));
        for (const int n : {0, 1, 977, 9362}) { // 9362: every register above 0xFFF0 wraps
            test::MemoryPanel panel;
            FormState state;
            const modbus::RegisterBlock raw = blockFor(n);
            for (int reg = 0; reg < modbus::kReadBlockCount; ++reg)
                modbus::applyRegister(panel, state, reg, raw[reg]);
            QCOMPARE(rowFromReading(modbus::readingFromRegisters(raw, t), t, n),
                     rowFromPanel(panel, n, t));
        }
    }

    // run.xlsx, then run_3.xlsx (run_2.xlsx is someone else's); a full book that
    // cannot be saved is held, refuses rows, and is saved by the next append after.
    void callersFileRollsOverAndHolds()
    {
        QTemporaryDir dir;
        const auto path = [&](const char* name) { return dir.filePath(name); };
        QFile(path("run.xlsx")).open(QIODevice::WriteOnly);
        QFile(path("run_2.xlsx")).open(QIODevice::WriteOnly);
        WorkbookRecording rec;
        QSignalSpy saved(&rec, &WorkbookRecording::bookSaved);
        const auto refused = rec.start(fileBooks(path("run.xlsx")));
        QVERIFY(refused && refused->message.contains("run.xlsx exists already"));
        QFile::remove(path("run.xlsx"));
        QVERIFY(!rec.start(fileBooks(path("run"))));
        const RecordRow row = rowFromReading(modbus::readingFromRegisters(blockFor(3), {}), {});
        const auto fill = [&] {
            std::optional<RecordingError> last;
            for (int i = 0; i < kRowsPerBook; ++i)
                last = rec.append(row);
            return last;
        };
        QVERIFY(!fill());
        QCOMPARE(rec.bookPath(), path("run_3.xlsx"));
        QVERIFY(QDir().mkpath(path("run_3.xlsx"))); // blocks the save
        QVERIFY(fill() && rec.isHeld() && rec.append(row));
        QVERIFY(QDir().rmdir(path("run_3.xlsx")));
        QVERIFY(!rec.append(row));
        QCOMPARE(rec.nextRow(), kFirstDataRow + 1);
        QVERIFY(!rec.save());
        QCOMPARE(saved.size(), 3);
        QCOMPARE(saved.last().first().toString(), path("run_4.xlsx"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"run.xlsx", "run_2.xlsx", "run_3.xlsx", "run_4.xlsx"}));
    }
};

QTEST_GUILESS_MAIN(WorkbookRecordingTest)
#include "test_workbook_recording.moc"
