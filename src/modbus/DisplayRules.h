#pragma once
// How register values become the window's texts: one rule per register of
// the read block, plus the number patterns they use.

#include "modbus/Formats.h"

#include <QString>
#include <cstdint>

namespace eload {

class Panel;
struct FormState;

namespace modbus {

// Applies the rule of register `reg` (0..17) to value v.
void applyRegister(Panel& panel, FormState& state, int reg, std::uint16_t v);

// The load switch as the panel shows it: LoadState, caption of Command5,
// rim Label15(0) and Command4. Every value but 1 shows as off.
void showLoadState(Panel& panel, FormState& state, std::int16_t loadState);

} // namespace modbus
} // namespace eload
