#include "acquisition/Polling.h"

#include "acquisition/AcquisitionState.h"
#include "core/Context.h"
#include "core/FormState.h"
#include "core/Panel.h"
#include "core/Texts.h"
#include "modbus/Frames.h"
#include "modbus/Transaction.h"

namespace eload {

Polling::Polling(Context& ctx) : ctx_(ctx) {}

void Polling::Command_OK3_Click()
{
    Panel& panel = ctx_.panel;
    const QString caption = panel.text(Ctl::Command_OK3);
    if (caption == texts::kAcquire) {
        // No checks here: the first tick, 500 ms on, tests port and address.
        panel.setTimerEnabled(Timer::Timer2, true);
        panel.setText(Ctl::Command_OK3, texts::kStop);
    } else if (caption == texts::kStop) {
        stopAcquisition(panel, ctx_.state);
        panel.setEnabled(Ctl::Command6, true);
        if (ctx_.state.RecordFlag == QLatin1String("1")) panel.setText(Ctl::Command6, texts::kSave);
    }
}

void Polling::Timer2_Timer()
{
    modbus::Request poll;
    poll.acquisition = modbus::AcquisitionEffect::None;
    poll.addressCheck = modbus::AddressCheck::SlaveIdBox;
    poll.pauseAfterWrite = false;
    poll.build = [this] { return modbus::toSlave(ctx_, modbus::measurementPoll); };
    modbus::sendRequest(ctx_, poll);
}

void Polling::Timer3_Timer()
{
    // Off first, so that one arming gives one refresh even while a refusal's
    // box keeps the event loop turning.
    ctx_.panel.setTimerEnabled(Timer::Timer3, false);

    modbus::Request refresh;
    refresh.acquisition = modbus::AcquisitionEffect::Stop;
    refresh.addressCheck = modbus::AddressCheck::NewAddressBox;
    refresh.build = [this] { return modbus::toSlave(ctx_, modbus::measurementPoll); };
    modbus::sendRequest(ctx_, refresh);
}

} // namespace eload
