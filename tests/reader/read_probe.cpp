// A read in a process of its own, so that its peak memory is its own and a
// limit on the address space hits nothing else: read_probe [--limit-mib N]
// FILE. With a limit, the process may use N MiB beyond what it holds at the
// start of the read. Prints one JSON object: the English message or the rows
// read, the curves and warnings, the peak resident memory (VmHWM) before and
// after the read, the bytes the samples keep and the first curve's last row
// as the CSV log writes it.

#include "AddressSpace.h"
#include "reader/RecordingFile.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

using namespace eload::reader;

using namespace eload::test;

int main(int argc, char** argv)
{
    plainMalloc();
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 3 && args[0] == u"--limit-mib") {
        if (!limitAddressSpace(args[1].toLong())) return 2;
        args = args.mid(2);
    }
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: read_probe [--limit-mib N] FILE\n");
        return 2;
    }
    QJsonObject o{{QStringLiteral("hwm_kb_before"), double(statusKb("VmHWM:"))}};
    const ReadResult r = readRecording(args[0]);
    o.insert(QStringLiteral("hwm_kb_after"), double(statusKb("VmHWM:")));
    if (const auto* e = std::get_if<ReadError>(&r)) {
        o.insert(QStringLiteral("error"), e->englishMessage());
        o.insert(QStringLiteral("message"), e->message());
    } else {
        const Recording& recording = std::get<Recording>(r);
        double rows = 0, kept = 0;
        for (const RecordedCurve& c : recording.curves) {
            rows += double(c.samples.size());
            kept += double(c.samples.capacity() * sizeof(Sample));
        }
        const auto& first = recording.curves.front().samples;
        if (!first.empty()) o.insert(QStringLiteral("last"), csvRow(first.back()));
        o.insert(QStringLiteral("rows"), rows);
        o.insert(QStringLiteral("kept_bytes"), kept);
        o.insert(QStringLiteral("curves"), int(recording.curves.size()));
        o.insert(QStringLiteral("warnings"), int(recording.warnings.size()));
    }
    std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    return 0;
}
