#include "commands/PresetValues.h"

#include "core/FormDefinition.h"
#include "core/Texts.h"
#include "modbus/DisplayRules.h"

namespace eload::commands {

namespace {

void fillIfEmpty(Panel& panel, const PresetBox& p)
{
    if (panel.text(p.box).isEmpty()) panel.setText(p.box, modbus::shortestText(p.emptyValue));
}

// The bound replaces the text too, so that box and working value agree.
std::optional<double> clampBox(Panel& panel, const PresetBox& p)
{
    const std::optional<double> value = modbus::hundredthsOf(panel.text(p.box));
    if (!value) return std::nullopt;
    if (*value > p.upper || *value <= p.lower) {
        const int bound = *value > p.upper ? p.upper : p.lower;
        panel.setText(p.box, modbus::shortestText(bound));
        return bound;
    }
    return value;
}

// The two decimals show the hundredths the frame carries, halves to even as
// there, so the box already reads what the module's read-back will show.
void showTwoDecimals(Panel& panel, const PresetBox& p, double hundredths)
{
    panel.setText(p.box, modbus::formatHundredths(modbus::roundHalfEven(hundredths)));
}

bool settleBox(Panel& panel, FormState& state, const PresetBox& p)
{
    fillIfEmpty(panel, p);
    const std::optional<double> value = clampBox(panel, p);
    if (!value) return false;
    showTwoDecimals(panel, p, *value);
    state.*p.working = *value;
    return true;
}

void takeBaudCode(const Panel& panel, FormState& state)
{
    const qsizetype code = kBaudRates.indexOf(panel.text(Ctl::Combo6));
    if (code >= 0) state.BaudCode = std::int16_t(code);
}

} // namespace

std::optional<modbus::Refusal> takePresets(Panel& panel, FormState& state)
{
    bool allNumbers = true;
    for (const PresetBox& p : kPresetBoxes)
        allNumbers = settleBox(panel, state, p) && allNumbers;
    takeBaudCode(panel, state);
    if (!allNumbers) return modbus::Refusal{texts::kBadParameter};
    return std::nullopt;
}

modbus::PresetWords presetWords(const FormState& state)
{
    return {modbus::roundHalfEven(state.CurrentValue), modbus::roundHalfEven(state.LowVoltageValue),
            modbus::roundHalfEven(state.PowerValue), std::uint16_t(state.BaudCode),
            std::uint16_t(state.LoadState)};
}

} // namespace eload::commands
