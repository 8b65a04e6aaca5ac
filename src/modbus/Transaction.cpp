#include "modbus/Transaction.h"

#include "acquisition/AcquisitionState.h"
#include "core/Clock.h"
#include "core/Context.h"
#include "core/FormState.h"
#include "core/Panel.h"
#include "core/Texts.h"
#include "modbus/Crc16.h"
#include "modbus/Frames.h"
#include "modbus/HexText.h"
#include "serial/SerialDevice.h"

namespace eload::modbus {

namespace {

// Leaves acquisition as a refused request must: a pause of this request is
// undone at once, a refused poll stops the cycle. The box comes last, so any
// event handled while it is open sees the final state.
bool refuse(Context& ctx, const Request& r, bool paused, const QString& message)
{
    if (paused) resumeAcquisition(ctx.panel, ctx.state);
    if (r.acquisition == AcquisitionEffect::None) stopAcquisition(ctx.panel, ctx.state);
    ctx.panel.showMessage(message);
    return false;
}

} // namespace

std::variant<std::uint8_t, Refusal> slaveAddress(const Context& ctx)
{
    if (auto a = parseAddress(ctx.panel.text(Ctl::Combo_Addr2))) return *a;
    return Refusal{texts::kBadParameter};
}

bool sendRequest(Context& ctx, const Request& r)
{
    Panel& panel = ctx.panel;
    FormState& state = ctx.state;

    // Step 3 for the load switch comes before everything else.
    bool paused = false;
    if (r.acquisition == AcquisitionEffect::PauseIfRunning && acquisitionRunning(panel)) {
        pauseAcquisition(panel, state);
        paused = true;
    }

    // 1, 2: clear the status line and the hex texts.
    panel.setText(Ctl::Message_Show, QString());
    state.SendHex.clear();
    state.ReceiveHex.clear();
    if (!r.keepHexBoxes) {
        panel.setText(Ctl::Text1_0, QString());
        panel.setText(Ctl::Text2, QString());
    }

    // 3: stop acquisition.
    if (r.acquisition == AcquisitionEffect::Stop ||
        (r.acquisition == AcquisitionEffect::StopIfRunning && acquisitionRunning(panel)))
        stopAcquisition(panel, state);

    // 4: sender's own work that needs no port.
    if (r.prepare) {
        if (auto refusal = r.prepare()) return refuse(ctx, r, paused, refusal->message);
    }

    // 5: port check, by the caption of Command1.
    if (panel.text(Ctl::Command1) != texts::kClosePort)
        return refuse(ctx, r, paused, texts::kOpenPortFirst);

    // 6: address check.
    if (r.addressCheck == AddressCheck::NewAddressBox) {
        if (panel.text(Ctl::Combo_Addr0).isEmpty())
            return refuse(ctx, r, paused, texts::kBadParameter);
    } else if (panel.text(Ctl::Combo_Addr2).isEmpty()) {
        return refuse(ctx, r, paused, texts::kAddressNotSet);
    }

    // 7, 8: the frame.
    auto built = r.build();
    if (auto* refusal = std::get_if<Refusal>(&built))
        return refuse(ctx, r, paused, refusal->message);
    const QByteArray& bytes = std::get<QByteArray>(built);
    const QByteArray frame = CRC16(bytes, std::uint8_t(bytes.size() - 1));

    // 9, 10: the hex text, shown in "Send:".
    appendHexText(state.SendHex, frame);
    panel.setText(Ctl::Text1_0, state.SendHex);

    // 11 to 13: out, pause, reply timer.
    ctx.port.write(frame);
    if (r.pauseAfterWrite) ctx.clock.pause(kPauseAfterWriteMs);
    panel.setTimerEnabled(Timer::Timer1, true);
    return true;
}

} // namespace eload::modbus
