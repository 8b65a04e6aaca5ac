#include "ui/frmmain.h"

#include "core/Causes.h"
#include "core/FormDefinition.h"
#include "core/FormEvents.h"
#include "core/Texts.h"
#include "ui/Accessibility.h"
#include "ui/ClickLabel.h"
#include "ui/Fonts.h"
#include "ui/Frame.h"
#include "ui/LengthLimit.h"
#include "ui/PictureBox.h"
#include "ui/ScreenFit.h"
#include "ui/Shape.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <QtDebug>
#include <algorithm>
#include <optional>

#ifndef ELOAD_VENDOR_URL
#define ELOAD_VENDOR_URL "https://www.example.com/"
#endif

namespace eload {

namespace {

// Point sizes of the window's fonts.
constexpr qreal kDefaultPt = 9;     // the window's own: Command1, combo boxes, Text1(0), Text2
constexpr qreal kLabelPt = 10.5;    // captions, Message_Show
constexpr qreal kFrameTitlePt = 12; // bold
constexpr qreal kCommand4Pt = 12;
constexpr qreal kValuePt = 14.25; // value labels, preset fields, the web link
constexpr qreal kButtonPt = 15;
constexpr qreal kClockPt = 21.75; // discharge time, protection status

const QColor kRed(255, 0, 0);
const QColor kGreenText(0, 255, 0);
const QColor kYellow(255, 255, 0);
const QColor kCyan(0, 255, 255);
const QColor kMagenta(255, 0, 255);
const QColor kLinkBlue(128, 128, 255);

const QSize kPageSize(990, 506);

QColor toColor(Rgb c) { return QColor(c.r, c.g, c.b); }
Rgb toRgb(const QColor& c)
{
    return Rgb{std::uint8_t(c.red()), std::uint8_t(c.green()), std::uint8_t(c.blue())};
}

void setColour(QWidget* w, QPalette::ColorRole role, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
}

// A list position that leaves the box's text standing, as in a VB combo.
void deselectKeepingText(QComboBox* box)
{
    const QString text = box->currentText();
    box->setCurrentIndex(-1);
    box->setEditText(text);
}

// A key that types a character reaches the KeyPress handler; Delete, the
// arrows and the focus keys do not.
bool typesCharacter(const QKeyEvent& key)
{
    if (key.text().isEmpty() || key.text().at(0) == QChar(0x7F)) return false;
    return key.key() != Qt::Key_Tab && key.key() != Qt::Key_Backtab;
}

} // namespace

frmmain::frmmain(QWidget* parent)
    : QWidget(parent), openUrl_([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      boxes_([this](const Box& box) { showBox(box); }, &frmmain::tellBox)
{
    accessibility::install();
    setObjectName(QStringLiteral("frmmain"));
    setWindowTitle(texts::kProgramTitle + QString(48, QLatin1Char(' ')));
    setFont(songFont(kDefaultPt));
    setColour(this, QPalette::Window, Qt::white);
    setAutoFillBackground(true);
    setFixedSize(kPageSize);

    buildPage();
    buildCommFrame();
    buildPresetFrame();
    buildAddressFrame();
    buildMeasureFrame();
    buildOutsideFrames();
    buildStatusLines();
    buildTimers();
    setFocusOrder();
}

frmmain::~frmmain() = default;

QString frmmain::vendorUrl() { return QStringLiteral(ELOAD_VENDOR_URL); }

QSize frmmain::pageSize() { return kPageSize; }

// ---------------------------------------------------------------- building

// The controls on a page of the window's fixed size; the scroll area shows no
// frame and no bars while the window is as large as the page.
void frmmain::buildPage()
{
    page_ = new QWidget;
    accessibility::describePage(page_);
    page_->setObjectName(QStringLiteral("page"));
    page_->setFixedSize(kPageSize);
    page_->setAutoFillBackground(true);
    scroller_ = new QScrollArea(this);
    scroller_->setObjectName(QStringLiteral("pageScroller"));
    scroller_->setFrameShape(QFrame::NoFrame);
    scroller_->setFocusPolicy(Qt::NoFocus); // not a stop of the Tab order
    scroller_->setWidget(page_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroller_);
}

QGroupBox* frmmain::addFrame(const char* name, const QString& title, const QRect& where)
{
    auto* frame = new Frame(title, page_);
    frame->setObjectName(QLatin1String(name));
    frame->setFont(songFont(kFrameTitlePt, true));
    frame->setGeometry(where);
    return frame;
}

QLabel* frmmain::addLabel(QWidget* parent, const QString& name, const QString& caption,
                          const QRect& where, qreal points)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFont(songFont(points));
    label->setAutoFillBackground(true);
    setColour(label, QPalette::Window, Qt::white);
    setColour(label, QPalette::WindowText, Qt::black);
    label->setGeometry(where);
    return label;
}

void frmmain::place(Ctl c, QWidget* w, const QRect& where)
{
    w->setObjectName(controlName(c));
    w->setGeometry(where);
    w->setEnabled(definitionOf(c).enabled);
    controls_[c] = w;
}

QLabel* frmmain::addValueLabel(QWidget* parent, Ctl c, const QRect& where, qreal points,
                               const QColor& textColour)
{
    const ControlDef& def = definitionOf(c);
    auto* label = new ClickLabel(def.text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(songFont(points));
    label->setAutoFillBackground(true);
    setColour(label, QPalette::Window, toColor(def.backColor.value_or(kWhite)));
    setColour(label, QPalette::WindowText, textColour);
    place(c, label, where);
    return label;
}

QComboBox* frmmain::addCombo(QWidget* parent, Ctl c, const QRect& where)
{
    const ControlDef& def = definitionOf(c);
    auto* box = new accessibility::List(parent);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    // Leaving the box after typing an entry's text is no pick: only the list
    // and the arrow keys choose an entry.
    disconnect(box->lineEdit(), &QLineEdit::editingFinished, box, nullptr);
    box->setFont(songFont(kDefaultPt));
    box->addItems(def.items);
    box->setCurrentIndex(-1);
    box->setEditText(def.text);
    box->installEventFilter(this);
    place(c, box, where);
    return box;
}

QLineEdit* frmmain::addTextBox(QWidget* parent, Ctl c, const QRect& where, qreal points)
{
    auto* box = new QLineEdit(definitionOf(c).text, parent);
    box->setFont(songFont(points));
    place(c, box, where);
    return box;
}

template <class Button>
Button* frmmain::addButton(QWidget* parent, Ctl c, const QRect& where, qreal points)
{
    auto* button = new Button(definitionOf(c).text, parent);
    button->setFont(songFont(points));
    place(c, button, where);
    return button;
}

void frmmain::addShape(QWidget* parent, Ctl c, const QRect& where)
{
    auto* shape = new Shape(parent);
    shape->setFillColor(toColor(definitionOf(c).backColor.value_or(kBlack)));
    place(c, shape, where);
}

void frmmain::buildCommFrame()
{
    QGroupBox* f = addFrame("Frame1", QStringLiteral(" 通讯设置 "), {10, 8, 230, 420});
    struct Row {
        const char* label;
        QString caption;
        Ctl box;
    };
    const Row rows[] = {
        {"Label1", QStringLiteral("串口号"), Ctl::Combo1},
        {"Label2", QStringLiteral("波特率"), Ctl::Combo2},
        {"Label3", QStringLiteral("校验位"), Ctl::Combo3},
        {"Label4", QStringLiteral("数据位"), Ctl::Combo4},
        {"Label5", QStringLiteral("停止位"), Ctl::Combo5},
        {"Label12", QStringLiteral("Slave ID"), Ctl::Combo_Addr2},
    };
    int y = 38;
    for (const Row& r : rows) {
        QLabel* caption =
            addLabel(f, QLatin1String(r.label), r.caption, {16, y + 2, 72, 20}, kLabelPt);
        QComboBox* list = addCombo(f, r.box, {92, y, 124, 24});
        caption->setBuddy(list);
        accessibility::describeList(static_cast<accessibility::List*>(list), r.caption);
        y += 46;
    }
    addShape(f, Ctl::Shape1, {26, 350, 26, 26});
    accessibility::describeLamp(static_cast<Shape*>(control(Ctl::Shape1)), texts::kPortLampClosed,
                                texts::kPortLampOpen);
    addButton(f, Ctl::Command1, {66, 342, 150, 42}, kDefaultPt);
    wireComboPick(Ctl::Combo1, &FormEvents::Combo1_Click);
    wireComboPick(Ctl::Combo2, &FormEvents::Combo2_Click);
    wireClick(Ctl::Command1, &FormEvents::Command1_Click);
}

void frmmain::buildPresetFrame()
{
    QGroupBox* f = addFrame("Frame3", QStringLiteral(" 预设值 "), {250, 8, 310, 290});
    struct Row {
        const char* label;
        QString caption;
        Ctl box;
        Handler click;
        KeyHandler keyPress;
    };
    const Row rows[] = {
        {"Label11", QStringLiteral("设置电流 (0.01-10A):"), Ctl::Text3, &FormEvents::Text3_Click,
         &FormEvents::Text3_KeyPress},
        {"Label10(0)", QStringLiteral("设置低压 (1-99.99V):"), Ctl::Text4, &FormEvents::Text4_Click,
         &FormEvents::Text4_KeyPress},
        {"Label10(1)", QStringLiteral("设置功率 (1-150W):"), Ctl::Text5, &FormEvents::Text5_Click,
         &FormEvents::Text5_KeyPress},
    };
    int y = 38;
    for (const Row& r : rows) {
        QLabel* caption =
            addLabel(f, QLatin1String(r.label), r.caption, {12, y + 5, 176, 20}, kLabelPt);
        QLineEdit* box = addTextBox(f, r.box, {190, y, 108, 30}, kValuePt);
        setColour(box, QPalette::Base, Qt::black);
        setColour(box, QPalette::Text, kCyan);
        caption->setBuddy(box);
        wirePresetField(r.box, r.click, r.keyPress);
        y += 46;
    }
    QLabel* caption = addLabel(f, QStringLiteral("Label16"), QStringLiteral("设置波特率"),
                               {12, y + 2, 176, 20}, kLabelPt);
    caption->setBuddy(addCombo(f, Ctl::Combo6, {190, y, 108, 24}));
    accessibility::describeList(static_cast<accessibility::List*>(control(Ctl::Combo6)),
                                caption->text());
    addButton(f, Ctl::Command3, {20, 228, 120, 44}, kButtonPt);
    addButton(f, Ctl::Command2, {170, 228, 120, 44}, kButtonPt);
    wireComboPick(Ctl::Combo6, &FormEvents::Combo6_Click);
    wireClick(Ctl::Command3, &FormEvents::Command3_Click);
    wireClick(Ctl::Command2, &FormEvents::Command2_Click);
}

void frmmain::buildAddressFrame()
{
    QGroupBox* f = addFrame("Frame2", QStringLiteral(" 模块地址更改 "), {250, 306, 310, 122});
    QLabel* caption = addLabel(f, QStringLiteral("Label6"), QStringLiteral("模块地址:"),
                               {12, 56, 76, 20}, kLabelPt);
    caption->setBuddy(addCombo(f, Ctl::Combo_Addr0, {92, 54, 90, 24}));
    accessibility::describeList(static_cast<accessibility::List*>(control(Ctl::Combo_Addr0)),
                                caption->text());
    addButton(f, Ctl::Command_OK1, {196, 44, 100, 44}, kButtonPt);
    wireClick(Ctl::Command_OK1, &FormEvents::Command_OK1_Click);
}

void frmmain::buildMeasureFrame()
{
    QGroupBox* f = addFrame("Frame7", QStringLiteral(" 测量值 "), {570, 8, 410, 300});
    struct Value {
        const char* label; // none for the energy row, whose caption only readers hear
        QString caption;
        Ctl value;
        int index;
        QColor colour;
        QPoint at; // caption's top left; the value stands to its right
    };
    const Value values[] = {
        {"Label18(2)", QStringLiteral("放电电流:"), Ctl::AI_SHOW0, 0, kRed, {10, 36}},
        {"Label18(1)", QStringLiteral("放电电压:"), Ctl::AI_SHOW1, 1, kGreenText, {10, 80}},
        {"Label18(0)", QStringLiteral("放电功率:"), Ctl::AI_SHOW2, 2, kYellow, {10, 124}},
        {"Label18(7)", QStringLiteral("模块温度:"), Ctl::AI_SHOW7, 7, kCyan, {10, 168}},
        {"Label18(4)", QStringLiteral("电池内阻:"), Ctl::AI_SHOW5, 5, kCyan, {208, 36}},
        {"Label18(5)", QStringLiteral("电池容量:"), Ctl::AI_SHOW3, 3, kMagenta, {208, 80}},
        {nullptr, texts::kEnergyCaption, Ctl::AI_SHOW4, 4, kMagenta, {208, 124}},
    };
    for (const Value& v : values) {
        if (v.label)
            addLabel(f, QLatin1String(v.label), v.caption, {v.at.x(), v.at.y() + 5, 78, 20},
                     kLabelPt);
        QLabel* shown =
            addValueLabel(f, v.value, {v.at.x() + 80, v.at.y(), 112, 30}, kValuePt, v.colour);
        accessibility::describeValue(shown, v.caption);
        connect(static_cast<ClickLabel*>(shown), &ClickLabel::clicked, this,
                [this, i = v.index] { AI_SHOW_Click(i); });
    }

    // The discharge time 00:00:00, read as one text; Label17(3) and Label17(4) are the colons.
    auto* clockRow = new accessibility::LabelRow(texts::kDischargeTimeCaption, f);
    clockRow->setObjectName(QStringLiteral("DischargeTime"));
    clockRow->setGeometry(12, 240, 164, 36);
    struct Clock {
        std::optional<Ctl> digits;
        const char* colon;
        int x; // in the row
        int width;
    };
    const Clock clock[] = {
        {Ctl::Label17_0, nullptr, 0, 44},   {std::nullopt, "Label17(3)", 44, 16},
        {Ctl::Label17_1, nullptr, 60, 44},  {std::nullopt, "Label17(4)", 104, 16},
        {Ctl::Label17_2, nullptr, 120, 44},
    };
    for (const Clock& part : clock) {
        const QRect where(part.x, 0, part.width, 36);
        QLabel* label = part.digits ? addValueLabel(clockRow, *part.digits, where, kClockPt, kCyan)
                                    : addLabel(clockRow, QLatin1String(part.colon),
                                               QStringLiteral(":"), where, kClockPt);
        setColour(label, QPalette::WindowText, kCyan);
        label->setAlignment(Qt::AlignCenter);
    }
    accessibility::describeValue(addValueLabel(f, Ctl::Label20, {184, 240, 96, 36}, kClockPt, kRed),
                                 texts::kProtectionCaption);
    addButton(f, Ctl::Command6, {288, 164, 112, 36}, kButtonPt);
    addButton(f, Ctl::Command_OK3, {288, 236, 112, 46}, kButtonPt);
    wireClick(Ctl::Command6, &FormEvents::Command6_Click);
    wireClick(Ctl::Command_OK3, &FormEvents::Command_OK3_Click);
}

void frmmain::buildOutsideFrames()
{
    QLabel* link = addValueLabel(page_, Ctl::Label9, {570, 314, 410, 26}, kValuePt, kLinkBlue);
    // Before its text is set: a reader asks what it is at the first change.
    accessibility::describeLink(static_cast<ClickLabel*>(link));
    link->setText(vendorUrl());
    link->setCursor(Qt::PointingHandCursor);
    // Reached with Tab after the last button and opened with Space or Enter.
    link->setFocusPolicy(Qt::TabFocus);
    connect(static_cast<ClickLabel*>(link), &ClickLabel::clicked, this, &frmmain::Label9_Click);

    addButton(page_, Ctl::Command4, {570, 346, 150, 40}, kCommand4Pt);
    QLabel* powerCaption = addLabel(page_, QStringLiteral("Label18(3)"), texts::kLoadSwitchCaption,
                                    {732, 356, 96, 20}, kLabelPt);
    // The rim: created first, so that the button lies on top of it. Its colour
    // repeats the switch's state; readers hear the switch alone.
    accessibility::hideFromReaders(
        addValueLabel(page_, Ctl::Label15_0, {830, 344, 150, 44}, kLabelPt, Qt::black));
    auto* loadSwitch =
        addButton<accessibility::Switch>(page_, Ctl::Command5, {834, 348, 142, 36}, kButtonPt);
    powerCaption->setBuddy(loadSwitch);
    accessibility::describeSwitch(loadSwitch, texts::kLoadSwitchCaption, texts::kOn);
    wireClick(Ctl::Command4, &FormEvents::Command4_Click);
    wireClick(Ctl::Command5, &FormEvents::Command5_Click);

    auto* picture = new PictureBox(page_);
    picture->setObjectName(QStringLiteral("Picture1(0)"));
    picture->setGeometry(570, 392, 150, 36);
    addLabel(picture, QStringLiteral("Label8"), QStringLiteral("Varnelt"), {44, 8, 98, 20},
             kLabelPt)
        ->setAlignment(Qt::AlignCenter);
}

void frmmain::buildStatusLines()
{
    struct Line {
        const char* label;
        QString caption;
        Ctl box;
        QRect at; // the caption; the box follows it
        int boxWidth;
        qreal points;
    };
    const Line lines[] = {
        {"Label13(0)", QStringLiteral("Send:"), Ctl::Text1_0, {10, 442, 44, 20}, 504, kDefaultPt},
        {"Label7", QStringLiteral("Mess:"), Ctl::Message_Show, {570, 442, 44, 20}, 364, kLabelPt},
        {"Label14", QStringLiteral("Rece:"), Ctl::Text2, {10, 474, 44, 20}, 924, kDefaultPt},
    };
    for (const Line& l : lines) {
        QLabel* caption = addLabel(page_, QLatin1String(l.label), l.caption, l.at, kLabelPt);
        caption->setBuddy(
            addTextBox(page_, l.box, {l.at.right() + 2, l.at.y() - 2, l.boxWidth, 24}, l.points));
    }
}

void frmmain::buildTimers()
{
    struct Def {
        Timer t;
        Handler tick;
    };
    const Def defs[] = {{Timer::Timer1, &FormEvents::Timer1_Timer},
                        {Timer::Timer2, &FormEvents::Timer2_Timer},
                        {Timer::Timer3, &FormEvents::Timer3_Timer}};
    for (const Def& d : defs) {
        auto* timer = new QTimer(this);
        timer->setObjectName(timerName(d.t));
        // A coarse timer may fire up to 5 % early; the reply check must not.
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(timerInterval(d.t));
        connect(timer, &QTimer::timeout, this, [this, h = d.tick] { raiseEvent(h); });
        timers_[d.t] = timer;
    }
}

void frmmain::setFocusOrder()
{
    const Ctl order[] = {Ctl::Command_OK1, Ctl::Combo_Addr0, Ctl::Command1,    Ctl::Combo2,
                         Ctl::Combo1,      Ctl::Text1_0,     Ctl::Text2,       Ctl::Message_Show,
                         Ctl::Command2,    Ctl::Combo_Addr2, Ctl::Command_OK3, Ctl::Text3,
                         Ctl::Text4,       Ctl::Command3,    Ctl::Command5,    Ctl::Combo6,
                         Ctl::Text5,       Ctl::Command4,    Ctl::Command6};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(control(order[i - 1]), control(order[i]));
    QWidget::setTabOrder(control(order[std::size(order) - 1]), control(Ctl::Label9));
    // Not on 修 改, the first in the order: one Space there would give every
    // module on the line a new address.
    control(Ctl::Command1)->setFocus();
}

// ---------------------------------------------------------------- handlers

void frmmain::raiseEvent(Handler h)
{
    if (events_) (events_->*h)();
}

void frmmain::wireClick(Ctl c, Handler h)
{
    connect(static_cast<QPushButton*>(control(c)), &QPushButton::clicked, this,
            [this, h] { raiseEvent(h); });
}

// activated comes from the operator's picks only, never from the program.
void frmmain::wireComboPick(Ctl c, Handler h)
{
    connect(combo(c), &QComboBox::activated, this, [this, h] { raiseEvent(h); });
}

void frmmain::wirePresetField(Ctl c, Handler click, KeyHandler keyPress)
{
    QLineEdit* box = lineEdit(c);
    // Every character goes through the KeyPress handler: no input method
    // composes past it and nothing is dropped in.
    box->setAttribute(Qt::WA_InputMethodEnabled, false);
    box->setAcceptDrops(false);
    box->installEventFilter(this);
    presetFields_[box] = {click, keyPress};
}

bool frmmain::eventFilter(QObject* watched, QEvent* event)
{
    // A wheel turned over a list would pick entries unasked; VB lists ignore it.
    if (event->type() == QEvent::Wheel && qobject_cast<QComboBox*>(watched)) return true;
    // The window manager's frame is known once the window is on screen.
    if (watched == windowHandle() && event->type() == QEvent::Expose &&
        windowHandle()->frameMargins() != fittedFrame_)
        fitToScreen();

    const auto field = presetFields_.find(watched);
    if (field == presetFields_.end()) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        raiseEvent(field->second.click);
    if (event->type() == QEvent::KeyPress)
        return filterKeyPress(static_cast<QLineEdit*>(watched), field->second.keyPress, event);
    return false;
}

// true swallows the key: the handler set the code to 0, or replaced it by
// another character, which is typed instead.
bool frmmain::filterKeyPress(QLineEdit* box, KeyHandler keyPress, QEvent* event)
{
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!events_ || !typesCharacter(*key)) return false;
    const int typed = key->text().at(0).unicode();
    int code = typed;
    (events_->*keyPress)(code);
    if (code == typed) return false;
    if (code > 0 && code <= 0xFFFF) box->insert(QString(QChar(char16_t(code))));
    return true;
}

void frmmain::closeEvent(QCloseEvent* event)
{
    // Every close request goes through; the handler only gets to save first.
    closing_ = true;
    if (events_) events_->Form_QueryUnload();
    event->accept();
}

void frmmain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The first show: the window's handle exists from now on.
    if (!screenRoom_) {
        windowHandle()->installEventFilter(this);
        connect(windowHandle(), &QWindow::screenChanged, this, &frmmain::followScreen);
    }
    followScreen();
}

// Moved to another screen, or this one's room changed (scaling, a panel of the desktop).
void frmmain::followScreen()
{
    disconnect(screenRoom_);
    screenRoom_ =
        connect(screen(), &QScreen::availableGeometryChanged, this, &frmmain::fitToScreen);
    fitToScreen();
}

void frmmain::fitToScreen()
{
    fittedFrame_ = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const QSize room = screen()->availableGeometry().size().shrunkBy(fittedFrame_);
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroller_);
    const QSize size = windowSizeFor(kPageSize, room, bar);
    if (size == kPageSize) {
        setFixedSize(kPageSize);
    } else {
        // Smaller than the page: the operator may widen it up to the page and its bars.
        setMinimumSize(4 * bar, 4 * bar);
        setMaximumSize(kPageSize + QSize(bar, bar));
        resize(size);
    }
    keepOnScreen();
}

