#include "commands/PresetValues.h"

#include "modbus/DisplayRules.h"
#include "ui/FormDefinition.h"
#include "ui/Texts.h"

#include <cmath>

namespace eload::commands {

namespace {

bool allDigits(const QString& s)
{
    for (QChar c : s)
        if (c < u'0' || c > u'9') return false;
    return true;
}

void fillIfEmpty(Panel& panel, const PresetBox& p)
{
    if (panel.text(p.box).isEmpty()) panel.setText(p.box, shortestText(p.emptyValue));
}

// The bound replaces the text too, so that box and working value agree.
std::optional<double> clampBox(Panel& panel, const PresetBox& p)
{
    const std::optional<double> value = hundredthsOf(panel.text(p.box));
    if (!value) return std::nullopt;
    if (*value > p.upper || *value <= p.lower) {
        const int bound = *value > p.upper ? p.upper : p.lower;
        panel.setText(p.box, shortestText(bound));
        return bound;
    }
    return value;
}

// The two decimals show the hundredths the frame carries, halves to even as
// there, so the box already reads what the module's read-back will show.
void showTwoDecimals(Panel& panel, const PresetBox& p, double hundredths)
{
    panel.setText(p.box, modbus::formatHundredths(roundHalfEven(hundredths)));
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

std::optional<double> hundredthsOf(const QString& text)
{
    const QString t = text.trimmed();
    const qsizetype point = t.indexOf(u'.');
    const QString whole = point < 0 ? t : t.left(point);
    const QString fraction = point < 0 ? QString() : t.mid(point + 1);
    if ((whole.isEmpty() && fraction.isEmpty()) || !allDigits(whole) || !allDigits(fraction))
        return std::nullopt;
    const QString shifted =
        whole + fraction.left(2).leftJustified(2, u'0') + u'.' + fraction.mid(2) + u'0';
    // Syntax is checked above; an overflow reads as infinity, above any bound.
    return shifted.toDouble();
}

std::uint16_t roundHalfEven(double hundredths)
{
    const double below = std::floor(hundredths);
    const double rest = hundredths - below;
    const bool up = rest > 0.5 || (rest == 0.5 && std::fmod(below, 2.0) != 0.0);
    return std::uint16_t(below + (up ? 1 : 0));
}

QString shortestText(int hundredths)
{
    QString s = modbus::formatHundredths(std::uint32_t(hundredths));
    while (s.endsWith(u'0'))
        s.chop(1);
    if (s.endsWith(u'.')) s.chop(1);
    return s;
}

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
    return {roundHalfEven(state.CurrentValue), roundHalfEven(state.LowVoltageValue),
            roundHalfEven(state.PowerValue), std::uint16_t(state.BaudCode),
            std::uint16_t(state.LoadState)};
}

} // namespace eload::commands
