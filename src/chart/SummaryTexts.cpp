#include "chart/SummaryTexts.h"

#include "modbus/Formats.h"

#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <limits>

namespace eload::chart {

namespace {

// Whole units of 1/`per` of v, held within what the panel's formats take.
template <typename T> T countOf(double v, double per)
{
    const double c = std::round(v * per);
    if (!(c > 0)) return 0; // negative or NaN
    return T(std::min(c, double(std::numeric_limits<T>::max())));
}

} // namespace

QString voltageOf(double volts) { return modbus::voltageText(countOf<quint16>(volts, 100)); }
QString currentOf(double amperes) { return modbus::currentText(countOf<quint16>(amperes, 100)); }
QString powerOf(double watts) { return modbus::powerText(countOf<quint16>(watts, 100)); }
QString capacityOf(double ampereHours)
{
    return modbus::capacityText(countOf<quint32>(ampereHours, 1000));
}
QString energyOf(double wattHours) { return modbus::energyText(countOf<quint32>(wattHours, 1000)); }

QString durationOf(double seconds)
{
    const auto total = countOf<quint32>(seconds, 1);
    const auto hours = quint16(std::min<quint32>(total / 3600, 65535));
    return modbus::dischargeTimeText(hours, quint16(total / 60 % 60), quint16(total % 60));
}

QString temperatureOf(double celsius)
{
    return modbus::temperatureText(countOf<quint16>(celsius, 1));
}

QString resistanceOf(double milliohm)
{
    return modbus::resistanceText(countOf<quint16>(milliohm, 1));
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
