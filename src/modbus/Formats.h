#pragma once
// The texts of the module's values, with their patterns and units: one set
// for the window, the discharge chart and the command line.

#include <QString>
#include <cstdint>
#include <optional>

namespace eload::modbus {

// "0.00" of v/100, "0.000" of c/1000, "00" of whole counts.
QString formatHundredths(std::uint32_t v);
QString formatThousandths(std::uint64_t c);
QString formatTwoDigits(std::uint32_t v);

// Values as the window shows them: "1.25A", "12.34V", "150.00W",
// "65.536AH", "1.234WH", "35MR", "28℃".
QString currentText(std::uint16_t hundredths);
QString voltageText(std::uint16_t hundredths);
QString powerText(std::uint16_t hundredths);
QString capacityText(std::uint32_t thousandths);
QString energyText(std::uint32_t thousandths);
QString resistanceText(std::uint16_t milliohm);
QString temperatureText(std::uint16_t celsius);
// "01:02:03" of the three time registers.
QString dischargeTimeText(std::uint16_t h, std::uint16_t m, std::uint16_t s);

// "    ", "UVLO", " OPP", " OTP" (four characters, as the window's label);
// nothing for a value that is no code.
std::optional<QString> protectionText(std::uint16_t code);

// Baud rate of a register-16 code; nothing beyond the list.
std::optional<int> baudOfCode(std::uint16_t code);

} // namespace eload::modbus
