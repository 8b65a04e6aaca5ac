#pragma once
// The window as the rest of the program sees it. Controls are addressed by
// their form names; nothing here needs a widget header, so protocol and
// command code can be tested against an in-memory panel.

#include <QString>
#include <cstdint>

namespace eload {

// Controls that the handlers read or write, by their form names.
enum class Ctl {
    // frame " 通讯设置 "
    Combo1,
    Combo2,
    Combo3,
    Combo4,
    Combo5,
    Combo_Addr2,
    Shape1,
    Command1,
    // frame " 预设值 "
    Text3,
    Text4,
    Text5,
    Combo6,
    Command3,
    Command2,
    // frame " 模块地址更改 "
    Combo_Addr0,
    Command_OK1,
    // frame " 测量值 "
    AI_SHOW0,
    AI_SHOW1,
    AI_SHOW2,
    AI_SHOW3,
    AI_SHOW4,
    AI_SHOW5,
    AI_SHOW7,
    Label17_0,
    Label17_1,
    Label17_2,
    Label20,
    Command6,
    Command_OK3,
    // outside the frames
    Label9,
    Command4,
    Command5,
    Label15_0,
    Text1_0,
    Message_Show,
    Text2,
};

// objectName of a control: "Combo_Addr(2)", "AI_SHOW(7)", "Command1" ...
QString controlName(Ctl c);

enum class Timer { Timer1, Timer2, Timer3 };
QString timerName(Timer t);

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kGreen{0, 255, 0};

class Panel {
public:
    virtual ~Panel() = default;

    // Caption of a label or button, text of a text box or combo box.
    virtual QString text(Ctl c) const = 0;
    virtual void setText(Ctl c, const QString& s) = 0;

    virtual bool isEnabled(Ctl c) const = 0;
    virtual void setEnabled(Ctl c, bool on) = 0;

    // Background of a label, fill of Shape1.
    virtual Rgb backColor(Ctl c) const = 0;
    virtual void setBackColor(Ctl c, Rgb colour) = 0;

    // Combo boxes. The list position is -1 while the box text is not the
    // selected entry. Setting it runs no handler; callers run the click
    // handler themselves where the form would have raised it.
    virtual int listIndex(Ctl c) const = 0;
    virtual void setListIndex(Ctl c, int index) = 0;
    virtual int listCount(Ctl c) const = 0;
    virtual QString listItem(Ctl c, int index) const = 0;
    virtual void addItem(Ctl c, const QString& s) = 0;

    // Limit on typed input only; texts set by the program are never cut.
    virtual void setMaxLength(Ctl c, int length) = 0;
    virtual void setToolTip(Ctl c, const QString& s) = 0;

    virtual bool isTimerEnabled(Timer t) const = 0;
    virtual void setTimerEnabled(Timer t, bool on) = 0;

    // Modal box, one OK button, the program's title. `detail` is an optional
    // second line (a path, a cause, a remedy).
    virtual void showMessage(const QString& text, const QString& detail = {}) = 0;
};

} // namespace eload
