#include "reader/ReadErrors.h"
#include "reader/RecordingFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <array>
#include <cmath>
#include <limits>

namespace eload::reader {

namespace {

constexpr std::array<const char*, 11> kCsvColumns = {
    "time",          "voltage_V",       "current_A",  "power_W", "capacity_Ah", "energy_Wh",
    "temperature_C", "resistance_mOhm", "protection", "load_on", "discharge_s"};
constexpr qint64 kMaxLineBytes = 4096;

QString fixed(double v, int decimals) { return QString::number(v, 'f', decimals); }

QString isoTime(qint64 msecs)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecs);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// "A" for column 1, as a spreadsheet names the CSV's columns.
QString columnLetter(int column) { return QString(QChar(u'A' + column - 1)); }

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

// Fills `s` from the fields of one row; the column (from 1) that did not parse otherwise.
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
    // Older logs wrote the register as a signed number: both read as the register.
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
    s.temperatureC = std::uint16_t(*temperature);
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

ReadResult readCsv(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return readError(path, QStringLiteral("无法打开文件（%1）").arg(file.errorString()));
    if (file.size() > kMaxCsvBytes)
        return readError(path, QStringLiteral("文件超过 %1 MiB 的上限").arg(kMaxCsvBytes >> 20));
    QString header = lineText(file.readLine(kMaxLineBytes));
    if (header.startsWith(QChar(0xFEFF))) header.remove(0, 1);
    if (header != csvHeader())
        return readError(path,
                         QStringLiteral("不是本程序的 CSV 记录：第 1 行应为“%1”").arg(csvHeader()));

    RecordedCurve curve{QFileInfo(path).completeBaseName(), {}, true};
    for (qint64 row = 2; !file.atEnd(); ++row) {
        const QByteArray bytes = file.readLine(kMaxLineBytes);
        if (!bytes.endsWith('\n') && !file.atEnd())
            return readError(path, QStringLiteral("第 %1 行过长").arg(row));
        const QString line = lineText(bytes);
        if (line.trimmed().isEmpty()) continue;
        const QList<QStringView> fields = QStringView(line).split(u',');
        if (fields.size() != qsizetype(kCsvColumns.size()))
            return readError(path, QStringLiteral("第 %1 行应有 %2 列，实有 %3 列")
                                       .arg(row)
                                       .arg(kCsvColumns.size())
                                       .arg(fields.size()));
        if (qsizetype(curve.samples.size()) >= kMaxRows) return readError(path, tooManyRowsText());
        Sample s;
        if (const int bad = parseFields(fields, s))
            return readError(path, badCellText(row, columnLetter(bad),
                                               QString::fromLatin1(kCsvColumns[bad - 1]),
                                               fields[bad - 1].toString()));
        curve.samples.push_back(s);
    }
    if (file.error() != QFileDevice::NoError)
        return readError(path, QStringLiteral("读取出错（%1）").arg(file.errorString()));
    return curve;
}

} // namespace eload::reader
