#include "modbus/DisplayRules.h"

#include "modbus/Registers.h"
#include "ui/FormDefinition.h"
#include "ui/FormState.h"
#include "ui/Panel.h"
#include "ui/Texts.h"

#include <optional>

namespace eload::modbus {

QString formatHundredths(std::uint32_t v)
{
    return QStringLiteral("%1.%2").arg(v / 100).arg(v % 100, 2, 10, QLatin1Char('0'));
}

QString formatThousandths(std::uint64_t c)
{
    return QStringLiteral("%1.%2").arg(c / 1000).arg(c % 1000, 3, 10, QLatin1Char('0'));
}

QString formatTwoDigits(std::uint32_t v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

void showLoadState(Panel& panel, FormState& state, std::int16_t loadState)
{
    state.LoadState = loadState;
    const bool on = loadState == 1;
    panel.setText(Ctl::Command5, on ? texts::kOn : texts::kOff);
    panel.setBackColor(Ctl::Label15_0, on ? kGreen : kWhite);
    panel.setEnabled(Ctl::Command4, !on);
}

namespace {

// Protection status is a code, not a mask; codes without a text leave the
// last one standing. Above 32767 the value is no code at all.
std::optional<QString> protectionText(std::uint16_t v)
{
    switch (v) {
    case 0: return QStringLiteral("    ");
    case 1: return QStringLiteral("UVLO");
    case 2: return QStringLiteral(" OPP");
    case 4: return QStringLiteral(" OTP");
    default: return std::nullopt;
    }
}

} // namespace

void applyRegister(Panel& panel, FormState& state, int reg, std::uint16_t v)
{
    switch (reg) {
    case RegCurrent: panel.setText(Ctl::AI_SHOW0, formatHundredths(v) + u'A'); break;
    case RegVoltage: panel.setText(Ctl::AI_SHOW1, formatHundredths(v) + u'V'); break;
    case RegPower: panel.setText(Ctl::AI_SHOW2, formatHundredths(v) + u'W'); break;
    case RegCapacityHigh: state.CapacityRaw = v; break;
    case RegCapacityLow:
        state.CapacityRaw = state.CapacityRaw * 65536 + v;
        panel.setText(Ctl::AI_SHOW3,
                      formatThousandths(std::uint64_t(state.CapacityRaw)) + QStringLiteral("AH"));
        break;
    case RegEnergyHigh: state.EnergyRaw = v; break;
    case RegEnergyLow:
        state.EnergyRaw = state.EnergyRaw * 65536 + v;
        panel.setText(Ctl::AI_SHOW4,
                      formatThousandths(std::uint64_t(state.EnergyRaw)) + QStringLiteral("WH"));
        break;
    case RegResistance:
        panel.setText(Ctl::AI_SHOW5, QString::number(v) + QStringLiteral("MR"));
        break;
    case RegTemperature:
        panel.setText(Ctl::AI_SHOW7, QString::number(v) + QStringLiteral("℃"));
        break;
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
