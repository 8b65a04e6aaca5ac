#include "library/Export.h"

#include "modbus/Reading.h"
#include "reader/RecordingFile.h"
#include "recording/RecordLayout.h"
#include "recording/WorkbookRecording.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace eload::library {

namespace {

using discharge::Sample;
using namespace modbus;

std::uint16_t word(double v, double scale)
{
    return std::uint16_t(std::clamp<long long>(std::llround(v * scale), 0, 65535));
}

void putPair(RegisterBlock& raw, int high, double v)
{
    const auto count =
        std::uint32_t(std::clamp<long long>(std::llround(v * 1000), 0, 0xffffffffLL));
    raw[high] = std::uint16_t(count >> 16);
    raw[high + 1] = std::uint16_t(count & 0xffff);
}

// The registers a sample was read from, for the panel's texts of them.
RegisterBlock registersOf(const Sample& s)
{
    RegisterBlock raw{};
    raw[RegCurrent] = word(s.current, 100);
    raw[RegVoltage] = word(s.voltage, 100);
    raw[RegPower] = word(s.power, 100);
    putPair(raw, RegCapacityHigh, s.capacityAh);
    putPair(raw, RegEnergyHigh, s.energyWh);
    raw[RegResistance] = s.resistanceMilliohm;
    raw[RegTemperature] = s.temperatureC;
    raw[RegProtection] = s.protection;
    const std::int32_t seconds = std::max(0, s.dischargeSeconds);
    raw[RegHours] = std::uint16_t(std::min(seconds / 3600, 65535));
    raw[RegMinutes] = std::uint16_t(seconds / 60 % 60);
    raw[RegSeconds] = std::uint16_t(seconds % 60);
    raw[RegLoadSwitch] = s.loadOn ? 1 : 0;
    return raw;
}

} // namespace

std::optional<Failure> writeCsv(std::span<const Sample> samples, QIODevice& out)
{
    QByteArray text = reader::csvHeader().toUtf8() + '\n';
    for (const Sample& s : samples) {
        text += reader::csvRow(s).toUtf8() + '\n';
        if (text.size() < (1 << 20)) continue;
        if (out.write(text) != text.size()) return Failure{out.errorString()};
        text.clear();
    }
    if (out.write(text) != text.size()) return Failure{out.errorString()};
    return std::nullopt;
}

std::optional<Failure> exportCsv(std::span<const Sample> samples, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Failure{QStringLiteral("%1: %2").arg(
            path, file.exists() ? QStringLiteral("exists already") : file.errorString())};
    if (auto f = writeCsv(samples, file)) {
        file.remove();
        return Failure{QStringLiteral("%1: %2").arg(path, f->message)};
    }
    if (!file.flush()) {
        file.remove();
        return Failure{QStringLiteral("%1: %2").arg(path, file.errorString())};
    }
    return std::nullopt;
}

Result<QStringList> exportWorkbook(std::span<const Sample> samples, const QString& path)
{
    WorkbookRecording recording;
    QStringList books;
    QObject::connect(&recording, &WorkbookRecording::bookSaved,
                     [&books](const QString& book) { books << book; });
    if (auto e = recording.start(fileBooks(path))) return Failure{e->message};
    for (const Sample& s : samples) {
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(s.msecs);
        const Reading reading = readingFromRegisters(registersOf(s), time);
        if (auto e = recording.append(rowFromReading(reading, time))) {
            recording.close();
            return Failure{e->message};
        }
    }
    if (auto e = recording.save()) {
        recording.close();
        return Failure{e->message};
    }
    return books;
}

} // namespace eload::library
