#pragma once
// Request bytes before the CRC, one builder per request the panel sends.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace eload::modbus {

// Read of registers 0..17: A 03 00 00 00 12.
QByteArray measurementPoll(std::uint8_t slave);

struct PresetWords {
    std::uint16_t current = 0; // 0.01 A
    std::uint16_t cutoff = 0;  // 0.01 V
    std::uint16_t power = 0;   // 0.01 W
    std::uint16_t baudCode = 0;
    std::uint16_t loadState = 0;
};
// Registers 13..17 in one write: A 10 00 0D 00 05 0A and five words.
QByteArray writePresets(std::uint8_t slave, const PresetWords& w);

// Register 17: A 06 00 11 and the state word.
QByteArray loadSwitch(std::uint8_t slave, std::uint16_t state);

// Register 18 := 1: A 06 00 12 00 01.
QByteArray clearData(std::uint8_t slave);

// Broadcast write of register 0: 00 06 00 00 00 and the new address.
QByteArray changeAddress(std::uint8_t newAddress);

// A bus address typed into an address box: a whole decimal number 0..255,
// blanks around it allowed; anything else is nothing.
std::optional<std::uint8_t> parseAddress(const QString& text);

} // namespace eload::modbus
