// The CSV log: written by the chart's export and `watch --csv FILE`, and on
// standard output by `watch --csv` with the module's address first.

#include "reader/Blocks.h"
#include "reader/ReadErrors.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <array>
#include <cmath>
#include <limits>
#include <map>

namespace eload::reader {

namespace {

constexpr std::array<const char*, 11> kCsvColumns = {
    "time",          "voltage_V",       "current_A",  "power_W", "capacity_Ah", "energy_Wh",
    "temperature_C", "resistance_mOhm", "protection", "load_on", "discharge_s"};
const QString kAddressColumn = QStringLiteral("address");
constexpr qint64 kMaxLineBytes = 4096;

QString fixed(double v, int decimals) { return QString::number(v, 'f', decimals); }

QString isoTime(qint64 msecs)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecs);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

std::optional<double> numberOf(QStringView text)
{
    bool ok = false;
    const double v = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<qint64> wholeOf(QStringView text, qint64 min, qint64 max)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || v < min || v > max) return std::nullopt;
    return v;
}

// Fills `s` from the 11 fields of one row; the field (from 1) that did not parse otherwise.
int parseFields(const QList<QStringView>& f, Sample& s)
{
    const QDateTime time = QDateTime::fromString(f[0].toString(), Qt::ISODateWithMs);
    if (!time.isValid()) return 1;
    s.msecs = time.toMSecsSinceEpoch();
    float* const floats[] = {&s.voltage, &s.current, &s.power};
    for (int c = 1; c <= 3; ++c) {
        const auto v = numberOf(f[c]);
        if (!v || std::abs(*v) > std::numeric_limits<float>::max()) return c + 1;
        *floats[c - 1] = float(*v);
    }
    double* const doubles[] = {&s.capacityAh, &s.energyWh};
    for (int c = 4; c <= 5; ++c) {
        const auto v = numberOf(f[c]);
        if (!v) return c + 1;
        *doubles[c - 4] = *v;
    }
    // The register unsigned; an older log wrote it signed: the same register.
    const auto temperature = wholeOf(f[6], -32768, 65535);
    if (!temperature) return 7;
    const auto resistance = wholeOf(f[7], 0, 65535);
    if (!resistance) return 8;
    const auto protection = wholeOf(f[8], 0, 65535);
    if (!protection) return 9;
    const auto loadOn = wholeOf(f[9], 0, 1);
    if (!loadOn) return 10;
    const auto seconds = wholeOf(f[10], 0, std::numeric_limits<std::int32_t>::max());
    if (!seconds) return 11;
    s.temperatureC = std::uint16_t(*temperature & 0xFFFF);
    s.resistanceMilliohm = std::uint16_t(*resistance);
    s.protection = std::uint16_t(*protection);
    s.loadOn = *loadOn == 1;
    s.dischargeSeconds = std::int32_t(*seconds);
    return 0;
}

