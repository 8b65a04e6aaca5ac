#include "app/Form.h"

#include "modbus/ReadingSink.h"

#include <QStandardPaths>

namespace eload {

namespace {
RecorderOptions recorderOptions(const FormOptions& o)
{
    const QString documents =
        o.documentsFolder.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
            : o.documentsFolder;
    return RecorderOptions{o.appFolder, documents, {}};
}
} // namespace

Form::Form(Panel& panel, SerialDevice& port, Clock& clock, FormOptions options)
    : options_(std::move(options)), ctx_{panel, state_, port, clock}, serialLink_(ctx_),
      recorder_(ctx_, recorderOptions(options_)), replyCheck_(ctx_, &recorder_), polling_(ctx_),
      presetFields_(ctx_), commands_(ctx_),
      startup_(
          ctx_, [this] { Combo1_Click(); }, options_.settingsPath, options_.appFolder)
{
    port.setListener(this);
}

Form::~Form() { ctx_.port.setListener(nullptr); }

void Form::Form_Load()
{
    startup_.Form_Load();
    // A recording cut short by a crash becomes its workbook now.
    recorder_.recoverUnfinished();
}
void Form::Form_QueryUnload()
{
    startup_.Form_QueryUnload();
    recorder_.saveAtShutdown();
}
void Form::Combo1_Click() { followLine(&SerialLink::Combo1_Click); }
void Form::Combo2_Click() { followLine(&SerialLink::Combo2_Click); }
void Form::Command1_Click() { followLine(&SerialLink::Command1_Click); }
void Form::Timer1_Timer() { replyCheck_.Timer1_Timer(); }
void Form::Text3_Click() { presetFields_.Text3_Click(); }
void Form::Text4_Click() { presetFields_.Text4_Click(); }
void Form::Text5_Click() { presetFields_.Text5_Click(); }
void Form::Text3_KeyPress(int& keyAscii) { presetFields_.Text3_KeyPress(keyAscii); }
void Form::Text4_KeyPress(int& keyAscii) { presetFields_.Text4_KeyPress(keyAscii); }
void Form::Text5_KeyPress(int& keyAscii) { presetFields_.Text5_KeyPress(keyAscii); }
void Form::Command2_Click() { commands_.Command2_Click(); }
void Form::Combo6_Click() { commands_.Combo6_Click(); }
void Form::Command3_Click() { commands_.Command3_Click(); }
void Form::Command4_Click() { commands_.Command4_Click(); }
void Form::Command5_Click() { commands_.Command5_Click(); }
void Form::Command_OK1_Click() { commands_.Command_OK1_Click(); }
void Form::Command_OK3_Click() { polling_.Command_OK3_Click(); }
void Form::Timer2_Timer() { polling_.Timer2_Timer(); }
void Form::Timer3_Timer() { polling_.Timer3_Timer(); }
void Form::Command6_Click() { recorder_.Command6_Click(); }
void Form::dataReceived() { replyCheck_.MSComm1_OnComm(); }
void Form::lineFailed(const SerialError& e)
{
    // Before the box: it waits for OK, the end of the discharge must not.
    if (readings_) readings_->lineEnded();
    serialLink_.lineFailed(e);
}

// A pick or click that closes the port ends what the readings followed.
void Form::followLine(void (SerialLink::*handler)())
{
    const bool wasOpen = ctx_.port.isOpen();
    (serialLink_.*handler)();
    if (wasOpen && !ctx_.port.isOpen() && readings_) readings_->lineEnded();
}

void Form::setReadingSink(modbus::ReadingSink* sink)
{
    readings_ = sink;
    replyCheck_.setReadingSink(sink);
}

} // namespace eload
