#pragma once
// Acquisition runs while Command_OK3 reads "停 止" and Timer2 is on. Every stop
// and pause in the program goes through these, so the pair never drifts apart.

namespace eload {

class Panel;
struct FormState;

bool acquisitionRunning(const Panel& panel);

// Timer2 off, caption "采 集". A stop also cancels a pending resume, so that
// no reply check can restart polling behind an idle button.
void stopAcquisition(Panel& panel, FormState& state);

// Timer2 off for one exchange; the reply check resumes it.
void pauseAcquisition(Panel& panel, FormState& state);

// The reply check's side of a pause: Timer2 on again if a pause is pending.
void resumeAcquisition(Panel& panel, FormState& state);

} // namespace eload
