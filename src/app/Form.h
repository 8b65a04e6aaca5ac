#pragma once
// The form's code: the form-level state and every handler, each handed to
// the subsystem that owns it. Built once per window, over any Panel and
// SerialDevice, so that tests can drive the whole panel without widgets.

#include "acquisition/Polling.h"
#include "app/Startup.h"
#include "commands/Commands.h"
#include "commands/PresetFields.h"
#include "core/Context.h"
#include "core/FormEvents.h"
#include "core/FormState.h"
#include "recording/Recorder.h"
#include "serial/ReplyCheck.h"
#include "serial/SerialDevice.h"
#include "serial/SerialLink.h"

#include <QString>

namespace eload {

class Panel;
class Clock;

struct FormOptions {
    QString settingsPath = QStringLiteral("com.txt"); // see settingsFilePath
    QString appFolder = QString();                    // folder of the executable
    // Where recordings go when appFolder is not writable; empty: the user's documents.
    QString documentsFolder = QString();
};

class Form final : public FormEvents, public SerialDevice::Listener {
public:
    Form(Panel& panel, SerialDevice& port, Clock& clock, FormOptions options);
    ~Form() override;

    void Form_Load() override;
    void Form_QueryUnload() override;

    void Combo1_Click() override;
    void Combo2_Click() override;
    void Command1_Click() override;

    void Timer1_Timer() override;

    void Text3_Click() override;
    void Text4_Click() override;
    void Text5_Click() override;
    void Text3_KeyPress(int& keyAscii) override;
    void Text4_KeyPress(int& keyAscii) override;
    void Text5_KeyPress(int& keyAscii) override;

    void Command2_Click() override;
    void Combo6_Click() override;
    void Command3_Click() override;
    void Command4_Click() override;
    void Command5_Click() override;
    void Command_OK1_Click() override;

    void Command_OK3_Click() override;
    void Timer2_Timer() override;
    void Timer3_Timer() override;

    void Command6_Click() override;

    // SerialDevice::Listener: the receive event and a lost line.
    void dataReceived() override;
    void lineFailed(const SerialError& e) override;

    // Opt-in consumer of the readings (the discharge chart); never sends.
    void setReadingSink(modbus::ReadingSink* sink);

    FormState& state() { return state_; }
    Context& context() { return ctx_; }

private:
    void followLine(void (SerialLink::*handler)());

    FormOptions options_;
    FormState state_;
    Context ctx_;
    SerialLink serialLink_;
    Recorder recorder_;
    ReplyCheck replyCheck_;
    Polling polling_;
    PresetFields presetFields_;
    Commands commands_;
    Startup startup_;
    modbus::ReadingSink* readings_ = nullptr;
};

} // namespace eload
