#include "library/Spool.h"

#include "library/CurveCodec.h"
#include "recording/FileSync.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <zlib.h>

namespace eload::library {

namespace {

constexpr quint32 kMagic = 0x45535031; // "ESP1"
constexpr int kFrameBytes = 12;        // magic, length, CRC
constexpr quint32 kMaxPayload = 64u << 20;
const QString kSuffix = QStringLiteral(".spool");

using discharge::Summary;

// --- records as bytes ------------------------------------------------------

template <typename T> void putOptional(QDataStream& out, const std::optional<T>& v)
{
    out << bool(v) << (v ? *v : T{});
}

template <typename T> void getOptional(QDataStream& in, std::optional<T>& v)
{
    bool present = false;
    T value{};
    in >> present >> value;
    v = present ? std::optional<T>(value) : std::nullopt;
}

void putCell(QDataStream& out, const Cell& c)
{
    out << c.name << c.type;
    putOptional(out, c.ratedAh);
}

void getCell(QDataStream& in, Cell& c)
{
    in >> c.name >> c.type;
    getOptional(in, c.ratedAh);
}

void putHeader(QDataStream& out, const TestHeader& h)
{
    putCell(out, h.cell);
    out << h.station << h.port;
    putOptional(out, h.address);
    putOptional(out, h.presets.currentA);
    putOptional(out, h.presets.cutoffV);
    putOptional(out, h.presets.powerW);
    out << h.startMsecs;
}

void getHeader(QDataStream& in, TestHeader& h)
{
    getCell(in, h.cell);
    in >> h.station >> h.port;
    getOptional(in, h.address);
    getOptional(in, h.presets.currentA);
    getOptional(in, h.presets.cutoffV);
    getOptional(in, h.presets.powerW);
    in >> h.startMsecs;
}

void putSummary(QDataStream& out, const Summary& s)
{
    out << s.startMsecs << s.endMsecs << s.startMonotonicMsecs << s.endMonotonicMsecs
        << s.durationSeconds << s.capacityAh << s.energyWh << s.baseCapacityAh << s.baseEnergyWh
        << s.baseSeconds << s.averageVoltage << s.lowestVoltage << s.averageCurrent
        << s.averagePower << s.highestTemperatureC << s.resistanceMilliohm << s.countsDisagree
        << qint32(s.gaps) << s.gapSeconds << qint32(s.missedPolls) << quint8(s.end)
        << qint32(s.samples) << qint32(s.loadOnSamples);
}

void getSummary(QDataStream& in, Summary& s)
{
    qint32 gaps = 0, missed = 0, samples = 0, loadOn = 0;
    quint8 end = 0;
    in >> s.startMsecs >> s.endMsecs >> s.startMonotonicMsecs >> s.endMonotonicMsecs >>
        s.durationSeconds >> s.capacityAh >> s.energyWh >> s.baseCapacityAh >> s.baseEnergyWh >>
        s.baseSeconds >> s.averageVoltage >> s.lowestVoltage >> s.averageCurrent >>
        s.averagePower >> s.highestTemperatureC >> s.resistanceMilliohm >> s.countsDisagree >>
        gaps >> s.gapSeconds >> missed >> end >> samples >> loadOn;
    s.gaps = gaps;
    s.missedPolls = missed;
    s.end = end <= quint8(discharge::EndReason::LineLost) ? discharge::EndReason(end)
                                                          : discharge::EndReason::None;
    s.samples = samples;
    s.loadOnSamples = loadOn;
}

QByteArray payloadOf(const SpoolRecord& r)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << quint8(r.kind) << r.test;
    switch (r.kind) {
    case SpoolRecord::Kind::Header: putHeader(out, r.header); break;
    case SpoolRecord::Kind::Samples: out << r.firstIndex << encodeSamples(r.samples); break;
    case SpoolRecord::Kind::Figures:
        putSummary(out, r.summary);
        out << r.finished;
        break;
    case SpoolRecord::Kind::Cell: putCell(out, r.cell); break;
    }
    return bytes;
}

std::optional<SpoolRecord> recordOf(const QByteArray& payload)
{
    QDataStream in(payload);
    in.setVersion(QDataStream::Qt_6_4);
    SpoolRecord r;
    quint8 kind = 0;
    in >> kind >> r.test;
    r.kind = SpoolRecord::Kind(kind);
    switch (r.kind) {
    case SpoolRecord::Kind::Header:
        getHeader(in, r.header);
        r.header.uuid = r.test;
        break;
    case SpoolRecord::Kind::Samples: {
        QByteArray encoded;
        in >> r.firstIndex >> encoded;
        if (decodeSamples(encoded, r.samples)) return std::nullopt;
        break;
    }
    case SpoolRecord::Kind::Figures:
        getSummary(in, r.summary);
        in >> r.finished;
        break;
    case SpoolRecord::Kind::Cell: getCell(in, r.cell); break;
    default: return std::nullopt;
    }
    if (in.status() != QDataStream::Ok) return std::nullopt;
    return r;
}

QByteArray framed(const QByteArray& payload)
{
    QByteArray frame(kFrameBytes, Qt::Uninitialized);
    const quint32 crc = quint32(
        crc32(0, reinterpret_cast<const Bytef*>(payload.constData()), uInt(payload.size())));
    qToBigEndian(kMagic, frame.data());
    qToBigEndian(quint32(payload.size()), frame.data() + 4);
    qToBigEndian(crc, frame.data() + 8);
    return frame + payload;
}

std::optional<Failure> systemFailure(const QString& path, const QString& what)
{
    return Failure{QStringLiteral("%1: %2 (%3)").arg(path, what, lastSystemError())};
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// Taken, the file is ours: no living writer holds it.
int lockedOrClosed(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    ::close(fd);
    return -1;
}

} // namespace

// --- the writer's own file ---------------------------------------------------

SpoolFile::~SpoolFile() { close(); }

std::optional<Failure> SpoolFile::create()
{
    if (!QDir().mkpath(folder_))
        return systemFailure(folder_, QStringLiteral("cannot make the folder"));
    path_ = QDir(folder_).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + kSuffix);
    fd_ = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0) return systemFailure(path_, QStringLiteral("cannot create the spool file"));
    ::flock(fd_, LOCK_EX | LOCK_NB);
    size_ = 0;
    syncFolder(folder_);
    return std::nullopt;
}