// The title bar and every edge where the operator can reach them.
void frmmain::keepOnScreen()
{
    const QRect room = screen()->availableGeometry();
    QRect frame = frameGeometry();
    frame.moveLeft(std::clamp(frame.left(), room.left(),
                              std::max(room.left(), room.right() - frame.width() + 1)));
    frame.moveTop(std::clamp(frame.top(), room.top(),
                             std::max(room.top(), room.bottom() - frame.height() + 1)));
    if (frame.topLeft() != frameGeometry().topLeft()) move(frame.topLeft());
}

void frmmain::closeUnattended()
{
    boxes_.stopShowing();
    if (openBox_) openBox_->done(QMessageBox::Ok);
    closeOnceBoxesReturn();
}

// The shutdown must not run inside the handler that asked for the box, so
// the close waits for the box's loop to return to it.
void frmmain::closeOnceBoxesReturn()
{
    if (closing_) return;
    if (boxes_.isShowing()) return QTimer::singleShot(10, this, &frmmain::closeOnceBoxesReturn);
    close();
}

void frmmain::Label9_Click()
{
    // The desktop's handler starts detached; whether it succeeds is not ours to wait for.
    if (openUrl_) openUrl_(QUrl(vendorUrl()));
}

void frmmain::AI_SHOW_Click(int) {}

