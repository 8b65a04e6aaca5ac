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

SummaryTexts summaryTexts(const discharge::Summary& s, bool running)
{
    if (s.samples == 0) {
        const QString none = QStringLiteral("—");
        return {none, none, none, none, none, none, none, none};
    }
    const QString end = s.end != discharge::EndReason::None ? discharge::endReasonText(s.end)
                        : running                           ? QStringLiteral("放电中")
                                                            : QStringLiteral("—");
    return {durationOf(s.durationSeconds), capacityOf(s.capacityAh),
            energyOf(s.energyWh),          voltageOf(s.averageVoltage),
            voltageOf(s.lowestVoltage),    currentOf(s.averageCurrent),
            powerOf(s.averagePower),       end};
}

} // namespace eload::chart
