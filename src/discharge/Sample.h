#pragma once
// What the discharge keeps of one reading: the PC's time and the values the
// curve and the summary need, small enough for a week at two per second.

#include "modbus/Reading.h"

#include <QtGlobal>
#include <cstdint>

namespace eload::discharge {

struct Sample {
    qint64 msecs = 0;      // PC time, milliseconds since the epoch (UTC)
    float voltage = 0;     // V
    float current = 0;     // A
    float power = 0;       // W
    double capacityAh = 0; // the module's count, A·h
    double energyWh = 0;   // the module's count, W·h
    std::uint16_t temperatureC = 0;
    std::uint16_t resistanceMilliohm = 0;
    std::uint16_t protection = 0; // register 9 as read
    bool loadOn = false;
    std::int32_t dischargeSeconds = 0; // the module's discharge time
};

Sample sampleOf(const modbus::Reading& reading);

} // namespace eload::discharge