// ---------------------------------------------------------------- Panel

QComboBox* frmmain::combo(Ctl c) const { return qobject_cast<QComboBox*>(control(c)); }

QLineEdit* frmmain::lineEdit(Ctl c) const
{
    if (QComboBox* box = combo(c)) return box->lineEdit();
    return qobject_cast<QLineEdit*>(control(c));
}

QString frmmain::text(Ctl c) const
{
    QWidget* w = control(c);
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
    if (QLineEdit* edit = lineEdit(c)) return edit->text();
    return {};
}

void frmmain::setText(Ctl c, const QString& s)
{
    QWidget* w = control(c);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(s);
        return accessibility::readingChanged(label);
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        if (button->text() == s) return;
        button->setText(s);
        accessibility::readingChanged(button);
        return Q_EMIT captionChanged(c);
    }
    QLineEdit* edit = lineEdit(c);
    if (!edit) return;
    if (auto* limit = qobject_cast<const LengthLimit*>(edit->validator()))
        const_cast<LengthLimit*>(limit)->admit(s);
    if (QComboBox* box = combo(c)) {
        // A text that is not the selected entry leaves no entry selected.
        if (box->itemText(box->currentIndex()) != s) box->setCurrentIndex(-1);
        box->setEditText(s);
        return;
    }
    edit->setText(s);
}

