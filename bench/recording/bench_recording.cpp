// Resident memory while a recording fills a workbook, and the time and peak
// memory of the save at the roll-over (65533 rows), which blocks the window.
//
// usage: bench_recording FOLDER
// Prints "key value" lines; run.sh puts them beside openpyxl's figures.

#include "../../tests/recording/RowPattern.h"
#include "core/Context.h"
#include "core/FormState.h"
#include "core/Texts.h"
#include "recording/RecordLayout.h"
#include "recording/Recorder.h"
#include "support/Fakes.h"
#include "support/Measure.h"
#include "support/MemoryPanel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <memory>

using namespace eload;

using namespace eload::bench;

namespace {

// From here on VmHWM counts anew.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) clear.write("5");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_recording FOLDER\n");
        return 2;
    }
    test::MemoryPanel panel;
    FormState state;
    test::FakeSerialDevice port;
    test::FakeClock clock; // 2026-03-05 14:07:09, a poll every 500 ms
    Context ctx{panel, state, port, clock};
    state.AppFolder = QString::fromLocal8Bit(argv[1]);
    auto recorder = std::make_unique<Recorder>(ctx, RecorderOptions{state.AppFolder, {}, {}});
    panel.setText(Ctl::Command1, texts::kClosePort);
    recorder->Command6_Click();
    if (state.RecordFlag != QStringLiteral("1")) return 1;

    const auto poll = [&](int n) {
        test::showValuesFor(panel, n);
        recorder->WriteRow();
        clock.current = clock.current.addMSecs(500);
    };
    std::printf("rss_kb_rows_0 %ld\n", statusKb("VmRSS:"));
    QElapsedTimer recording;
    recording.start();
    for (int n = 1; n < kRowsPerBook; ++n) {
        poll(n);
        if (n == 30000) std::printf("rss_kb_rows_30000 %ld\n", statusKb("VmRSS:"));
    }
    std::printf("rss_kb_rows_65532 %ld\n", statusKb("VmRSS:"));
    std::printf("record_ms_per_row %.4f\n",
                double(recording.nsecsElapsed()) / 1e6 / (kRowsPerBook - 1));

    const QString fullBook = recorder->openBookName() + QStringLiteral(".xlsx");
    const long before = statusKb("VmRSS:");
    resetPeak();
    QElapsedTimer save;
    save.start();
    poll(kRowsPerBook); // the 65533rd row: save, then a new workbook
    const double saveMs = double(save.nsecsElapsed()) / 1e6;
    std::printf("rollover_save_ms %.1f\n", saveMs);
    std::printf("save_peak_extra_kb %ld\n", statusKb("VmHWM:") - before);
    std::printf("rss_kb_rows_65533 %ld\n", statusKb("VmRSS:"));
    std::printf("book_bytes %lld\n", QFile(fullBook).size());

    // A second full workbook left unsaved, as by a crash: the next start
    // makes it from the journal alone (the path of a retried save, too).
    for (int n = 1; n < kRowsPerBook; ++n)
        poll(n);
    const QString leftBook = recorder->openBookName() + QStringLiteral(".xlsx");
    recorder = std::make_unique<Recorder>(ctx, RecorderOptions{state.AppFolder, {}, {}});
    QElapsedTimer recovery;
    recovery.start();
    recorder->recoverUnfinished();
    std::printf("recovery_ms_65532_rows %.1f\n", double(recovery.nsecsElapsed()) / 1e6);
    std::printf("messages %lld\n", qlonglong(panel.messages.size()));
    return panel.messages.isEmpty() && QFile::exists(fullBook) && QFile::exists(leftBook) ? 0 : 1;
}
