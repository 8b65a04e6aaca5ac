#include "recording/RecordLayout.h"

#include "modbus/Formats.h"
#include "modbus/Reading.h"

namespace eload {

QString bookNameAt(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd_")) + t.toString(QStringLiteral("hh时mm分ss秒"));
}

QString rowTimeText(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
           t.toString(QStringLiteral("hh时:mm分:ss秒"));
}

RecordRow rowFromReading(const modbus::Reading& reading, const QDateTime& t, int number)
{
    using namespace modbus;
    const RegisterBlock& raw = reading.raw;
    return {
        number,
        {rowTimeText(t), currentText(raw[RegCurrent]), voltageText(raw[RegVoltage]),
         powerText(raw[RegPower]), temperatureText(raw[RegTemperature]),
         resistanceText(raw[RegResistance]), capacityText(registerPair(raw, RegCapacityHigh)),
         energyText(registerPair(raw, RegEnergyHigh)),
         QLatin1Char(' ') + dischargeTimeText(raw[RegHours], raw[RegMinutes], raw[RegSeconds])}};
}

} // namespace eload