bool frmmain::isEnabled(Ctl c) const { return control(c)->isEnabled(); }

void frmmain::setEnabled(Ctl c, bool on)
{
    QWidget* w = control(c);
    // Qt hands the focus of a control switched off to the next in the Tab
    // order, wherever that is (after 记 录 it was 修 改, where one Space gives
    // every module on the line a new address). 采 集 / 停 止 is harmless.
    QWidget* focus = focusWidget();
    if (!on && focus && (focus == w || w->isAncestorOf(focus)))
        control(Ctl::Command_OK3)->setFocus(Qt::OtherFocusReason);
    w->setEnabled(on);
}

Rgb frmmain::backColor(Ctl c) const
{
    if (auto* shape = qobject_cast<Shape*>(control(c))) return toRgb(shape->fillColor());
    return toRgb(control(c)->palette().color(QPalette::Window));
}

void frmmain::setBackColor(Ctl c, Rgb colour)
{
    if (auto* shape = qobject_cast<Shape*>(control(c))) {
        shape->setFillColor(toColor(colour));
        return accessibility::readingChanged(shape);
    }
    setColour(control(c), QPalette::Window, toColor(colour));
}

int frmmain::listIndex(Ctl c) const
{
    const QComboBox* box = combo(c);
    const int index = box ? box->currentIndex() : -1;
    return index >= 0 && box->itemText(index) == box->currentText() ? index : -1;
}

