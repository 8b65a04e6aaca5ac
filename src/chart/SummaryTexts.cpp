#include "chart/SummaryTexts.h"

#include "modbus/Formats.h"

namespace eload::chart {

using namespace modbus;

QString voltageOf(double volts) { return voltageText(hundredthsOfValue(volts)); }
QString currentOf(double amperes) { return currentText(hundredthsOfValue(amperes)); }
QString powerOf(double watts) { return powerText(hundredthsOfValue(watts)); }
QString capacityOf(double ampereHours) { return capacityText(thousandthsOfValue(ampereHours)); }
QString energyOf(double wattHours) { return energyText(thousandthsOfValue(wattHours)); }
QString durationOf(double seconds) { return durationText(wholeOfValue(seconds)); }

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
