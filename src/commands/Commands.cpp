#include "commands/Commands.h"

#include "acquisition/AcquisitionState.h"
#include "commands/PresetValues.h"
#include "core/Context.h"
#include "core/FormState.h"
#include "core/Panel.h"
#include "core/Texts.h"
#include "modbus/DisplayRules.h"
#include "modbus/Frames.h"
#include "modbus/Transaction.h"

namespace eload {

namespace {

using modbus::AcquisitionEffect;
using modbus::Refusal;
using Built = std::variant<QByteArray, Refusal>;
using modbus::toSlave;

modbus::Request request(AcquisitionEffect effect, std::function<Built()> build)
{
    modbus::Request r;
    r.acquisition = effect;
    r.build = std::move(build);
    return r;
}

// The switch position the press asks for, by the caption it finds.
std::int16_t toggledLoadState(const Panel& panel)
{
    return panel.text(Ctl::Command5) == texts::kOn ? 0 : 1;
}

} // namespace

Commands::Commands(Context& ctx) : ctx_(ctx) {}

void Commands::Command2_Click()
{
    modbus::Request r = request(AcquisitionEffect::StopIfRunning, [this] {
        return toSlave(ctx_, [this](std::uint8_t slave) {
            return modbus::writePresets(slave, commands::presetWords(ctx_.state));
        });
    });
    r.prepare = [this] { return commands::takePresets(ctx_.panel, ctx_.state); };
    modbus::sendRequest(ctx_, r);
}

void Commands::Combo6_Click() { stopAcquisition(ctx_.panel, ctx_.state); }

void Commands::Command3_Click()
{
    modbus::sendRequest(ctx_, request(AcquisitionEffect::Stop,
                                      [this] { return toSlave(ctx_, modbus::measurementPoll); }));
}

void Commands::Command4_Click()
{
    // While the load draws current the module's counters are live; only the
    // later refresh goes out.
    if (ctx_.state.LoadState == 0) {
        modbus::Request r = request(AcquisitionEffect::StopIfRunning,
                                    [this] { return toSlave(ctx_, modbus::clearData); });
        r.keepHexBoxes = true;
        modbus::sendRequest(ctx_, r);
    }
    ctx_.panel.setTimerEnabled(Timer::Timer3, true);
}

void Commands::Command5_Click()
{
    // The toggle waits until every check has passed: a refused press must not
    // show, or later send with the presets, a state the module was never told.
    modbus::sendRequest(ctx_, request(AcquisitionEffect::PauseIfRunning, [this] {
                            return toSlave(ctx_, [this](std::uint8_t slave) {
                                const std::int16_t next = toggledLoadState(ctx_.panel);
                                modbus::showLoadState(ctx_.panel, ctx_.state, next);
                                return modbus::loadSwitch(slave, std::uint16_t(next));
                            });
                        }));
}

void Commands::Command_OK1_Click()
{
    modbus::sendRequest(ctx_, request(AcquisitionEffect::StopIfRunning, [this]() -> Built {
                            if (auto address =
                                    modbus::parseAddress(ctx_.panel.text(Ctl::Combo_Addr0)))
                                return modbus::changeAddress(*address);
                            return Refusal{texts::kBadParameter};
                        }));
}

} // namespace eload
