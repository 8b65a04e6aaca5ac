#pragma once
// The load module's register map. Every register is 16 bits, high byte first
// on the wire. Currents, voltages and powers count hundredths; capacity and
// energy are 32-bit counts of thousandths split over two registers, high word
// first.

#include <cstdint>

namespace eload::modbus {

enum Register : std::uint16_t {
    RegCurrent = 0,      // discharge current, 0.01 A
    RegVoltage = 1,      // discharge voltage, 0.01 V
    RegPower = 2,        // discharge power, 0.01 W
    RegCapacityHigh = 3, // battery capacity, 0.001 AH, high word
    RegCapacityLow = 4,  //                            low word
    RegEnergyHigh = 5,   // energy, 0.001 WH, high word
    RegEnergyLow = 6,    //                   low word
    RegResistance = 7,   // battery internal resistance, shown as "MR"
    RegTemperature = 8,  // module temperature, 1 ℃
    RegProtection = 9,   // 0 none, 1 UVLO, 2 OPP, 4 OTP (a code, not a mask)
    RegHours = 10,       // discharge time
    RegMinutes = 11,
    RegSeconds = 12,
    RegCurrentPreset = 13, // 0.01 A, 1..1000
    RegCutoffPreset = 14,  // low-voltage cut-off, 0.01 V, 100..9999
    RegPowerPreset = 15,   // 0.01 W, 100..15000
    RegBaudCode = 16,      // 0 4800, 1 9600, 2 19200, 3 38400, 4 57600, 5 115200
    RegLoadSwitch = 17,    // 0 off, 1 on
    RegClearData = 18,     // write 1: capacity, energy and time to zero; not readable
    RegAddress = 0,        // written by broadcast: the module's bus address
};

inline constexpr int kReadBlockCount = 18; // registers 0..17, read whole

// What the module accepts for its presets, in register counts.
struct RegisterRange {
    std::uint16_t min;
    std::uint16_t max;
};
inline constexpr RegisterRange kCurrentPresetRange{1, 1000};  // 0.01 .. 10 A
inline constexpr RegisterRange kCutoffPresetRange{100, 9999}; // 1 .. 99.99 V
inline constexpr RegisterRange kPowerPresetRange{100, 15000}; // 1 .. 150 W

enum Function : std::uint8_t {
    FnReadHolding = 0x03,
    FnWriteSingle = 0x06,
    FnWriteMultiple = 0x10,
};

inline constexpr std::uint8_t kBroadcast = 0;

} // namespace eload::modbus
