#include "library/Import.h"

#include "discharge/TestModel.h"
#include "reader/RecordingFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace eload::library {

namespace {

struct Discharge {
    TestRecord record;
    std::span<const Sample> samples;
};

// The discharges of one curve, appended to `found` (numbered on across the
// curves of one file, so that each keeps its own place in the file).
void dischargesIn(const reader::RecordedCurve& curve, bool severalModules, const QString& path,
                  const QByteArray& hash, const ImportOptions& options, int& idle,
                  std::vector<Discharge>& found)
{
    Cell cell = options.cell;
    if (cell.name.isEmpty())
        cell.name = severalModules ? QStringLiteral("%1-%2").arg(curve.name).arg(curve.address)
                                   : curve.name;
    for (const auto& d : discharge::dischargesOf(curve.samples, curve.hasStatus)) {
        if (d.summary.loadOnSamples == 0) {
            ++idle;
            continue;
        }
        TestRecord r;
        r.header.uuid = QUuid::createUuid();
        r.header.cell = cell;
        r.header.station = options.station;
        r.header.startMsecs = d.summary.startMsecs;
        r.summary = d.summary;
        r.finished = true;
        r.stateOfHealth = stateOfHealth(d.summary, cell);
        r.source = Source{path, hash, int(found.size())};
        found.push_back({r, std::span(curve.samples).subspan(d.first, d.last - d.first + 1)});
    }
}

std::optional<Failure> storeDischarge(Store& store, Discharge& d, qint64 now)
{
    auto id = store.ensureTest(d.record.header, d.record.source);
    if (auto* f = failureOf(id)) return *f;
    d.record.id = std::get<qint64>(id);
    auto end = store.appendSamples(d.record.id, 0, d.samples);
    if (auto* f = failureOf(end)) return *f;
    return store.storeFigures(d.record.id, d.record.summary, true, d.record.stateOfHealth, now);
}

} // namespace

Result<QByteArray> contentHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failure{QStringLiteral("%1: cannot read (%2)").arg(path, file.errorString())};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return Failure{QStringLiteral("%1: cannot read (%2)").arg(path, file.errorString())};
    return hash.result();
}

Result<ImportOutcome> importRecording(Store& store, const QString& path,
                                      const ImportOptions& options)
{
    ImportOutcome outcome;
    outcome.path = QFileInfo(path).absoluteFilePath();
    auto hash = contentHash(path);
    if (auto* f = failureOf(hash)) return *f;
    const QByteArray& sha = std::get<QByteArray>(hash);
    auto earlier = store.importedAs(sha);
    if (auto* f = failureOf(earlier)) return *f;
    outcome.earlierIds = std::get<QList<qint64>>(earlier);
    if (!outcome.earlierIds.isEmpty()) {
        outcome.alreadyImported = true;
        return outcome;
    }
    const reader::ReadResult read = reader::readRecording(path);
    if (auto* e = std::get_if<reader::ReadError>(&read)) return Failure{e->englishMessage()};
    const auto& recording = std::get<reader::Recording>(read);
    for (const reader::ReadError& w : recording.warnings)
        outcome.warnings << w.englishMessage();
    std::vector<Discharge> found;
    for (const reader::RecordedCurve& curve : recording.curves)
        dischargesIn(curve, recording.curves.size() > 1, outcome.path, sha, options,
                     outcome.idleStretches, found);
    if (auto f = store.beginWrite()) return *f;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (Discharge& d : found) {
        if (auto f = storeDischarge(store, d, now)) {
            store.rollback();
            return Failure{QStringLiteral("%1: %2").arg(path, f->message)};
        }
        outcome.ids << d.record.id;
    }
    if (auto f = store.commit()) return *f;
    return outcome;
}

} // namespace eload::library
