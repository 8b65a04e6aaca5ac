#include "discharge/Sample.h"

namespace eload::discharge {

Sample sampleOf(const modbus::Reading& r)
{
    Sample s;
    s.msecs = r.time.toMSecsSinceEpoch();
    s.monotonicMsecs = r.monotonicMsecs != 0 ? r.monotonicMsecs : s.msecs;
    s.voltage = float(r.voltage);
    s.current = float(r.current);
    s.power = float(r.power);
    s.capacityAh = r.capacityAh;
    s.energyWh = r.energyWh;
    s.temperatureC = r.raw[modbus::RegTemperature];
    s.resistanceMilliohm = r.raw[modbus::RegResistance];
    s.protection = r.protection;
    s.loadOn = r.loadOn;
    s.dischargeSeconds = r.dischargeSeconds;
    return s;
}

} // namespace eload::discharge
