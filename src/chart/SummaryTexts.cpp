#include "chart/SummaryTexts.h"

#include "modbus/Formats.h"

#include <algorithm>
#include <cmath>

namespace eload::chart {

using namespace modbus;

QString voltageOf(double volts) { return voltageText(hundredthsOfValue(volts)); }
QString currentOf(double amperes) { return currentText(hundredthsOfValue(amperes)); }
QString powerOf(double watts) { return powerText(hundredthsOfValue(watts)); }
QString capacityOf(double ampereHours) { return capacityText(thousandthsOfValue(ampereHours)); }
QString energyOf(double wattHours) { return energyText(thousandthsOfValue(wattHours)); }
QString durationOf(double seconds) { return durationText(wholeOfValue(seconds)); }

// Whole registers: the same saturation as every other count.
QString temperatureOf(double celsius)
{
    return temperatureText(std::uint16_t(std::min<std::uint32_t>(wholeOfValue(celsius), 65535)));
}

QString resistanceOf(double milliohm)
{
    return resistanceText(std::uint16_t(std::min<std::uint32_t>(wholeOfValue(milliohm), 65535)));
}

QString differenceOf(double value, QString (*text)(double))
{
    const QString shown = text(std::abs(value));
    // No sign before a difference that shows as zero.
    return value < 0 && shown != text(0) ? QLatin1Char('-') + shown : shown;
}

namespace {

QString notesOf(const discharge::Summary& s)
{
    QStringList notes;
    if (s.countsDisagree) notes << QStringLiteral("*模块计数与测量值不符，平均值按测量值计算");
    if (s.gaps > 0)
        notes << QStringLiteral("通讯间断 %1 次，共 %2").arg(s.gaps).arg(durationOf(s.gapSeconds));
    return notes.isEmpty() ? QStringLiteral("—") : notes.join(QStringLiteral("；"));
}

} // namespace

SummaryTexts summaryTexts(const discharge::Summary& s, bool running)
{
    if (s.samples == 0) {
        const QString none = QStringLiteral("—");
        return {none, none, none, none, none, none, none, none, none};
    }
    const QString end = s.end != discharge::EndReason::None ? discharge::endReasonText(s.end)
                        : running                           ? QStringLiteral("放电中")
                                                            : QStringLiteral("—");
    const QString mark = s.countsDisagree ? QStringLiteral("*") : QString();
    return {durationOf(s.durationSeconds),
            capacityOf(s.capacityAh) + mark,
            energyOf(s.energyWh) + mark,
            voltageOf(s.averageVoltage),
            voltageOf(s.lowestVoltage),
            currentOf(s.averageCurrent),
            powerOf(s.averagePower),
            end,
            notesOf(s)};
}

} // namespace eload::chart
