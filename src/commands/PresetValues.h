#pragma once
// The presets as the write command takes them from Text3, Text4 and Text5:
// read as numbers, filled when empty, clamped, shown with two decimals and
// counted in hundredths for the frame.

#include "modbus/Frames.h"
#include "modbus/Transaction.h"
#include "ui/FormState.h"
#include "ui/Panel.h"

#include <array>
#include <optional>

namespace eload::commands {

struct PresetBox {
    Ctl box;
    int emptyValue; // hundredths written into an empty box
    int lower;      // a value at or below it becomes it
    int upper;      // a value above it becomes it
    double FormState::*working;
};

inline constexpr std::array<PresetBox, 3> kPresetBoxes{{
    {Ctl::Text3, 200, 1, 1000, &FormState::CurrentValue},      // 0.01 .. 10 A
    {Ctl::Text4, 150, 100, 9999, &FormState::LowVoltageValue}, // 1 .. 99.99 V
    {Ctl::Text5, 10000, 100, 15000, &FormState::PowerValue},   // 1 .. 150 W
}};

// A box's text as a count of hundredths: decimal digits with at most one
// point and at least one digit, blanks around allowed. The point is moved in
// the text itself, so a typed half hundredth stays an exact half. Anything
// else (a lone point, "1..2", letters, a sign) is no number.
std::optional<double> hundredthsOf(const QString& text);

// Nearest whole number, halves to the even neighbour; for clamped presets,
// which all fit a register.
std::uint16_t roundHalfEven(double hundredths);

// The shortest decimal text of a count of hundredths: 200 -> "2", 150 -> "1.5".
QString shortestText(int hundredths);

// Steps of the write command that need no port: each box filled, clamped and
// rewritten with two decimals, its working value set, BaudCode taken from
// Combo6. A box that holds no number keeps its text and refuses the write;
// the other boxes and BaudCode are settled all the same.
std::optional<modbus::Refusal> takePresets(Panel& panel, FormState& state);

// Registers 13 to 17 as the last takePresets left them, with LoadState.
modbus::PresetWords presetWords(const FormState& state);

} // namespace eload::commands
