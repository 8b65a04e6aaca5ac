#pragma once
// The program's one window. Controls carry their form names as objectName
// ("Combo_Addr(2)", "AI_SHOW(7)", "Label18(3)" ...) and sit at fixed
// positions on a page of fixed size, which a scroll area holds when the
// screen has less room. The window raises the handlers of FormEvents and
// implements Panel, through which the program's logic reads and writes it.

#include "core/Panel.h"
#include "ui/BoxQueue.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QScrollArea;
class QTimer;
class QUrl;

namespace eload {

class FormEvents;

class frmmain final : public QWidget, public Panel {
    Q_OBJECT
public:
    explicit frmmain(QWidget* parent = nullptr);
    ~frmmain() override;

    // The fixed layout's size: the window's own wherever the screen has room.
    static QSize pageSize();

    using QWidget::isEnabled;
    using QWidget::setEnabled;
    using QWidget::setToolTip;

    // The address Label9 shows and opens (a build option).
    static QString vendorUrl();

    // Handlers to raise; null raises nothing.
    void setEvents(FormEvents* events) { events_ = events; }

    // How Label9_Click opens the vendor's page; the desktop's URL handler by default.
    void setUrlOpener(std::function<void(const QUrl&)> opener) { openUrl_ = std::move(opener); }

    QWidget* control(Ctl c) const { return controls_.at(c); }
    QTimer* timer(Timer t) const { return timers_.at(t); }

    // Panel
    QString text(Ctl c) const override;
    void setText(Ctl c, const QString& s) override;
    bool isEnabled(Ctl c) const override;
    void setEnabled(Ctl c, bool on) override;
    Rgb backColor(Ctl c) const override;
    void setBackColor(Ctl c, Rgb colour) override;
    int listIndex(Ctl c) const override;
    void setListIndex(Ctl c, int index) override;
    int listCount(Ctl c) const override;
    QString listItem(Ctl c, int index) const override;
    void addItem(Ctl c, const QString& s) override;
    void setMaxLength(Ctl c, int length) override;
    void setToolTip(Ctl c, const QString& s) override;
    bool isTimerEnabled(Timer t) const override;
    void setTimerEnabled(Timer t, bool on) override;
    void showMessage(const QString& text, const QString& detail = {}) override;

    // The window's own handlers.
    void Label9_Click();
    void AI_SHOW_Click(int index);

    // A close request with no one left to answer a box (the session ends):
    // the open box is dismissed, boxes from now on go to stderr, and the
    // window closes as by its close button once the box's caller has returned.
    void closeUnattended();

    // The window's size and place for its screen's available area now.
    void fitToScreen();

Q_SIGNALS:
    // A button's caption changed: the captions of Command_OK3, Command5 and
    // Command6 say whether a test runs.
    void captionChanged(eload::Ctl c);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using Handler = void (FormEvents::*)();
    using KeyHandler = void (FormEvents::*)(int&);

    // building the window
    void buildPage();
    void buildCommFrame();
    void buildPresetFrame();
    void buildAddressFrame();
    void buildMeasureFrame();
    void buildOutsideFrames();
    void buildStatusLines();
    void buildTimers();
    void setFocusOrder();
    QGroupBox* addFrame(const char* name, const QString& title, const QRect& place);
    QLabel* addLabel(QWidget* parent, const QString& name, const QString& caption,
                     const QRect& place, qreal points);
    QLabel* addValueLabel(QWidget* parent, Ctl c, const QRect& place, qreal points,
                          const QColor& textColour);
    QComboBox* addCombo(QWidget* parent, Ctl c, const QRect& place);
    QLineEdit* addTextBox(QWidget* parent, Ctl c, const QRect& place, qreal points);
    template <class Button = QPushButton>
    Button* addButton(QWidget* parent, Ctl c, const QRect& place, qreal points);
    void addShape(QWidget* parent, Ctl c, const QRect& place);
    void place(Ctl c, QWidget* w, const QRect& where);

    // raising handlers
    void raiseEvent(Handler h);
    void wireClick(Ctl c, Handler h);
    void wireComboPick(Ctl c, Handler h);
    void wirePresetField(Ctl c, Handler click, KeyHandler keyPress);
    bool filterKeyPress(QLineEdit* box, KeyHandler keyPress, QEvent* event);

    void showBox(const Box& box);
    static void tellBox(const Box& box);
    void closeOnceBoxesReturn();

    // following the screen
    void followScreen();
    void keepOnScreen();

    QComboBox* combo(Ctl c) const;
    QLineEdit* lineEdit(Ctl c) const;

    QWidget* page_ = nullptr; // every control's ancestor
    QScrollArea* scroller_ = nullptr;
    QMargins fittedFrame_;               // the window frame at the last fit
    QMetaObject::Connection screenRoom_; // the screen's available area changing
    std::map<Ctl, QWidget*> controls_;
    std::map<Timer, QTimer*> timers_;
    struct PresetField {
        Handler click;
        KeyHandler keyPress;
    };
    std::map<QObject*, PresetField> presetFields_;
    FormEvents* events_ = nullptr;
    std::function<void(const QUrl&)> openUrl_;
    BoxQueue boxes_;
    QPointer<QMessageBox> openBox_;
    bool closing_ = false; // the close request has begun
};

} // namespace eload
