#include "cli/TestsOutput.h"

#include "cli/Output.h"

#include "modbus/Formats.h"

#include <QDateTime>
#include <QJsonArray>
#include <algorithm>
#include <cmath>

namespace eload::cli {

namespace {

using library::TestRecord;

QString localTime(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString utcTime(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString wattHours(double v)
{
    return modbus::energyText(std::uint32_t(std::max(0LL, std::llround(v * 1000))));
}
QString volts(double v)
{
    return modbus::voltageText(std::uint16_t(std::clamp(std::lround(v * 100), 0L, 65535L)));
}
QString amps(double v)
{
    return modbus::currentText(std::uint16_t(std::clamp(std::lround(v * 100), 0L, 65535L)));
}
QString watts(double v)
{
    return modbus::powerText(std::uint16_t(std::clamp(std::lround(v * 100), 0L, 65535L)));
}

QString duration(double seconds)
{
    const long s = std::lround(std::max(0.0, seconds));
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString percent(const std::optional<double>& fraction)
{
    return fraction ? QStringLiteral("%1%").arg(*fraction * 100, 0, 'f', 1) : QStringLiteral("-");
}

QString endWord(const TestRecord& r)
{
    const QString key = discharge::endReasonKey(r.summary.end);
    return key.isEmpty() ? QStringLiteral("-") : key;
}

QString orDash(const QString& text) { return text.isEmpty() ? QStringLiteral("-") : text; }

QJsonValue numberOrNull(const std::optional<double>& v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

QJsonValue textOrNull(const QString& v)
{
    return v.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(v);
}

QJsonValue idsJson(const QList<qint64>& ids)
{
    QJsonArray a;
    for (qint64 id : ids)
        a.append(id);
    return a;
}

QString idsText(const QList<qint64>& ids)
{
    QStringList t;
    for (qint64 id : ids)
        t << QString::number(id);
    return t.join(QStringLiteral(", "));
}

} // namespace

// The panel's patterns count what a register holds.
QString ampHours(double v)
{
    return modbus::capacityText(std::uint32_t(std::max(0LL, std::llround(v * 1000))));
}

QString csvField(const QString& text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString recordTableHeader()
{
    return QStringLiteral("%1  %2  %3 %4 %5 %6 %7 %8 %9 %10")
        .arg(QStringLiteral("ID"), 6)
        .arg(QStringLiteral("start"), -19)
        .arg(QStringLiteral("cell"), -12)
        .arg(QStringLiteral("type"), -14)
        .arg(QStringLiteral("capacity"), 10)
        .arg(QStringLiteral("SoH"), 6)
        .arg(QStringLiteral("R"), 6)
        .arg(QStringLiteral("grade"), -6)
        .arg(QStringLiteral("end"), -9)
        .arg(QStringLiteral("state flags"));
}

QString recordTableRow(const TestRecord& r, qint64 now)
{
    const QStringList flags = r.summary.flagKeys();
    return QStringLiteral("%1  %2  %3 %4 %5 %6 %7 %8 %9 %10")
        .arg(r.id, 6)
        .arg(localTime(r.startMsecs()), -19)
        .arg(r.header.cell.name, -12)
        .arg(orDash(r.header.cell.type), -14)
        .arg(ampHours(r.summary.capacityAh), 10)
        .arg(percent(r.stateOfHealth), 6)
        .arg(modbus::resistanceText(r.summary.resistanceMilliohm), 6)
        .arg(orDash(r.grade), -6)
        .arg(endWord(r), -9)
        .arg((QStringList{library::stateKey(r.state(now))} + flags).join(u' '));
}

QString recordPage(const TestRecord& r, qint64 now, qint64 curveBytes)
{
    const discharge::Summary& s = r.summary;
    const library::TestHeader& h = r.header;
    const auto optional = [](const std::optional<double>& v, const QString& unit) {
        return v ? QString::number(*v) + unit : QStringLiteral("-");
    };
    QString page;
    page += QStringLiteral("test %1  %2\n").arg(r.id).arg(h.uuid.toString(QUuid::WithoutBraces));
    page +=
        QStringLiteral("  cell      %1, type %2, rated %3\n")
            .arg(h.cell.name, orDash(h.cell.type), optional(h.cell.ratedAh, QStringLiteral(" Ah")));
    page += QStringLiteral("  station   %1, port %2, address %3\n")
                .arg(orDash(h.station), orDash(h.port),
                     h.address ? QString::number(*h.address) : QStringLiteral("-"));
    page += QStringLiteral("  presets   current %1, cut-off %2, power %3\n")
                .arg(optional(h.presets.currentA, QStringLiteral(" A")),
                     optional(h.presets.cutoffV, QStringLiteral(" V")),
                     optional(h.presets.powerW, QStringLiteral(" W")));
    page += QStringLiteral("  time      %1 to %2 (local), %3\n")
                .arg(localTime(r.startMsecs()), localTime(r.endMsecs()),
                     library::stateKey(r.state(now)));
    page += QStringLiteral("  end       %1\n").arg(endWord(r));
    page += QStringLiteral("  figures   capacity %1, energy %2 over %3 (module time)\n")
                .arg(ampHours(s.capacityAh), wattHours(s.energyWh), duration(s.durationSeconds));
    page += QStringLiteral("            mean %1, %2, %3; lowest %4 under load\n")
                .arg(volts(s.averageVoltage), amps(s.averageCurrent), watts(s.averagePower),
                     volts(s.lowestVoltage));
    page += QStringLiteral("            highest %1, resistance %2\n")
                .arg(modbus::temperatureText(s.highestTemperatureC),
                     modbus::resistanceText(s.resistanceMilliohm));
    page += QStringLiteral("  flags     %1; %2 gaps (%3 s), %4 polls unanswered\n")
                .arg(s.countsDisagree ? QStringLiteral("the module's counts disagree")
                                      : QStringLiteral("counts agree"))
                .arg(s.gaps)
                .arg(s.gapSeconds, 0, 'f', 1)
                .arg(s.missedPolls);
    page += QStringLiteral("  health    SoH %1, grade %2\n")
                .arg(percent(r.stateOfHealth), orDash(r.grade));
    page += QStringLiteral("  curve     %1 replies").arg(s.samples);
    page += curveBytes >= 0 ? QStringLiteral(", %1 bytes stored\n").arg(curveBytes)
                            : QStringLiteral("\n");
    if (r.source)
        page += QStringLiteral("  imported  from %1 (discharge %2)\n")
                    .arg(r.source->file)
                    .arg(r.source->index + 1);
    return page;
}

QJsonObject recordJson(const TestRecord& r, qint64 now)
{
    const library::TestHeader& h = r.header;
    QJsonObject o{
        {QStringLiteral("id"), r.id},
        {QStringLiteral("uuid"), h.uuid.toString(QUuid::WithoutBraces)},
        {QStringLiteral("cell"),
         QJsonObject{{QStringLiteral("name"), h.cell.name},
                     {QStringLiteral("type"), h.cell.type},
                     {QStringLiteral("rated_Ah"), numberOrNull(h.cell.ratedAh)}}},
        {QStringLiteral("station"), h.station},
        {QStringLiteral("port"), h.port},
        {QStringLiteral("address"),
         h.address ? QJsonValue(*h.address) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("presets"),
         QJsonObject{{QStringLiteral("current_A"), numberOrNull(h.presets.currentA)},
                     {QStringLiteral("cutoff_V"), numberOrNull(h.presets.cutoffV)},
                     {QStringLiteral("power_W"), numberOrNull(h.presets.powerW)}}},
        {QStringLiteral("start_time"), utcTime(r.startMsecs())},
        {QStringLiteral("end_time"), utcTime(r.endMsecs())},
        {QStringLiteral("state"), library::stateKey(r.state(now))},
        {QStringLiteral("summary"), figuresJson(r.summary)},
        {QStringLiteral("soh"), numberOrNull(r.stateOfHealth)},
        {QStringLiteral("grade"), textOrNull(r.grade)},
    };
    if (r.source)
        o.insert(
            QStringLiteral("source"),
            QJsonObject{{QStringLiteral("file"), r.source->file},
                        {QStringLiteral("sha256"), QString::fromLatin1(r.source->sha256.toHex())},
                        {QStringLiteral("discharge"), r.source->index}});
    return o;
}

QString recordCsvHeader()
{
    return QStringLiteral(
        "id,uuid,cell,type,rated_Ah,station,port,address,start_time,end_time,state,end,"
        "capacity_Ah,energy_Wh,duration_s,average_voltage_V,lowest_voltage_V,average_current_A,"
        "average_power_W,highest_temperature_C,resistance_mOhm,soh,grade,flags,samples,source");
}

QString recordCsvRow(const TestRecord& r, qint64 now)
{
    const library::TestHeader& h = r.header;
    const discharge::Summary& s = r.summary;
    const auto number = [](const std::optional<double>& v) {
        return v ? QString::number(*v) : QString();
    };
    return QStringList{QString::number(r.id),
                       h.uuid.toString(QUuid::WithoutBraces),
                       csvField(h.cell.name),
                       csvField(h.cell.type),
                       number(h.cell.ratedAh),
                       csvField(h.station),
                       csvField(h.port),
                       h.address ? QString::number(*h.address) : QString(),
                       utcTime(r.startMsecs()),
                       utcTime(r.endMsecs()),
                       library::stateKey(r.state(now)),
                       discharge::endReasonKey(s.end),
                       QString::number(s.capacityAh),
                       QString::number(s.energyWh),
                       QString::number(s.durationSeconds),
                       QString::number(s.averageVoltage),
                       QString::number(s.lowestVoltage),
                       QString::number(s.averageCurrent),
                       QString::number(s.averagePower),
                       QString::number(s.highestTemperatureC),
                       QString::number(s.resistanceMilliohm),
                       number(r.stateOfHealth),
                       csvField(r.grade),
                       s.flagKeys().join(u' '),
                       QString::number(s.samples),
                       csvField(r.source ? r.source->file : QString())}
        .join(u',');
}

QString importText(const library::ImportOutcome& o)
{
    if (o.alreadyImported)
        return QStringLiteral("%1: imported before (tests %2)\n")
            .arg(o.path, idsText(o.earlierIds));
    QString text;
    for (const QString& w : o.warnings)
        text += QStringLiteral("warning: %1\n").arg(w);
    if (o.ids.isEmpty())
        return text + QStringLiteral("%1: no discharge with the load on\n").arg(o.path);
    return text +
           QStringLiteral("%1: stored as test%2 %3\n")
               .arg(o.path, o.ids.size() == 1 ? QString() : QStringLiteral("s"), idsText(o.ids));
}

QJsonObject importJson(const library::ImportOutcome& o)
{
    return {{QStringLiteral("file"), o.path},
            {QStringLiteral("ids"), idsJson(o.ids)},
            {QStringLiteral("imported_before"), o.alreadyImported},
            {QStringLiteral("earlier_ids"), idsJson(o.earlierIds)},
            {QStringLiteral("warnings"), QJsonArray::fromStringList(o.warnings)}};
}

QString gradingText(const TestRecord& r, const library::Grading& g)
{
    return QStringLiteral("%1  %2 %3 SoH %4 %5  %6%7\n")
        .arg(r.id, 6)
        .arg(r.header.cell.name, -12)
        .arg(orDash(r.header.cell.type), -14)
        .arg(percent(r.stateOfHealth), 6)
        .arg(modbus::resistanceText(r.summary.resistanceMilliohm), 6)
        .arg(g.grade.isEmpty() ? QStringLiteral("not graded") : g.grade)
        .arg(g.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(g.reason));
}

QJsonObject gradingJson(const TestRecord& r, const library::Grading& g)
{
    return {{QStringLiteral("id"), r.id},
            {QStringLiteral("cell"), r.header.cell.name},
            {QStringLiteral("type"), r.header.cell.type},
            {QStringLiteral("soh"), numberOrNull(r.stateOfHealth)},
            {QStringLiteral("resistance_mOhm"), int(r.summary.resistanceMilliohm)},
            {QStringLiteral("grade"), textOrNull(g.grade)},
            {QStringLiteral("reason"), g.reason}};
}

} // namespace eload::cli