std::optional<Failure> SpoolFile::append(const std::vector<SpoolRecord>& records)
{
    if (fd_ < 0)
        if (auto f = create()) return f;
    QByteArray bytes;
    for (const SpoolRecord& r : records)
        bytes += framed(payloadOf(r));
    if (writeAll(fd_, bytes))
        if (!syncData(fd_)) {
            size_ += bytes.size();
            return std::nullopt;
        }
    const auto failure = systemFailure(path_, QStringLiteral("cannot write the spool"));
    // Cut back to whole records; a file that cannot be cut is left to a
    // later replay and the next append starts another.
    if (::ftruncate(fd_, size_) != 0 || ::lseek(fd_, size_, SEEK_SET) != size_) {
        ::close(fd_);
        fd_ = -1;
        size_ = 0;
    }
    return failure;
}

std::optional<Failure> SpoolFile::clear()
{
    if (fd_ < 0 || size_ == 0) return std::nullopt;
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0 || syncData(fd_))
        return systemFailure(path_, QStringLiteral("cannot empty the spool file"));
    size_ = 0;
    return std::nullopt;
}

void SpoolFile::close()
{
    if (fd_ < 0) return;
    if (size_ == 0) {
        ::unlink(QFile::encodeName(path_).constData());
        syncFolder(folder_);
    }
    ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

// --- reading and replay --------------------------------------------------------

Result<SpoolContents> readSpoolFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failure{
            QStringLiteral("%1: cannot read the spool (%2)").arg(path, file.errorString())};
    const QByteArray bytes = file.readAll();
    SpoolContents contents;
    qsizetype at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < kFrameBytes) break;
        const char* frame = bytes.constData() + at;
        const quint32 length = qFromBigEndian<quint32>(frame + 4);
        if (qFromBigEndian<quint32>(frame) != kMagic || length > kMaxPayload ||
            bytes.size() - at - kFrameBytes < qsizetype(length))
            break;
        const QByteArray payload = bytes.mid(at + kFrameBytes, length);
        const quint32 crc = quint32(
            crc32(0, reinterpret_cast<const Bytef*>(payload.constData()), uInt(payload.size())));
        if (crc != qFromBigEndian<quint32>(frame + 8)) break;
        auto record = recordOf(payload);
        if (!record) break;
        contents.records.push_back(std::move(*record));
        at += kFrameBytes + length;
    }
    contents.tornTail = at < bytes.size();
    return contents;
}

