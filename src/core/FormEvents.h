#pragma once
// The handlers of frmmain, named after control and event. The window calls
// them when a control is used or a timer ticks; the program's logic behind
// them never sees a widget. Label9_Click and AI_SHOW_Click belong to the
// window itself.

namespace eload {

class FormEvents {
public:
    virtual ~FormEvents() = default;

    virtual void Form_Load() = 0;
    virtual void Form_QueryUnload() = 0;

    virtual void Combo1_Click() = 0;
    virtual void Combo2_Click() = 0;
    virtual void Command1_Click() = 0;

    virtual void Timer1_Timer() = 0;

    virtual void Text3_Click() = 0;
    virtual void Text4_Click() = 0;
    virtual void Text5_Click() = 0;
    // One typed character; set it to 0 to swallow it.
    virtual void Text3_KeyPress(int& keyAscii) = 0;
    virtual void Text4_KeyPress(int& keyAscii) = 0;
    virtual void Text5_KeyPress(int& keyAscii) = 0;

    virtual void Command2_Click() = 0;
    virtual void Combo6_Click() = 0;
    virtual void Command3_Click() = 0;
    virtual void Command4_Click() = 0;
    virtual void Command5_Click() = 0;
    virtual void Command_OK1_Click() = 0;

    virtual void Command_OK3_Click() = 0;
    virtual void Timer2_Timer() = 0;
    virtual void Timer3_Timer() = 0;

    virtual void Command6_Click() = 0;
};

} // namespace eload