QString lineText(QByteArray line)
{
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

ReadError csvError(ReadProblem problem, qint64 row = 0)
{
    ReadError e;
    e.problem = problem;
    e.row = row;
    return e;
}

class CsvReader {
public:
    explicit CsvReader(QString path) : path_(std::move(path)), file_(path_) {}
    ReadResult read();

private:
    Failure open();
    Failure readHeader();
    Failure readRows();
    Failure takeLine(qint64 row, const QString& line);
    Recording recording();

    QString path_;
    QFile file_;
    bool withAddress_ = false;
    // One curve per address, in the order they first appear; 0 for a log without.
    std::vector<int> addresses_;
    std::map<int, Blocks<Sample>> samples_;
    qint64 rows_ = 0;
    std::vector<ReadError> warnings_;
};

Failure CsvReader::open()
{
    if (!file_.exists()) return csvError(ReadProblem::NoSuchFile);
    if (!file_.open(QIODevice::ReadOnly)) {
        ReadError e = csvError(ReadProblem::CannotOpen);
        e.reason = file_.errorString();
        return e;
    }
    if (file_.size() > kMaxCsvBytes) return csvError(ReadProblem::FileTooLarge);
    return std::nullopt;
}

Failure CsvReader::readHeader()
{
    QString header = lineText(file_.readLine(kMaxLineBytes));
    if (header.startsWith(QChar(0xFEFF))) header.remove(0, 1);
    withAddress_ = header.startsWith(kAddressColumn + u',');
    if (withAddress_) header.remove(0, kAddressColumn.size() + 1);
    if (header != csvHeader()) return csvError(ReadProblem::NotOurCsv, 1);
    return std::nullopt;
}

Failure CsvReader::takeLine(qint64 row, const QString& line)
{
    QList<QStringView> fields = QStringView(line).split(u',');
    const qsizetype expected = qsizetype(kCsvColumns.size()) + (withAddress_ ? 1 : 0);
    if (fields.size() != expected) {
        ReadError e = csvError(ReadProblem::FieldCount, row);
        e.expected = QString::number(expected);
        e.found = QString::number(fields.size());
        return e;
    }
    if (rows_ >= kMaxRows) return csvError(ReadProblem::TooManyRows);
    const auto badField = [&](int column, const QString& name) {
        ReadError e = csvError(ReadProblem::BadCell, row);
        e.column = column;
        e.field = name;
        e.found = fields[column - 1].toString();
        return e;
    };
    int address = 0;
    if (withAddress_) {
        const auto a = wholeOf(fields[0], 1, 255);
        if (!a) return badField(1, kAddressColumn);
        address = int(*a);
        fields.removeFirst();
    }
    Sample s;
    if (const int bad = parseFields(fields, s))
        return badField(bad + (withAddress_ ? 1 : 0), QString::fromLatin1(kCsvColumns[bad - 1]));
    auto [place, added] = samples_.try_emplace(address);
    if (added) addresses_.push_back(address);
    place->second.push_back(s);
    ++rows_;
    return std::nullopt;
}

Failure CsvReader::readRows()
{
    for (qint64 row = 2; !file_.atEnd(); ++row) {
        const QByteArray bytes = file_.readLine(kMaxLineBytes);
        const bool ended = bytes.endsWith('\n');
        if (!ended && !file_.atEnd()) return csvError(ReadProblem::LineTooLong, row);
        const QString line = lineText(bytes);
        if (line.trimmed().isEmpty()) continue;
        // The writer ends every line: the last one without its end was cut
        // short (a full disk, a killed writer), so even a value that parses
        // may be a number cut in two.
        if (!ended) {
            warnings_.push_back(csvError(ReadProblem::TornLastRow, row));
            warnings_.back().file = path_;
            break;
        }
        if (Failure f = takeLine(row, line)) return f;
    }
    if (file_.error() != QFileDevice::NoError) {
        ReadError e = csvError(ReadProblem::ReadFailed);
        e.reason = file_.errorString();
        return e;
    }
    return std::nullopt;
}

Recording CsvReader::recording()
{
    Recording r;
    const QString name = QFileInfo(path_).completeBaseName();
    if (addresses_.empty()) r.curves.push_back({name, 0, {}, true});
    for (int address : addresses_)
        r.curves.push_back({name, address, samples_[address].take(), true});
    r.warnings = std::move(warnings_);
    return r;
}

ReadResult CsvReader::read()
{
    Failure failure = open();
    if (!failure) failure = readHeader();
    if (!failure) failure = readRows();
    if (failure) {
        failure->file = path_;
        return *failure;
    }
    return recording();
}

} // namespace

QString csvHeader()
{
    QStringList names;
    for (const char* c : kCsvColumns)
        names << QString::fromLatin1(c);
    return names.join(u',');
}

QString csvRow(const Sample& s)
{
    return QStringList{isoTime(s.msecs),
                       fixed(s.voltage, 2),
                       fixed(s.current, 2),
                       fixed(s.power, 2),
                       fixed(s.capacityAh, 3),
                       fixed(s.energyWh, 3),
                       QString::number(s.temperatureC),
                       QString::number(s.resistanceMilliohm),
                       QString::number(s.protection),
                       QString::number(s.loadOn ? 1 : 0),
                       QString::number(s.dischargeSeconds)}
        .join(u',');
}

ReadResult readCsv(const QString& path) { return CsvReader(path).read(); }

} // namespace eload::reader
