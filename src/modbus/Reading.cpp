#include "modbus/Reading.h"

#include <chrono>

namespace eload::modbus {

std::uint32_t registerPair(const RegisterBlock& raw, int high)
{
    return std::uint32_t(raw[high]) << 16 | raw[high + 1];
}

qint64 monotonicNowMsecs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Reading readingFromRegisters(const RegisterBlock& raw, const QDateTime& time, qint64 monotonicMsecs)
{
    Reading r;
    r.time = time;
    r.monotonicMsecs = monotonicMsecs;
    r.raw = raw;
    r.current = raw[RegCurrent] / 100.0;
    r.voltage = raw[RegVoltage] / 100.0;
    r.power = raw[RegPower] / 100.0;
    r.capacityAh = registerPair(raw, RegCapacityHigh) / 1000.0;
    r.energyWh = registerPair(raw, RegEnergyHigh) / 1000.0;
    r.resistanceMilliohm = raw[RegResistance];
    r.temperatureC = raw[RegTemperature];
    r.protection = raw[RegProtection];
    r.loadOn = raw[RegLoadSwitch] == 1;
    r.dischargeSeconds = raw[RegHours] * 3600 + raw[RegMinutes] * 60 + raw[RegSeconds];
    r.currentPreset = raw[RegCurrentPreset] / 100.0;
    r.cutoffPreset = raw[RegCutoffPreset] / 100.0;
    r.powerPreset = raw[RegPowerPreset] / 100.0;
    r.baudCode = raw[RegBaudCode];
    return r;
}

} // namespace eload::modbus
