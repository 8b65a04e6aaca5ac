#include "acquisition/AcquisitionState.h"

#include "core/FormState.h"
#include "core/Panel.h"
#include "core/Texts.h"

namespace eload {

bool acquisitionRunning(const Panel& panel) { return panel.text(Ctl::Command_OK3) == texts::kStop; }

void stopAcquisition(Panel& panel, FormState& state)
{
    panel.setTimerEnabled(Timer::Timer2, false);
    panel.setText(Ctl::Command_OK3, texts::kAcquire);
    state.ResumePolling = 0;
}

void pauseAcquisition(Panel& panel, FormState& state)
{
    state.ResumePolling = 1;
    panel.setTimerEnabled(Timer::Timer2, false);
}

void resumeAcquisition(Panel& panel, FormState& state)
{
    if (state.ResumePolling == 1) {
        panel.setTimerEnabled(Timer::Timer2, true);
        state.ResumePolling = 0;
    }
}

} // namespace eload
