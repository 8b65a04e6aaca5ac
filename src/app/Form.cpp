#include "app/Form.h"

namespace eload {

Form::Form(Panel& panel, SerialDevice& port, Clock& clock, FormOptions options)
    : options_(std::move(options)), ctx_{panel, state_, port, clock}, replyCheck_(ctx_, nullptr),
      polling_(ctx_),
      startup_(
          ctx_, [this] { Combo1_Click(); }, options_.settingsPath, options_.appFolder)
{
    port.setListener(this);
}

Form::~Form() { ctx_.port.setListener(nullptr); }

// Handlers are wired to their subsystems as these land.
void Form::Form_Load() { startup_.Form_Load(); }
void Form::Form_QueryUnload() { startup_.Form_QueryUnload(); }
void Form::Combo1_Click() {}
void Form::Combo2_Click() {}
void Form::Command1_Click() {}
void Form::Timer1_Timer() { replyCheck_.Timer1_Timer(); }
void Form::Text3_Click() {}
void Form::Text4_Click() {}
void Form::Text5_Click() {}
void Form::Text3_KeyPress(int&) {}
void Form::Text4_KeyPress(int&) {}
void Form::Text5_KeyPress(int&) {}
void Form::Command2_Click() {}
void Form::Combo6_Click() {}
void Form::Command3_Click() {}
void Form::Command4_Click() {}
void Form::Command5_Click() {}
void Form::Command_OK1_Click() {}
void Form::Command_OK3_Click() { polling_.Command_OK3_Click(); }
void Form::Timer2_Timer() { polling_.Timer2_Timer(); }
void Form::Timer3_Timer() { polling_.Timer3_Timer(); }
void Form::Command6_Click() {}
void Form::dataReceived() { replyCheck_.MSComm1_OnComm(); }
void Form::lineFailed(const SerialError&) {}

} // namespace eload
