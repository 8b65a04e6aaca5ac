#include "modbus/DisplayRules.h"

#include "core/FormDefinition.h"
#include "core/FormState.h"
#include "core/Panel.h"
#include "core/Texts.h"
#include "modbus/Registers.h"

namespace eload::modbus {

void showLoadState(Panel& panel, FormState& state, std::int16_t loadState)
{
    state.LoadState = loadState;
    const bool on = loadState == 1;
    panel.setText(Ctl::Command5, on ? texts::kOn : texts::kOff);
    panel.setBackColor(Ctl::Label15_0, on ? kGreen : kWhite);
    panel.setEnabled(Ctl::Command4, !on);
}

void applyRegister(Panel& panel, FormState& state, int reg, std::uint16_t v)
{
    switch (reg) {
    case RegCurrent: panel.setText(Ctl::AI_SHOW0, currentText(v)); break;
    case RegVoltage: panel.setText(Ctl::AI_SHOW1, voltageText(v)); break;
    case RegPower: panel.setText(Ctl::AI_SHOW2, powerText(v)); break;
    case RegCapacityHigh: state.CapacityRaw = v; break;
    case RegCapacityLow:
        state.CapacityRaw = state.CapacityRaw * 65536 + v;
        panel.setText(Ctl::AI_SHOW3, capacityText(std::uint32_t(state.CapacityRaw)));
        break;
    case RegEnergyHigh: state.EnergyRaw = v; break;
    case RegEnergyLow:
        state.EnergyRaw = state.EnergyRaw * 65536 + v;
        panel.setText(Ctl::AI_SHOW4, energyText(std::uint32_t(state.EnergyRaw)));
        break;
    case RegResistance: panel.setText(Ctl::AI_SHOW5, resistanceText(v)); break;
    case RegTemperature: panel.setText(Ctl::AI_SHOW7, temperatureText(v)); break;
    case RegProtection:
        if (auto t = protectionText(v)) panel.setText(Ctl::Label20, *t);
        break;
    case RegHours: panel.setText(Ctl::Label17_0, formatTwoDigits(v)); break;
    case RegMinutes: panel.setText(Ctl::Label17_1, formatTwoDigits(v)); break;
    case RegSeconds: panel.setText(Ctl::Label17_2, formatTwoDigits(v)); break;
    case RegCurrentPreset: panel.setText(Ctl::Text3, formatHundredths(v)); break;
    case RegCutoffPreset: panel.setText(Ctl::Text4, formatHundredths(v)); break;
    case RegPowerPreset: panel.setText(Ctl::Text5, formatHundredths(v)); break;
    case RegBaudCode:
        // Text only: this is no operator's choice and runs no handler.
        if (v < kBaudRates.size()) panel.setText(Ctl::Combo6, kBaudRates[v]);
        break;
    case RegLoadSwitch:
        // Kept as the 16-bit pattern the module holds; above 32767 it is
        // negative and so shows as off.
        showLoadState(panel, state, std::int16_t(v));
        break;
    default: break;
    }
}

} // namespace eload::modbus
