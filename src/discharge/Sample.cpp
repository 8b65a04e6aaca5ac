#include "discharge/Sample.h"

namespace eload::discharge {

Sample sampleOf(const modbus::Reading& r)
{
    Sample s;
    s.msecs = r.time.toMSecsSinceEpoch();
    s.voltage = float(r.voltage);
    s.current = float(r.current);
    s.power = float(r.power);
    s.capacityAh = r.capacityAh;
    s.energyWh = r.energyWh;
    s.temperatureC = std::int16_t(r.temperatureC);
    s.resistanceMilliohm = std::uint16_t(r.resistanceMilliohm);
    s.protection = r.protection;
    s.loadOn = r.loadOn;
    s.dischargeSeconds = r.dischargeSeconds;
    return s;
}

} // namespace eload::discharge
