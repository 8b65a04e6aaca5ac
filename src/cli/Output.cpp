#include "cli/Output.h"

#include "cli/Bus.h"
#include "discharge/Sample.h"
#include "modbus/Formats.h"
#include "reader/RecordingFile.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>

namespace eload::cli {

namespace {

using namespace modbus;

QString protectionWord(std::uint16_t code)
{
    if (code == ProtectionNone) return QStringLiteral("none");
    if (const std::optional<QString> t = protectionText(code)) return t->trimmed();
    return QStringLiteral("code %1").arg(code);
}

QString loadWord(bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); }

QString timeText(const RegisterBlock& raw)
{
    return dischargeTimeText(raw[RegHours], raw[RegMinutes], raw[RegSeconds]);
}

QString moduleBaudText(std::uint16_t code)
{
    const std::optional<int> rate = baudOfCode(code);
    return rate ? QStringLiteral("%1 Bd").arg(*rate) : QStringLiteral("code %1").arg(code);
}

QString isoTime(const QDateTime& t)
{
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QJsonValue numberOrNull(std::optional<int> v) { return v ? QJsonValue(*v) : QJsonValue(); }

// The module counts hundredths and thousandths; more digits would only show
// the float the samples keep.
double rounded(double v, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(v * scale) / scale;
}

QJsonObject summaryObject(const discharge::Summary& s)
{
    return {
        {QStringLiteral("capacity_Ah"), rounded(s.capacityAh, 3)},
        {QStringLiteral("energy_Wh"), rounded(s.energyWh, 3)},
        {QStringLiteral("duration_s"), s.durationSeconds},
        {QStringLiteral("average_voltage_V"), rounded(s.averageVoltage, 4)},
        {QStringLiteral("lowest_voltage_V"), rounded(s.lowestVoltage, 2)},
        {QStringLiteral("average_current_A"), rounded(s.averageCurrent, 4)},
        {QStringLiteral("average_power_W"), rounded(s.averagePower, 4)},
        {QStringLiteral("highest_temperature_C"), int(s.highestTemperatureC)},
        {QStringLiteral("resistance_mOhm"), int(s.resistanceMilliohm)},
        {QStringLiteral("samples"), s.samples},
        {QStringLiteral("start_time"), isoTime(QDateTime::fromMSecsSinceEpoch(s.startMsecs))},
        {QStringLiteral("end_time"), isoTime(QDateTime::fromMSecsSinceEpoch(s.endMsecs))},
    };
}

QString figuresText(const discharge::Summary& s)
{
    return QStringLiteral("  capacity %1, energy %2 over %3 (module time)\n"
                          "  mean %4, %5, %6; lowest %7 under load; %8 samples\n")
        .arg(capacityText(thousandthsOfValue(s.capacityAh)),
             energyText(thousandthsOfValue(s.energyWh)),
             durationText(wholeOfValue(s.durationSeconds)),
             voltageText(hundredthsOfValue(s.averageVoltage)),
             currentText(hundredthsOfValue(s.averageCurrent)),
             powerText(hundredthsOfValue(s.averagePower)),
             voltageText(hundredthsOfValue(s.lowestVoltage)))
        .arg(s.samples);
}

// What a watch adds to the figures: where they are counted from, the line's
// gaps and the model's flags.
QJsonObject testObject(const discharge::Summary& s)
{
    return {
        {QStringLiteral("base_capacity_Ah"), rounded(s.baseCapacityAh, 3)},
        {QStringLiteral("base_energy_Wh"), rounded(s.baseEnergyWh, 3)},
        {QStringLiteral("base_discharge_s"), s.baseSeconds},
        {QStringLiteral("load_on_samples"), s.loadOnSamples},
        {QStringLiteral("gaps"), s.gaps},
        {QStringLiteral("gap_s"), rounded(s.gapSeconds, 3)},
        {QStringLiteral("missed_polls"), s.missedPolls},
        {QStringLiteral("counts_disagree"), s.countsDisagree},
        {QStringLiteral("flags"), QJsonArray::fromStringList(s.flagKeys())},
    };
}

} // namespace

QJsonObject figuresJson(const discharge::Summary& s)
{
    QJsonObject o = summaryObject(s);
    const QJsonObject test = testObject(s);
    for (auto it = test.begin(); it != test.end(); ++it)
        o.insert(it.key(), it.value());
    o.insert(QStringLiteral("end"), discharge::endReasonKey(s.end));
    return o;
}

namespace {

QString testNotesText(const discharge::Summary& s)
{
    QString text;
    if (s.baseCapacityAh > 0 || s.baseEnergyWh > 0 || s.baseSeconds > 0)
        text += QStringLiteral("  the discharge's own figures: the module counted %1, %2, %3 "
                               "before it began\n")
                    .arg(capacityText(thousandthsOfValue(s.baseCapacityAh)),
                         energyText(thousandthsOfValue(s.baseEnergyWh)),
                         durationText(wholeOfValue(s.baseSeconds)));
    if (s.gaps > 0 || s.missedPolls > 0)
        text += QStringLiteral("  gaps in the line: %1 (%2 s without an answer), %3 poll(s) "
                               "unanswered\n")
                    .arg(s.gaps)
                    .arg(s.gapSeconds, 0, 'f', 1)
                    .arg(s.missedPolls);
    if (s.countsDisagree)
        text += QStringLiteral("  flag counts-disagree: the module's counts do not fit the polled "
                               "values; the means are those of the polled values\n");
    return text;
}

} // namespace

QString valuesLineHeader()
{
    return QStringLiteral("addr  voltage current   power   capacity     energy  resist temp prot "
                          "    time load");
}

QString valuesLine(std::uint8_t address, const Reading& r)
{
    const RegisterBlock& raw = r.raw;
    return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10 %11")
        .arg(address, 4)
        .arg(voltageText(raw[RegVoltage]), 8)
        .arg(currentText(raw[RegCurrent]), 7)
        .arg(powerText(raw[RegPower]), 7)
        .arg(capacityText(registerPair(raw, RegCapacityHigh)), 10)
        .arg(energyText(registerPair(raw, RegEnergyHigh)), 10)
        .arg(resistanceText(raw[RegResistance]), 7)
        .arg(temperatureText(raw[RegTemperature]), 4)
        .arg(raw[RegProtection] == ProtectionNone ? QString() : protectionWord(raw[RegProtection]),
             4)
        .arg(timeText(raw), 8)
        .arg(loadWord(r.loadOn), 4);
}

QString valuesTable(const std::vector<ModuleColumn>& columns)
{
    using Cell = QString (*)(const Reading&);
    static const std::vector<std::pair<QString, Cell>> rows{
        {QStringLiteral("current"),
         [](const Reading& r) { return currentText(r.raw[RegCurrent]); }},
        {QStringLiteral("voltage"),
         [](const Reading& r) { return voltageText(r.raw[RegVoltage]); }},
        {QStringLiteral("power"), [](const Reading& r) { return powerText(r.raw[RegPower]); }},
        {QStringLiteral("capacity"),
         [](const Reading& r) { return capacityText(registerPair(r.raw, RegCapacityHigh)); }},
        {QStringLiteral("energy"),
         [](const Reading& r) { return energyText(registerPair(r.raw, RegEnergyHigh)); }},
        {QStringLiteral("resistance"),
         [](const Reading& r) { return resistanceText(r.raw[RegResistance]); }},
        {QStringLiteral("temperature"),
         [](const Reading& r) { return temperatureText(r.raw[RegTemperature]); }},
        {QStringLiteral("protection"),
         [](const Reading& r) { return protectionWord(r.raw[RegProtection]); }},
        {QStringLiteral("discharge time"), [](const Reading& r) { return timeText(r.raw); }},
        {QStringLiteral("load"), [](const Reading& r) { return loadWord(r.loadOn); }},
        {QStringLiteral("current preset"),
         [](const Reading& r) { return currentText(r.raw[RegCurrentPreset]); }},
        {QStringLiteral("cut-off"),
         [](const Reading& r) { return voltageText(r.raw[RegCutoffPreset]); }},
        {QStringLiteral("power preset"),
         [](const Reading& r) { return powerText(r.raw[RegPowerPreset]); }},
        {QStringLiteral("module baud"),
         [](const Reading& r) { return moduleBaudText(r.raw[RegBaudCode]); }},
    };
    QStringList lines{QStringLiteral("address").leftJustified(16)};
    for (const auto& row : rows)
        lines << row.first.leftJustified(16);
    for (const ModuleColumn& c : columns) {
        QStringList cells{QString::number(c.address)};
        for (std::size_t i = 0; i < rows.size(); ++i)
            cells << (c.reading ? rows[i].second(*c.reading) : i == 0 ? c.failure : QString());
        qsizetype width = 0;
        for (const QString& cell : cells)
            width = std::max(width, cell.size());
        for (qsizetype i = 0; i < cells.size(); ++i)
            lines[i] += cells[i].leftJustified(width + 2);
    }
    for (QString& l : lines)
        l = l.trimmed() + u'\n';
    return lines.join(QString());
}

QJsonObject readingJson(std::uint8_t address, const Reading& r)
{
    QJsonArray registers;
    for (std::uint16_t w : r.raw)
        registers.append(w);
    const std::optional<QString> protection = protectionText(r.protection);
    return {
        {QStringLiteral("address"), address},
        {QStringLiteral("time"), isoTime(r.time)},
        {QStringLiteral("voltage_V"), r.voltage},
        {QStringLiteral("current_A"), r.current},
        {QStringLiteral("power_W"), r.power},
        {QStringLiteral("capacity_Ah"), r.capacityAh},
        {QStringLiteral("energy_Wh"), r.energyWh},
        {QStringLiteral("temperature_C"), r.temperatureC},
        {QStringLiteral("resistance_mOhm"), r.resistanceMilliohm},
        {QStringLiteral("protection"), r.protection},
        {QStringLiteral("protection_text"),
         protection ? QJsonValue(protectionWord(r.protection)) : QJsonValue()},
        {QStringLiteral("load_on"), r.loadOn},
        {QStringLiteral("discharge_s"), r.dischargeSeconds},
        {QStringLiteral("current_preset_A"), r.currentPreset},
        {QStringLiteral("cutoff_preset_V"), r.cutoffPreset},
        {QStringLiteral("power_preset_W"), r.powerPreset},
        {QStringLiteral("module_baud"), numberOrNull(baudOfCode(r.baudCode))},
        {QStringLiteral("registers"), registers},
    };
}

QJsonObject failureJson(std::uint8_t address, const QDateTime& time, const QString& error,
                        const QString& message)
{
    return {{QStringLiteral("address"), address},
            {QStringLiteral("time"), isoTime(time)},
            {QStringLiteral("error"), error},
            {QStringLiteral("message"), message}};
}

QString csvHeaderWithAddress() { return QStringLiteral("address,") + reader::csvHeader(); }

QString csvRowWithAddress(std::uint8_t address, const Reading& r)
{
    return QString::number(address) + u',' + reader::csvRow(discharge::sampleOf(r));
}

namespace {

QString uuidText(const QUuid& u) { return u.toString(QUuid::WithoutBraces); }

// Each record on a line: in the database, or waiting in the spool.
QString recordsText(const ModuleEnd& m, const RecordsPlace& place)
{
    QString text;
    for (const QUuid& u : m.records) {
        if (place.stored.contains(u))
            text += QStringLiteral("  recorded: test %1 in %2\n").arg(uuidText(u), place.library);
        else if (place.settled)
            text += QStringLiteral("  recorded: test %1 in the spool %2 until %3 answers "
                                   "('eload-cli tests sync' on that database stores it then)\n")
                        .arg(uuidText(u), place.spool, place.library);
        else
            text += QStringLiteral("  not recorded in time: test %1; what the writer held "
                                   "may be in the spool %2\n")
                        .arg(uuidText(u), place.spool);
    }
    return text;
}

QJsonObject recordsJson(const ModuleEnd& m, const RecordsPlace& place)
{
    QJsonArray records;
    for (const QUuid& u : m.records)
        records.append(QJsonObject{{QStringLiteral("uuid"), uuidText(u)},
                                   {QStringLiteral("stored"), place.stored.contains(u)}});
    return {{QStringLiteral("library"), place.library},
            {QStringLiteral("spool"), place.spool},
            {QStringLiteral("settled"), place.settled},
            {QStringLiteral("tests"), records}};
}

} // namespace

QString summaryText(const ModuleEnd& m, const Tally& tally, const RecordsPlace* place)
{
    const QString load = !m.loadOnAtEnd ? QStringLiteral("load state not read back")
                                        : QStringLiteral("load %1").arg(loadWord(*m.loadOnAtEnd));
    QString text =
        QStringLiteral("address %1: ended by %2; %3\n").arg(m.address).arg(m.end.text, load) +
        figuresText(m.summary) + testNotesText(m.summary) +
        QStringLiteral("  %1\n").arg(tally.text());
    for (const QString& f : m.files)
        text += QStringLiteral("  written: %1\n").arg(f);
    if (place) text += recordsText(m, *place);
    return text;
}

QJsonObject summaryJson(const ModuleEnd& m, const Tally& tally, const RecordsPlace* place)
{
    QJsonObject s = figuresJson(m.summary);
    s.insert(QStringLiteral("end"), m.end.key); // ours: a stop rule's too
    s.insert(QStringLiteral("end_text"), m.end.text);
    s.insert(QStringLiteral("load_on"), m.loadOnAtEnd ? QJsonValue(*m.loadOnAtEnd) : QJsonValue());
    s.insert(QStringLiteral("replies"), tally.replies);
    s.insert(QStringLiteral("failed_tries"), tally.failed());
    s.insert(QStringLiteral("files"), QJsonArray::fromStringList(m.files));
    QJsonObject o{{QStringLiteral("address"), m.address}, {QStringLiteral("summary"), s}};
    if (place) o.insert(QStringLiteral("records"), recordsJson(m, *place));
    return o;
}

QString recordingSummaryText(const QString& file, int address, const discharge::Summary& s)
{
    const QString end = discharge::endReasonKey(s.end);
    const QString source =
        address > 0 ? QStringLiteral("%1, address %2").arg(file).arg(address) : file;
    return QStringLiteral("%1: %2\n")
               .arg(source, end.isEmpty() ? QStringLiteral("end not recorded")
                                          : QStringLiteral("ended by %1").arg(end)) +
           figuresText(s) + testNotesText(s);
}

QJsonObject recordingSummaryJson(const QString& file, int address, const discharge::Summary& s)
{
    return {{QStringLiteral("file"), file},
            {QStringLiteral("address"), address > 0 ? QJsonValue(address) : QJsonValue()},
            {QStringLiteral("summary"), figuresJson(s)}};
}

QByteArray jsonLine(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace eload::cli
