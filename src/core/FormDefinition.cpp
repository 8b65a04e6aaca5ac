#include "core/FormDefinition.h"

#include "core/Texts.h"

namespace eload {

const std::vector<ControlDef>& formDefinition()
{
    static const std::vector<ControlDef> defs = [] {
        QStringList ports;
        for (int n = 1; n <= 9; ++n)
            ports << QStringLiteral("COM%1").arg(n);
        return std::vector<ControlDef>{
            {Ctl::Combo1, QStringLiteral("Combo1"), ports},
            {Ctl::Combo2, QStringLiteral("Combo2"), kBaudRates},
            {Ctl::Combo3,
             QStringLiteral("Combo3"),
             {texts::kNoParity, texts::kOddParity, texts::kEvenParity},
             false},
            {Ctl::Combo4, QStringLiteral("Combo4"), {"8", "7", "6"}, false},
            {Ctl::Combo5, QStringLiteral("Combo5"), {"1", "2"}, false},
            {Ctl::Combo_Addr2, QString(), {}},
            {Ctl::Shape1, QString(), {}, true, kBlack},
            {Ctl::Command1, texts::kOpenPort, {}},
            {Ctl::Text3, QString(), {}},
            {Ctl::Text4, QString(), {}},
            {Ctl::Text5, QString(), {}},
            {Ctl::Combo6, QStringLiteral("Combo6"), kBaudRates},
            {Ctl::Command3, QStringLiteral("读 取"), {}},
            {Ctl::Command2, QStringLiteral("设 置"), {}},
            {Ctl::Combo_Addr0, QString(), {}},
            {Ctl::Command_OK1, QStringLiteral("修 改"), {}},
            {Ctl::AI_SHOW0, QString(), {}, true, kBlack},
            {Ctl::AI_SHOW1, QString(), {}, true, kBlack},
            {Ctl::AI_SHOW2, QString(), {}, true, kBlack},
            {Ctl::AI_SHOW3, QString(), {}, true, kBlack},
            {Ctl::AI_SHOW4, QString(), {}, true, kBlack},
            {Ctl::AI_SHOW5, QString(), {}, true, kBlack},
            {Ctl::AI_SHOW7, QString(), {}, true, kBlack},
            {Ctl::Label17_0, QStringLiteral("00"), {}, true, kWhite},
            {Ctl::Label17_1, QStringLiteral("00"), {}, true, kWhite},
            {Ctl::Label17_2, QStringLiteral("00"), {}, true, kWhite},
            {Ctl::Label20, QString(), {}, true, kWhite},
            {Ctl::Command6, texts::kRecord, {}},
            {Ctl::Command_OK3, texts::kAcquire, {}},
            {Ctl::Label9, QString(), {}, true, kWhite},
            {Ctl::Command4, QStringLiteral("数据清零"), {}},
            {Ctl::Command5, texts::kOff, {}},
            {Ctl::Label15_0, QString(), {}, true, kWhite},
            {Ctl::Text1_0, QString(), {}},
            {Ctl::Message_Show, QString(), {}},
            {Ctl::Text2, QString(), {}},
        };
    }();
    return defs;
}

const ControlDef& definitionOf(Ctl c)
{
    for (const ControlDef& d : formDefinition())
        if (d.id == c) return d;
    // Every Ctl has a row; reaching here is a missing row in the table.
    Q_UNREACHABLE();
}

int timerInterval(Timer t)
{
    switch (t) {
    case Timer::Timer1: return kTimer1Ms;
    case Timer::Timer2: return kTimer2Ms;
    case Timer::Timer3: return kTimer3Ms;
    }
    return 0;
}

} // namespace eload