void frmmain::setListIndex(Ctl c, int index)
{
    QComboBox* box = combo(c);
    if (!box) return;
    if (index < 0 || index >= box->count()) return deselectKeepingText(box);
    box->setCurrentIndex(index);
    // The entry's text also replaces one typed over the entry already current.
    box->setEditText(box->itemText(index));
}

int frmmain::listCount(Ctl c) const
{
    const QComboBox* box = combo(c);
    return box ? box->count() : 0;
}

QString frmmain::listItem(Ctl c, int index) const
{
    const QComboBox* box = combo(c);
    return box ? box->itemText(index) : QString();
}

void frmmain::addItem(Ctl c, const QString& s)
{
    QComboBox* box = combo(c);
    if (!box) return;
    // QComboBox selects the first entry added to an empty list; a VB list does not.
    const QString text = box->currentText();
    const int index = box->currentIndex();
    box->addItem(s);
    if (box->currentIndex() != index) {
        box->setCurrentIndex(index);
        box->setEditText(text);
    }
}

void frmmain::setMaxLength(Ctl c, int length)
{
    QLineEdit* edit = lineEdit(c);
    if (!edit) return;
    const QValidator* old = edit->validator();
    edit->setValidator(length > 0 ? new LengthLimit(length, edit) : nullptr);
    if (qobject_cast<const LengthLimit*>(old)) delete old;
}

