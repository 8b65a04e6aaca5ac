#pragma once
// How register values become the window's texts: one rule per register of
// the read block, plus the number patterns they use.

#include <QString>
#include <cstdint>

namespace eload {

class Panel;
struct FormState;

namespace modbus {

// "0.00" of v/100, "0.000" of c/1000, "0", "00" of whole counts.
QString formatHundredths(std::uint32_t v);
QString formatThousandths(std::uint64_t c);
QString formatTwoDigits(std::uint32_t v);

// Applies the rule of register `reg` (0..17) to value v.
void applyRegister(Panel& panel, FormState& state, int reg, std::uint16_t v);

// The load switch as the panel shows it: LoadState, caption of Command5,
// rim Label15(0) and Command4. Every value but 1 shows as off.
void showLoadState(Panel& panel, FormState& state, std::int16_t loadState);

} // namespace modbus
} // namespace eload