namespace {

std::optional<Failure> replayOne(Store& store, const SpoolRecord& r, QHash<QUuid, qint64>& ids,
                                 Replayed& done, qint64 nowMsecs)
{
    if (r.kind == SpoolRecord::Kind::Header) {
        auto id = store.ensureTest(r.header);
        if (auto* f = failureOf(id)) return *f;
        ids.insert(r.test, std::get<qint64>(id));
        return std::nullopt;
    }
    // A test finished earlier may have its header in the database only.
    if (r.kind == SpoolRecord::Kind::Cell) {
        auto found = store.storeCell(r.test, r.cell);
        if (auto* f = failureOf(found)) return *f;
        return std::nullopt;
    }
    if (!ids.contains(r.test))
        return Failure{QStringLiteral("spool: test %1 has no header").arg(r.test.toString())};
    const qint64 id = ids.value(r.test);
    if (r.kind == SpoolRecord::Kind::Samples) {
        auto end = store.appendSamples(id, r.firstIndex, r.samples);
        if (auto* f = failureOf(end)) return *f;
        done.samples += qint64(r.samples.size());
        return std::nullopt;
    }
    auto record = store.byId(id);
    if (auto* f = failureOf(record)) return *f;
    const auto& known = std::get<std::optional<TestRecord>>(record);
    const Cell cell = known ? known->header.cell : Cell{};
    if (auto f =
            store.storeFigures(id, r.summary, r.finished, stateOfHealth(r.summary, cell), nowMsecs))
        return f;
    if (r.finished) done.finished << r.test;
    return std::nullopt;
}

} // namespace

Result<Replayed> replayRecords(Store& store, const std::vector<SpoolRecord>& records,
                               qint64 nowMsecs)
{
    Replayed done;
    if (records.empty()) return done;
    if (auto f = store.beginWrite()) return *f;
    QHash<QUuid, qint64> ids;
    for (const SpoolRecord& r : records)
        if (auto f = replayOne(store, r, ids, done, nowMsecs)) {
            store.rollback();
            return *f;
        }
    if (auto f = store.commit()) return *f;
    for (qint64 id : ids)
        store.compactCurve(id); // best effort: the curve is whole either way
    return done;
}

Result<Replayed> replayLeftovers(Store& store, const QString& folder, qint64 nowMsecs)
{
    Replayed total;
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("*") + kSuffix}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& info : files) {
        const int fd = lockedOrClosed(info.filePath());
        if (fd < 0) continue; // a living writer's
        auto contents = readSpoolFile(info.filePath());
        auto replayed =
            failureOf(contents)
                ? Result<Replayed>(*failureOf(contents))
                : replayRecords(store, std::get<SpoolContents>(contents).records, nowMsecs);
        if (auto* f = failureOf(replayed)) {
            ::close(fd);
            return *f;
        }
        ::unlink(QFile::encodeName(info.filePath()).constData());
        ::close(fd);
        total.samples += std::get<Replayed>(replayed).samples;
        total.finished += std::get<Replayed>(replayed).finished;
    }
    syncFolder(folder);
    return total;
}

} // namespace eload::library
