#pragma once
// The texts of the module's values, with their patterns and units: one set
// for the window, the discharge chart and the command line.

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <utility>

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
// Capacity and energy take 64-bit counts: a figure made of the module's
// counts (a summary) may go beyond one 32-bit register pair.
QString capacityText(std::uint64_t thousandths);
QString energyText(std::uint64_t thousandths);
QString resistanceText(std::uint16_t milliohm);
QString temperatureText(std::uint16_t celsius);
// "01:02:03" of the three time registers.
QString dischargeTimeText(std::uint16_t h, std::uint16_t m, std::uint16_t s);
// The same of a count of seconds; the hours take as many digits as they need.
QString durationText(std::uint32_t seconds);

// A value in SI units as the module counts it: volts, amperes and watts in
// hundredths, A·h and W·h in thousandths, degrees, milliohms and seconds in
// whole counts. One rule for every caller: the nearest count (halves away
// from zero); below zero, and NaN, count 0; beyond the count's type, its
// largest value. Nothing wraps: out of range saturates, never refused, so a
// text always shows the nearest value its unit can hold.
std::uint16_t hundredthsOfValue(double value);  // at most 655.35
std::uint64_t thousandthsOfValue(double value); // beyond one register pair's 4294967.295
std::uint32_t wholeOfValue(double value);

// "    ", "UVLO", " OPP", " OTP" (four characters, as the window's label);
// nothing for a value that is no code.
std::optional<QString> protectionText(std::uint16_t code);

// Baud rate of a register-16 code; nothing beyond the list.
std::optional<int> baudOfCode(std::uint16_t code);

// The texts read back (recordings): the inverse of the functions above.
// The number of a value text with exactly `unit` after it: ("12.34V", u"V")
// is 12.34, ("28℃", u"℃") is 28; blanks around the text are allowed. Nothing
// for any other text, e.g. ("65.536AH", u"A") or ("1,25A", u"A").
std::optional<double> valueOfText(QStringView text, QStringView unit);
// Seconds of a discharge time text, "01:02:03" or " 01:02:03" as recorded
// (the hours may have more digits); nothing for any other text.
std::optional<int> secondsOfDischargeTimeText(QStringView text);
// The PC time of a recording row, "2026-03-05 14时:05分:09秒" (also
// "2026-03-05 14:05:09"), as the wall clock showed it; nothing for any other text.
std::optional<std::pair<QDate, QTime>> wallClockOfRowText(QStringView text);
// The same as local time.
std::optional<QDateTime> timeOfRowText(QStringView text);

// A typed number as a count of hundredths: decimal digits with at most one
// point and at least one digit, blanks around allowed. The point is moved in
// the text itself, so a typed half hundredth stays an exact half. Anything
// else (a lone point, "1..2", letters, a sign) is no number.
std::optional<double> hundredthsOf(const QString& text);

// Nearest whole number, halves to the even neighbour; for clamped presets,
// which all fit a register.
std::uint16_t roundHalfEven(double hundredths);

// The shortest decimal text of a count of hundredths: 200 -> "2", 150 -> "1.5".
QString shortestText(int hundredths);

} // namespace eload::modbus
