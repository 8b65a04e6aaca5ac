#pragma once
// What the discharge keeps of one reading: the PC's times and the values the
// curve and the figures need, small enough for a week at two per second.

#include "modbus/Reading.h"

#include <QtGlobal>
#include <cstdint>

namespace eload::discharge {

struct Sample {
    qint64 msecs = 0;          // PC wall clock, milliseconds since the epoch (UTC): for files
    qint64 monotonicMsecs = 0; // a steady clock: for the curves' x and the gaps in the line
                               // (a recording read back has only the wall clock: the same value)
    float voltage = 0;         // V
    float current = 0;         // A
    float power = 0;           // W
    double capacityAh = 0;     // the module's count, A·h
    double energyWh = 0;       // the module's count, W·h
    std::uint16_t temperatureC = 0; // register 8 as read: unsigned, like every register
    std::uint16_t resistanceMilliohm = 0;
    std::uint16_t protection = 0; // register 9 as read
    bool loadOn = false;
    std::int32_t dischargeSeconds = 0; // the module's discharge time
};

Sample sampleOf(const modbus::Reading& reading);

} // namespace eload::discharge
