#include "commands/PresetFields.h"

#include "acquisition/AcquisitionState.h"
#include "core/Context.h"

namespace eload {

int filterPresetKey(int keyAscii)
{
    constexpr int kPoint = '.', kSlash = '/', kNine = '9';
    if (keyAscii < kPoint || keyAscii > kNine || keyAscii == kSlash) return 0;
    return keyAscii;
}

PresetFields::PresetFields(Context& ctx) : ctx_(ctx) {}

// The operator is about to type a preset: polls would overwrite the box.
void PresetFields::stopOnClick() { stopAcquisition(ctx_.panel, ctx_.state); }

void PresetFields::Text3_Click() { stopOnClick(); }
void PresetFields::Text4_Click() { stopOnClick(); }
void PresetFields::Text5_Click() { stopOnClick(); }
void PresetFields::Text3_KeyPress(int& keyAscii) { keyAscii = filterPresetKey(keyAscii); }
void PresetFields::Text4_KeyPress(int& keyAscii) { keyAscii = filterPresetKey(keyAscii); }
void PresetFields::Text5_KeyPress(int& keyAscii) { keyAscii = filterPresetKey(keyAscii); }

} // namespace eload