void frmmain::setToolTip(Ctl c, const QString& s) { control(c)->setToolTip(s); }

bool frmmain::isTimerEnabled(Timer t) const { return timer(t)->isActive(); }

void frmmain::setTimerEnabled(Timer t, bool on)
{
    QTimer* tm = timer(t);
    // Enabling a running timer does not restart its interval.
    if (on && !tm->isActive())
        tm->start();
    else if (!on)
        tm->stop();
}

void frmmain::showMessage(const QString& text, const QString& detail)
{
    // The system's causes come in English; the box says them as it says the rest.
    boxes_.request({text, causes::inChinese(detail)});
}

void frmmain::showBox(const Box& box)
{
    QMessageBox mb(QMessageBox::NoIcon, texts::kProgramTitle,
                   box.detail.isEmpty() ? box.text : box.text + QLatin1Char('\n') + box.detail,
                   QMessageBox::Ok, this);
    mb.setTextFormat(Qt::PlainText);
    openBox_ = &mb;
    mb.exec();
}

void frmmain::tellBox(const Box& box)
{
    qWarning().noquote() << QStringLiteral("eload-panel: %1")
                                .arg(box.detail.isEmpty()
                                         ? box.text
                                         : box.text + QLatin1Char(' ') + box.detail);
}

} // namespace eload
