#pragma once
// One read of the module's register block as values: what the panel's
// display rules, the discharge chart and the command line all start from.
// Pure: no window, no line.

#include "modbus/Registers.h"

#include <QDateTime>
#include <array>
#include <cstdint>

namespace eload::modbus {

using RegisterBlock = std::array<std::uint16_t, kReadBlockCount>;

// Protection codes of register 9.
enum Protection : std::uint16_t {
    ProtectionNone = 0,
    ProtectionUvlo = 1,
    ProtectionOpp = 2,
    ProtectionOtp = 4,
};

struct Reading {
    QDateTime time; // the PC's clock when the reply was taken
    // A steady clock's milliseconds at the same moment: what durations and
    // gaps are measured on (the wall clock may step). 0: not known.
    qint64 monotonicMsecs = 0;
    RegisterBlock raw{};

    // SI units, from `raw`.
    double current = 0;    // A
    double voltage = 0;    // V
    double power = 0;      // W
    double capacityAh = 0; // A·h
    double energyWh = 0;   // W·h
    int resistanceMilliohm = 0;
    int temperatureC = 0;
    std::uint16_t protection = ProtectionNone;
    bool loadOn = false; // register 17 exactly 1, as the panel shows it
    int dischargeSeconds = 0;

    double currentPreset = 0; // A
    double cutoffPreset = 0;  // V
    double powerPreset = 0;   // W
    std::uint16_t baudCode = 0;
};

Reading readingFromRegisters(const RegisterBlock& raw, const QDateTime& time,
                             qint64 monotonicMsecs = 0);

// A steady clock's milliseconds (since an arbitrary start), for monotonicMsecs.
qint64 monotonicNowMsecs();

// 32-bit counts split high word first over registers `high` and `high + 1`.
std::uint32_t registerPair(const RegisterBlock& raw, int high);

} // namespace eload::modbus
