#pragma once
// The presets as the write command takes them from Text3, Text4 and Text5:
// read as numbers, filled when empty, clamped, shown with two decimals and
// counted in hundredths for the frame.

#include "core/FormState.h"
#include "core/Panel.h"
#include "modbus/Formats.h"
#include "modbus/Frames.h"
#include "modbus/Registers.h"
#include "modbus/Transaction.h"

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
    {Ctl::Text3, 200, modbus::kCurrentPresetRange.min, modbus::kCurrentPresetRange.max,
     &FormState::CurrentValue},
    {Ctl::Text4, 150, modbus::kCutoffPresetRange.min, modbus::kCutoffPresetRange.max,
     &FormState::LowVoltageValue},
    {Ctl::Text5, 10000, modbus::kPowerPresetRange.min, modbus::kPowerPresetRange.max,
     &FormState::PowerValue},
}};

// Steps of the write command that need no port: each box filled, clamped and
// rewritten with two decimals, its working value set, BaudCode taken from
// Combo6. A box that holds no number keeps its text and refuses the write;
// the other boxes and BaudCode are settled all the same.
std::optional<modbus::Refusal> takePresets(Panel& panel, FormState& state);

// Registers 13 to 17 as the last takePresets left them, with LoadState.
modbus::PresetWords presetWords(const FormState& state);

} // namespace eload::commands
