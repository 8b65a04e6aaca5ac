// One recording read back in a process of its own, so that the peak memory
// is the read's: bench_reader FILE. Prints "key value" lines: the file's
// size, the outcome (rows read, or the message), wall and CPU time of the
// read, resident memory (VmHWM, the peak) before and after it, and the bytes
// the samples keep.

#include "reader/RecordingFile.h"
#include "support/Measure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

using namespace eload;
using namespace eload::reader;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_reader FILE\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const long hwmBefore = bench::statusKb("VmHWM:");
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = bench::threadCpuMs();
    const ReadResult r = readRecording(path);
    const double cpuMs = bench::threadCpuMs() - cpuBefore;
    const double wallMs = wall.nsecsElapsed() / 1e6;
    const long hwmAfter = bench::statusKb("VmHWM:");

    std::printf("file %s\nbytes %lld\n", qPrintable(QFileInfo(path).fileName()),
                QFileInfo(path).size());
    if (const auto* e = std::get_if<ReadError>(&r)) {
        std::printf("refused %s\n", qPrintable(e->englishMessage()));
    } else {
        std::size_t rows = 0, kept = 0;
        for (const RecordedCurve& c : std::get<Recording>(r).curves) {
            rows += c.samples.size();
            kept += c.samples.capacity() * sizeof(Sample);
        }
        std::printf("rows %zu\nkept_kb %zu\n", rows, kept / 1024);
    }
    std::printf("wall_ms %.0f\ncpu_ms %.0f\nvmhwm_before_kb %ld\nvmhwm_after_kb %ld\n", wallMs,
                cpuMs, hwmBefore, hwmAfter);
    return 0;
}
