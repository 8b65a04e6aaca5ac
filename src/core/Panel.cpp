#include "core/Panel.h"

namespace eload {

QString controlName(Ctl c)
{
    switch (c) {
    case Ctl::Combo1: return QStringLiteral("Combo1");
    case Ctl::Combo2: return QStringLiteral("Combo2");
    case Ctl::Combo3: return QStringLiteral("Combo3");
    case Ctl::Combo4: return QStringLiteral("Combo4");
    case Ctl::Combo5: return QStringLiteral("Combo5");
    case Ctl::Combo_Addr2: return QStringLiteral("Combo_Addr(2)");
    case Ctl::Shape1: return QStringLiteral("Shape1");
    case Ctl::Command1: return QStringLiteral("Command1");
    case Ctl::Text3: return QStringLiteral("Text3");
    case Ctl::Text4: return QStringLiteral("Text4");
    case Ctl::Text5: return QStringLiteral("Text5");
    case Ctl::Combo6: return QStringLiteral("Combo6");
    case Ctl::Command3: return QStringLiteral("Command3");
    case Ctl::Command2: return QStringLiteral("Command2");
    case Ctl::Combo_Addr0: return QStringLiteral("Combo_Addr(0)");
    case Ctl::Command_OK1: return QStringLiteral("Command_OK1");
    case Ctl::AI_SHOW0: return QStringLiteral("AI_SHOW(0)");
    case Ctl::AI_SHOW1: return QStringLiteral("AI_SHOW(1)");
    case Ctl::AI_SHOW2: return QStringLiteral("AI_SHOW(2)");
    case Ctl::AI_SHOW3: return QStringLiteral("AI_SHOW(3)");
    case Ctl::AI_SHOW4: return QStringLiteral("AI_SHOW(4)");
    case Ctl::AI_SHOW5: return QStringLiteral("AI_SHOW(5)");
    case Ctl::AI_SHOW7: return QStringLiteral("AI_SHOW(7)");
    case Ctl::Label17_0: return QStringLiteral("Label17(0)");
    case Ctl::Label17_1: return QStringLiteral("Label17(1)");
    case Ctl::Label17_2: return QStringLiteral("Label17(2)");
    case Ctl::Label20: return QStringLiteral("Label20");
    case Ctl::Command6: return QStringLiteral("Command6");
    case Ctl::Command_OK3: return QStringLiteral("Command_OK3");
    case Ctl::Label9: return QStringLiteral("Label9");
    case Ctl::Command4: return QStringLiteral("Command4");
    case Ctl::Command5: return QStringLiteral("Command5");
    case Ctl::Label15_0: return QStringLiteral("Label15(0)");
    case Ctl::Text1_0: return QStringLiteral("Text1(0)");
    case Ctl::Message_Show: return QStringLiteral("Message_Show");
    case Ctl::Text2: return QStringLiteral("Text2");
    }
    return {};
}

QString timerName(Timer t)
{
    switch (t) {
    case Timer::Timer1: return QStringLiteral("Timer1");
    case Timer::Timer2: return QStringLiteral("Timer2");
    case Timer::Timer3: return QStringLiteral("Timer3");
    }
    return {};
}

} // namespace eload
