// The real window, offscreen: what it shows when created, how its controls
// raise the handlers, and the Panel over its widgets.

#include "app/Form.h"
#include "support/Fakes.h"
#include "support/MemoryPanel.h"
#include "ui/BoxQueue.h"
#include "ui/FormDefinition.h"
#include "ui/FormEvents.h"
#include "ui/frmmain.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>

using namespace eload;

namespace {

#define RECORD(name)                                                                               \
    void name() override { calls << QStringLiteral(#name); }
#define RECORD_KEY(name)                                                                           \
    void name(int& key) override                                                                   \
    {                                                                                              \
        calls << QStringLiteral(#name);                                                            \
        keyRule(key);                                                                              \
    }

// Records the handlers raised. KeyPress applies the preset fields' filter
// (only the point and the digits pass) unless a test sets another rule.
class RecordingEvents final : public FormEvents {
public:
    QStringList calls;
    std::function<void(int&)> keyRule = [](int& key) {
        if (key < 46 || key > 57 || key == 47) key = 0;
    };
    RECORD(Form_Load)
    RECORD(Form_QueryUnload)
    RECORD(Combo1_Click)
    RECORD(Combo2_Click)
    RECORD(Command1_Click)
    RECORD(Timer1_Timer)
    RECORD(Text3_Click)
    RECORD(Text4_Click)
    RECORD(Text5_Click)
    RECORD_KEY(Text3_KeyPress)
    RECORD_KEY(Text4_KeyPress)
    RECORD_KEY(Text5_KeyPress)
    RECORD(Command2_Click)
    RECORD(Combo6_Click)
    RECORD(Command3_Click)
    RECORD(Command4_Click)
    RECORD(Command5_Click)
    RECORD(Command_OK1_Click)
    RECORD(Command_OK3_Click)
    RECORD(Timer2_Timer)
    RECORD(Timer3_Timer)
    RECORD(Command6_Click)
};

template <class T = QWidget> T* child(const QWidget& w, const QString& name)
{
    return w.findChild<T*>(name);
}

// Everything the Panel can read, to see that something changed nothing.
QStringList panelSnapshot(const Panel& p)
{
    QStringList s;
    for (const ControlDef& d : formDefinition()) {
        const Rgb c = p.backColor(d.id);
        s << QStringLiteral("%1|%2|%3|%4|%5,%6,%7")
                 .arg(controlName(d.id), p.text(d.id))
                 .arg(p.isEnabled(d.id))
                 .arg(p.listIndex(d.id))
                 .arg(c.r)
                 .arg(c.g)
                 .arg(c.b);
    }
    for (Timer t : {Timer::Timer1, Timer::Timer2, Timer::Timer3})
        s << QString::number(p.isTimerEnabled(t));
    return s;
}

// Reads and dismisses every modal box as it appears; `onFirst` runs while
// the first one is open.
struct BoxWatcher : QObject {
    QStringList titles, texts;
    QList<int> buttons;
    std::function<void()> onFirst;
    QTimer timer;
    BoxWatcher()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            titles << box->windowTitle();
            texts << box->text();
            buttons << int(box->buttons().size());
            if (texts.size() == 1 && onFirst) onFirst();
            box->button(QMessageBox::Ok)->click();
        });
        timer.start(20);
    }
};

// Typing into a field: ⌫ Backspace, ⌦ Delete, ⇤ Home, ⎘ Ctrl+V (character 22);
// anything else is typed as it is.
void typeInto(QLineEdit* box, const QString& keys)
{
    for (QChar k : keys) {
        if (k == u'⌫')
            QTest::keyClick(box, Qt::Key_Backspace);
        else if (k == u'⌦')
            QTest::keyClick(box, Qt::Key_Delete);
        else if (k == u'⇤')
            QTest::keyClick(box, Qt::Key_Home);
        else if (k == u'⎘') {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier,
                            QStringLiteral("\x16"));
            QApplication::sendEvent(box, &press);
        } else
            QTest::keyClick(box, k.toLatin1());
    }
}

} // namespace

class FrmmainTest : public QObject {
    Q_OBJECT

    frmmain* w = nullptr;
    RecordingEvents* ev = nullptr;

    void showWindow()
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

private Q_SLOTS:
    void init()
    {
        w = new frmmain;
        ev = new RecordingEvents;
        w->setEvents(ev);
        w->setUrlOpener([](const QUrl&) { QFAIL("no page opened unasked"); });
    }
    void cleanup()
    {
        delete w;
        delete ev;
    }

    void createdAsDefined()
    {
        for (const ControlDef& d : formDefinition()) {
            QWidget* c = child(*w, controlName(d.id));
            QVERIFY2(c && c == w->control(d.id), qPrintable(controlName(d.id)));
            QCOMPARE(w->text(d.id), d.id == Ctl::Label9 ? frmmain::vendorUrl() : d.text);
            QCOMPARE(w->isEnabled(d.id), d.enabled);
            QCOMPARE(w->listCount(d.id), int(d.items.size()));
            for (int i = 0; i < d.items.size(); ++i)
                QCOMPARE(w->listItem(d.id, i), d.items[i]);
            QCOMPARE(w->listIndex(d.id), -1);
            if (d.backColor) QCOMPARE(w->backColor(d.id), *d.backColor);
        }
        // The edge cases of a fresh window, spelled out.
        QCOMPARE(w->text(Ctl::Command1), QStringLiteral("打开串口"));
        QCOMPARE(w->backColor(Ctl::Shape1), kBlack);
        QCOMPARE(w->text(Ctl::Command_OK3), QStringLiteral("采 集"));
        QCOMPARE(w->text(Ctl::Command6), QStringLiteral("记 录"));
        QCOMPARE(w->text(Ctl::Command5), QStringLiteral("OFF"));
        QCOMPARE(w->backColor(Ctl::Label15_0), kWhite);
        QString clock;
        for (const char* part :
             {"Label17(0)", "Label17(3)", "Label17(1)", "Label17(4)", "Label17(2)"})
            clock += child<QLabel>(*w, QLatin1String(part))->text();
        QCOMPARE(clock, QStringLiteral("00:00:00"));
        for (Ctl v : {Ctl::AI_SHOW0, Ctl::AI_SHOW1, Ctl::AI_SHOW2, Ctl::AI_SHOW3, Ctl::AI_SHOW4,
                      Ctl::AI_SHOW5, Ctl::AI_SHOW7, Ctl::Label20})
            QVERIFY(w->text(v).isEmpty());
        for (const char* list : {"Combo3", "Combo4", "Combo5"})
            QVERIFY(!child(*w, QLatin1String(list))->isEnabled());
        for (const char* gap : {"AI_SHOW(6)", "Label18(6)", "Combo_Addr(1)"})
            QVERIFY(!child(*w, QLatin1String(gap)));
        QCOMPARE(w->windowTitle(), QStringLiteral("电子负载 150W") + QString(48, u' '));
        QCOMPARE(w->windowTitle().size(), 57);
        QCOMPARE(w->palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(QUrl(frmmain::vendorUrl()).scheme().startsWith(QLatin1String("http")));
    }

    void staticTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("parent");
        const QList<std::array<const char*, 3>> rows = {
            {"Frame1", " 通讯设置 ", "frmmain"},
            {"Frame3", " 预设值 ", "frmmain"},
            {"Frame2", " 模块地址更改 ", "frmmain"},
            {"Frame7", " 测量值 ", "frmmain"},
            {"Label1", "串口号", "Frame1"},
            {"Label2", "波特率", "Frame1"},
            {"Label3", "校验位", "Frame1"},
            {"Label4", "数据位", "Frame1"},
            {"Label5", "停止位", "Frame1"},
            {"Label12", "Slave ID", "Frame1"},
            {"Label11", "设置电流 (0.01-10A):", "Frame3"},
            {"Label10(0)", "设置低压 (1-99.99V):", "Frame3"},
            {"Label10(1)", "设置功率 (1-150W):", "Frame3"},
            {"Label16", "设置波特率", "Frame3"},
            {"Label6", "模块地址:", "Frame2"},
            {"Label18(2)", "放电电流:", "Frame7"},
            {"Label18(1)", "放电电压:", "Frame7"},
            {"Label18(0)", "放电功率:", "Frame7"},
            {"Label18(7)", "模块温度:", "Frame7"},
            {"Label18(4)", "电池内阻:", "Frame7"},
            {"Label18(5)", "电池容量:", "Frame7"},
            {"Label17(3)", ":", "Frame7"},
            {"Label17(4)", ":", "Frame7"},
            {"Label18(3)", "POWER STA:", "frmmain"},
            {"Label8", "Varnelt", "Picture1(0)"},
            {"Label13(0)", "Send:", "frmmain"},
            {"Label7", "Mess:", "frmmain"},
            {"Label14", "Rece:", "frmmain"},
        };
        for (const auto& r : rows)
            QTest::newRow(r[0]) << QString::fromUtf8(r[0]) << QString::fromUtf8(r[1])
                                << QString::fromUtf8(r[2]);
    }
    void staticTexts()
    {
        QFETCH(QString, name);
        QWidget* c = child(*w, name);
        QVERIFY(c);
        const auto* frame = qobject_cast<QGroupBox*>(c);
        QTEST(frame ? frame->title() : qobject_cast<QLabel*>(c)->text(), "caption");
        QTEST(c->parentWidget()->objectName(), "parent");
    }

    void fonts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qreal>("points");
        QTest::addColumn<bool>("bold");
        const QList<std::tuple<const char*, qreal, bool>> rows = {
            {"Frame1", 12, true},          {"Frame7", 12, true},
            {"Command2", 15, false},       {"Command_OK3", 15, false},
            {"Command4", 12, false},       {"Command1", 9, false},
            {"Combo1", 9, false},          {"Combo_Addr(2)", 9, false},
            {"Text1(0)", 9, false},        {"Text2", 9, false},
            {"AI_SHOW(0)", 14.25, false},  {"Text3", 14.25, false},
            {"Label9", 14.25, false},      {"Label17(0)", 21.75, false},
            {"Label17(3)", 21.75, false},  {"Label20", 21.75, false},
            {"Message_Show", 10.5, false}, {"Label1", 10.5, false},
            {"Label18(3)", 10.5, false},   {"Label8", 10.5, false},
        };
        for (const auto& [name, points, bold] : rows)
            QTest::newRow(name) << QString::fromUtf8(name) << points << bold;
    }
    void fonts()
    {
        QFETCH(QString, name);
        const QFont f = child(*w, name)->font();
        QTEST(f.pointSizeF(), "points");
        QTEST(f.bold(), "bold");
        QCOMPARE(f.families().value(0), QStringLiteral("宋体"));
        for (const char* fallback : {"SimSun", "AR PL UMing CN", "WenQuanYi Micro Hei"})
            QVERIFY(f.families().contains(QLatin1String(fallback)));
        // Some installed face has the Chinese glyphs.
        QVERIFY(QFontMetrics(f).inFont(QChar(u'电')));
    }

    void colours_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("role");
        QTest::addColumn<QColor>("colour");
        const int text = QPalette::WindowText, back = QPalette::Window;
        QTest::newRow("AI_SHOW(0)") << "AI_SHOW(0)" << text << QColor(255, 0, 0);
        QTest::newRow("AI_SHOW(1)") << "AI_SHOW(1)" << text << QColor(0, 255, 0);
        QTest::newRow("AI_SHOW(2)") << "AI_SHOW(2)" << text << QColor(255, 255, 0);
        QTest::newRow("AI_SHOW(7)") << "AI_SHOW(7)" << text << QColor(0, 255, 255);
        QTest::newRow("AI_SHOW(5)") << "AI_SHOW(5)" << text << QColor(0, 255, 255);
        QTest::newRow("AI_SHOW(3)") << "AI_SHOW(3)" << text << QColor(255, 0, 255);
        QTest::newRow("AI_SHOW(4)") << "AI_SHOW(4)" << text << QColor(255, 0, 255);
        QTest::newRow("AI_SHOW(4) back") << "AI_SHOW(4)" << back << QColor(0, 0, 0);
        QTest::newRow("Label17(1)") << "Label17(1)" << text << QColor(0, 255, 255);
        QTest::newRow("Label17(4)") << "Label17(4)" << text << QColor(0, 255, 255);
        QTest::newRow("Label20") << "Label20" << text << QColor(255, 0, 0);
        QTest::newRow("Label9") << "Label9" << text << QColor(128, 128, 255);
        QTest::newRow("Label1") << "Label1" << back << QColor(255, 255, 255);
        QTest::newRow("Label18(3) text") << "Label18(3)" << text << QColor(0, 0, 0);
        QTest::newRow("Text3") << "Text3" << int(QPalette::Text) << QColor(0, 255, 255);
        QTest::newRow("Text5 back") << "Text5" << int(QPalette::Base) << QColor(0, 0, 0);
    }
    void colours()
    {
        QFETCH(QString, name);
        QFETCH(int, role);
        QTEST(child(*w, name)->palette().color(QPalette::ColorRole(role)), "colour");
    }

    void arrangement()
    {
        const auto at = [this](const char* name) {
            QWidget* c = child(*w, QLatin1String(name));
            return QRect(c->mapTo(w, QPoint(0, 0)), c->size());
        };
        // Three frames across the top, the address frame under the presets.
        QCOMPARE(at("Frame1").top(), at("Frame3").top());
        QCOMPARE(at("Frame3").top(), at("Frame7").top());
        QVERIFY(at("Frame1").right() < at("Frame3").left());
        QVERIFY(at("Frame3").right() < at("Frame7").left());
        QVERIFY(at("Frame2").top() > at("Frame3").bottom());
        QVERIFY(at("Frame2").left() == at("Frame3").left());
        // Link, clear data, load switch and picture under the measured values.
        for (const char* c : {"Label9", "Command4", "Command5", "Picture1(0)"}) {
            QVERIFY2(at(c).top() > at("Frame7").bottom(), c);
            QVERIFY2(at(c).left() >= at("Frame7").left(), c);
        }
        QVERIFY(at("Command4").top() > at("Label9").bottom());
        QVERIFY(at("Picture1(0)").top() > at("Command4").bottom());
        QVERIFY(at("Label18(3)").right() < at("Command5").left());
        // Status lines: Send and Mess on one line, Rece below across the window.
        QCOMPARE(at("Text1(0)").top(), at("Message_Show").top());
        QVERIFY(at("Text1(0)").right() < at("Label7").left());
        QVERIFY(at("Text2").top() > at("Text1(0)").bottom());
        QVERIFY(at("Text2").width() > w->width() * 9 / 10);
        for (const char* c : {"Frame1", "Frame2", "Picture1(0)"})
            QVERIFY2(at("Text1(0)").top() > at(c).bottom(), c);
        // In each frame the caption stands left of its field, rows top to bottom.
        const QList<QStringList> rows = {
            {"Label1", "Combo1", "Label2", "Combo2", "Label3", "Combo3", "Label4", "Combo4",
             "Label5", "Combo5", "Label12", "Combo_Addr(2)"},
            {"Label11", "Text3", "Label10(0)", "Text4", "Label10(1)", "Text5", "Label16", "Combo6"},
            {"Label18(2)", "AI_SHOW(0)", "Label18(1)", "AI_SHOW(1)", "Label18(0)", "AI_SHOW(2)",
             "Label18(7)", "AI_SHOW(7)"},
            {"Label18(4)", "AI_SHOW(5)", "Label18(5)", "AI_SHOW(3)"}};
        for (const QStringList& frame : rows) {
            for (int i = 0; i < frame.size(); i += 2) {
                const QRect label = at(qPrintable(frame[i])), field = at(qPrintable(frame[i + 1]));
                QVERIFY2(label.right() < field.left(), qPrintable(frame[i]));
                QVERIFY2(label.center().y() > field.top() && label.center().y() < field.bottom(),
                         qPrintable(frame[i]));
                if (i > 0) QVERIFY(field.top() > at(qPrintable(frame[i - 1])).bottom());
            }
        }
        QVERIFY(at("AI_SHOW(4)").top() > at("AI_SHOW(3)").bottom());
        QVERIFY(at("Command6").top() > at("AI_SHOW(4)").bottom());
        QVERIFY(at("Shape1").right() < at("Command1").left());
        // The clock along the bottom of Frame7, Label20 right of it.
        QStringList clock = {"Label17(0)", "Label17(3)", "Label17(1)",
                             "Label17(4)", "Label17(2)", "Label20"};
        for (int i = 1; i < clock.size(); ++i)
            QVERIFY(at(qPrintable(clock[i - 1])).right() < at(qPrintable(clock[i])).left());
        QVERIFY(at("Label17(0)").top() > at("AI_SHOW(7)").bottom());
        QVERIFY(at("Command_OK3").top() > at("Command6").bottom());
    }

    void rimAroundTheLoadSwitch()
    {
        showWindow();
        QWidget* button = child(*w, "Command5");
        QWidget* rim = child(*w, "Label15(0)");
        QCOMPARE(rim->parentWidget(), button->parentWidget());
        const QRect b = button->geometry(), r = rim->geometry();
        QVERIFY(r.left() < b.left() && r.top() < b.top());
        QVERIFY(r.right() > b.right() && r.bottom() > b.bottom());
        QCOMPARE(w->childAt(b.center()), button); // the button lies on top
        w->setBackColor(Ctl::Label15_0, kGreen);
        const QImage shot = w->grab().toImage();
        QCOMPARE(shot.pixelColor(r.left() + 1, r.center().y()), QColor(0, 255, 0));
        QCOMPARE(shot.pixelColor(b.center().x(), r.top() + 1), QColor(0, 255, 0));
    }

    void tabOrder()
    {
        showWindow();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        const QStringList order = {"Command_OK1", "Combo_Addr(0)", "Command1",    "Combo2",
                                   "Combo1",      "Text1(0)",      "Text2",       "Message_Show",
                                   "Command2",    "Combo_Addr(2)", "Command_OK3", "Text3",
                                   "Text4",       "Command3",      "Command5",    "Combo6",
                                   "Text5",       "Command4",      "Command6",    "Command_OK1"};
        QStringList walked;
        for (int i = 0; i < order.size(); ++i) {
            QWidget* f = QApplication::focusWidget();
            QVERIFY(f);
            // A combo box's edit field has the focus on the box's behalf.
            if (qobject_cast<QComboBox*>(f->parentWidget())) f = f->parentWidget();
            walked << f->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(walked, order);
    }

    void captionsAreBuddies_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("field");
        for (auto [label, field] : {std::pair{"Label1", "Combo1"},
                                    {"Label2", "Combo2"},
                                    {"Label3", "Combo3"},
                                    {"Label4", "Combo4"},
                                    {"Label5", "Combo5"},
                                    {"Label12", "Combo_Addr(2)"},
                                    {"Label11", "Text3"},
                                    {"Label10(0)", "Text4"},
                                    {"Label10(1)", "Text5"},
                                    {"Label16", "Combo6"},
                                    {"Label6", "Combo_Addr(0)"},
                                    {"Label13(0)", "Text1(0)"},
                                    {"Label7", "Message_Show"},
                                    {"Label14", "Text2"}})
            QTest::newRow(label) << QString::fromUtf8(label) << QString::fromUtf8(field);
    }
    void captionsAreBuddies()
    {
        QFETCH(QString, label);
        QFETCH(QString, field);
        QCOMPARE(child<QLabel>(*w, label)->buddy(), child(*w, field));
    }

    void presetFieldIsAnnouncedByItsCaption()
    {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w->control(Ctl::Text3));
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("设置电流 (0.01-10A):"));
    }

    void timers_data()
    {
        QTest::addColumn<int>("timer");
        QTest::addColumn<int>("interval");
        QTest::newRow("Timer1") << int(Timer::Timer1) << 160;
        QTest::newRow("Timer2") << int(Timer::Timer2) << 500;
        QTest::newRow("Timer3") << int(Timer::Timer3) << 1000;
    }
    void timers()
    {
        QFETCH(int, timer);
        const auto t = Timer(timer);
        QTimer* qt = child<QTimer>(*w, timerName(t));
        QVERIFY(qt && qt == w->timer(t));
        QTEST(qt->interval(), "interval");
        QCOMPARE(qt->timerType(), Qt::PreciseTimer);
        QVERIFY(!qt->isSingleShot());
        QVERIFY(!w->isTimerEnabled(t));
        w->setTimerEnabled(t, true);
        QVERIFY(w->isTimerEnabled(t));
        QTRY_VERIFY_WITH_TIMEOUT(ev->calls.count(timerName(t) + QStringLiteral("_Timer")) >= 2,
                                 10000);
        w->setTimerEnabled(t, false);
        QVERIFY(!qt->isActive());
    }

    void buttonsRaiseTheirHandler_data()
    {
        QTest::addColumn<QString>("button");
        for (const char* b : {"Command1", "Command2", "Command3", "Command4", "Command5",
                              "Command6", "Command_OK1", "Command_OK3"})
            QTest::newRow(b) << QString::fromLatin1(b);
    }
    void buttonsRaiseTheirHandler()
    {
        showWindow();
        QFETCH(QString, button);
        QTest::mouseClick(child(*w, button), Qt::LeftButton);
        QCOMPARE(ev->calls, QStringList{button + QStringLiteral("_Click")});
        w->setEnabled(Ctl::Command6, false); // as while recording
        QTest::mouseClick(child(*w, QStringLiteral("Command6")), Qt::LeftButton);
        QCOMPARE(ev->calls.size(), 1);
    }

    void onlyTheOperatorsPickIsAClick_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QStringList>("raised");
        QTest::newRow("Combo1") << "Combo1" << QStringList{"Combo1_Click"};
        QTest::newRow("Combo2") << "Combo2" << QStringList{"Combo2_Click"};
        QTest::newRow("Combo6") << "Combo6" << QStringList{"Combo6_Click"};
        QTest::newRow("Combo_Addr(2)") << "Combo_Addr(2)" << QStringList{};
    }
    void onlyTheOperatorsPickIsAClick()
    {
        showWindow();
        QFETCH(QString, list);
        auto* box = child<QComboBox>(*w, list);
        const Ctl c = std::find_if(formDefinition().begin(), formDefinition().end(),
                                   [&](const ControlDef& d) { return controlName(d.id) == list; })
                          ->id;
        // The program's changes raise nothing.
        w->addItem(c, QStringLiteral("x1"));
        w->addItem(c, QStringLiteral("x2"));
        w->setListIndex(c, 1);
        w->setText(c, QStringLiteral("typed"));
        QVERIFY(ev->calls.isEmpty());
        // Typing an entry's text and pressing Return is no pick either.
        w->setListIndex(c, 0);
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), box->itemText(1));
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QVERIFY(ev->calls.isEmpty());
        QCOMPARE(w->listIndex(c), -1);
        // The wheel does not pick.
        QWheelEvent wheel(QPointF(5, 5), box->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(box, &wheel);
        QCOMPARE(w->text(c), box->itemText(1));
        QVERIFY(ev->calls.isEmpty());
        // An arrow key in the list is the operator's pick.
        w->setListIndex(c, 0);
        QCOMPARE(w->text(c), box->itemText(0)); // over the text typed into entry 0
        QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(w->listIndex(c), 1);
        QTEST(ev->calls, "raised");
    }

    void listsBehaveAsTheMemoryPanel()
    {
        // The same steps on the window and on the in-memory panel the handler
        // tests use end in the same text and list position every time.
        test::MemoryPanel memory;
        const std::vector<std::function<void(Panel&)>> steps = {
            [](Panel& p) { p.setText(Ctl::Combo1, QStringLiteral("COM3")); },
            [](Panel& p) { p.setListIndex(Ctl::Combo1, 2); },
            [](Panel& p) { p.setText(Ctl::Combo1, QStringLiteral("COM0")); },
            [](Panel& p) { p.setText(Ctl::Combo1, QStringLiteral("COM3")); },
            [](Panel& p) { p.setListIndex(Ctl::Combo1, 4); },
            [](Panel& p) { p.setText(Ctl::Combo1, QStringLiteral("COM5")); },
            [](Panel& p) { p.setListIndex(Ctl::Combo1, -1); },
            [](Panel& p) { p.setListIndex(Ctl::Combo1, 9); },
            [](Panel& p) { p.addItem(Ctl::Combo_Addr2, QStringLiteral("1")); },
            [](Panel& p) { p.addItem(Ctl::Combo_Addr2, QStringLiteral("2")); },
            [](Panel& p) { p.setText(Ctl::Combo_Addr2, QStringLiteral("1")); },
            [](Panel& p) { p.setListIndex(Ctl::Combo_Addr2, 1); },
        };
        for (std::size_t i = 0; i < steps.size(); ++i) {
            steps[i](*w);
            steps[i](memory);
            for (Ctl c : {Ctl::Combo1, Ctl::Combo_Addr2}) {
                QVERIFY2(w->text(c) == memory.text(c), qPrintable(QString::number(i)));
                QVERIFY2(w->listIndex(c) == memory.listIndex(c), qPrintable(QString::number(i)));
                QCOMPARE(w->listCount(c), memory.listCount(c));
            }
        }
    }

    void presetFieldTyping_data()
    {
        QTest::addColumn<QString>("preset"); // set by the program first
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("filtered"); // characters that went through KeyPress
        QTest::newRow("1.5") << ""
                             << "1.5"
                             << "1.5" << 3;
        QTest::newRow("-2") << ""
                            << "-2"
                            << "2" << 2;
        QTest::newRow("/") << ""
                           << "/"
                           << "" << 1;
        QTest::newRow("Backspace swallowed") << ""
                                             << "12⌫"
                                             << "12" << 3;
        QTest::newRow("Delete passes unfiltered") << "123"
                                                  << "⇤⌦"
                                                  << "23" << 0;
        QTest::newRow("Ctrl+V swallowed") << ""
                                          << "⎘"
                                          << "" << 1;
        QTest::newRow("sixth refused") << ""
                                       << "123456"
                                       << "12345" << 6;
        QTest::newRow("program text not cut") << "100.00"
                                              << "1"
                                              << "100.00" << 1;
        QTest::newRow("shortened, then limited") << "100.00"
                                                 << "⇤⌦5"
                                                 << "00.00" << 1;
    }
    void presetFieldTyping()
    {
        QFETCH(QString, preset);
        QFETCH(QString, keys);
        QApplication::clipboard()->setText(QStringLiteral("42"));
        for (Ctl field : {Ctl::Text3, Ctl::Text4, Ctl::Text5}) {
            ev->calls.clear();
            w->setMaxLength(field, 5);
            w->setText(field, preset);
            QCOMPARE(w->text(field), preset);
            typeInto(qobject_cast<QLineEdit*>(w->control(field)), keys);
            QTEST(w->text(field), "result");
            const QString handler = controlName(field) + QStringLiteral("_KeyPress");
            QTEST(int(ev->calls.count(handler)), "filtered");
            QCOMPARE(ev->calls.size(), ev->calls.count(handler));
        }
    }

    void replacedCharacterIsTyped()
    {
        ev->keyRule = [](int& key) {
            if (key == ',') key = '.';
        };
        typeInto(qobject_cast<QLineEdit*>(w->control(Ctl::Text4)), QStringLiteral("1,5"));
        QCOMPARE(w->text(Ctl::Text4), QStringLiteral("1.5"));
    }

    void pasteKeepsTheLimit()
    {
        auto* box = qobject_cast<QLineEdit*>(w->control(Ctl::Text5));
        w->setMaxLength(Ctl::Text5, 5);
        QApplication::clipboard()->setText(QStringLiteral("123456"));
        box->paste();
        QCOMPARE(box->text(), QString());
        QApplication::clipboard()->setText(QStringLiteral("12"));
        box->paste();
        QCOMPARE(box->text(), QStringLiteral("12"));
        w->setMaxLength(Ctl::Text5, 0); // no limit
        QApplication::clipboard()->setText(QStringLiteral("34567"));
        box->paste();
        QCOMPARE(box->text(), QStringLiteral("1234567"));
    }

    void clickIntoPresetField()
    {
        showWindow();
        for (const char* field : {"Text3", "Text4", "Text5"})
            QTest::mouseClick(child(*w, QLatin1String(field)), Qt::LeftButton);
        QCOMPARE(ev->calls, (QStringList{"Text3_Click", "Text4_Click", "Text5_Click"}));
    }

    void valueLabelClickChangesNothing()
    {
        showWindow();
        const QStringList before = panelSnapshot(*w);
        for (const char* v : {"AI_SHOW(0)", "AI_SHOW(1)", "AI_SHOW(2)", "AI_SHOW(3)", "AI_SHOW(4)",
                              "AI_SHOW(5)", "AI_SHOW(7)"})
            QTest::mouseClick(child(*w, QLatin1String(v)), Qt::LeftButton);
        QCOMPARE(panelSnapshot(*w), before);
        QVERIFY(ev->calls.isEmpty());
    }

    void linkOpensTheVendorsPage()
    {
        showWindow();
        QList<QUrl> opened;
        w->setUrlOpener([&](const QUrl& url) { opened << url; });
        QTest::mouseClick(child(*w, "Label9"), Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>{QUrl(frmmain::vendorUrl())});
    }

    void messageBoxHasTheTitleAndOneButton()
    {
        BoxWatcher watch;
        w->showMessage(QStringLiteral("其它错误"), QStringLiteral("/dev/ttyUSB0: 权限不够"));
        QCOMPARE(watch.titles, QStringList{QStringLiteral("电子负载 150W")});
        QCOMPARE(watch.texts, QStringList{QStringLiteral("其它错误\n/dev/ttyUSB0: 权限不够")});
        QCOMPARE(watch.buttons, QList<int>{1});
    }

    void boxAskedForWhileOneIsOpenWaits()
    {
        BoxWatcher watch;
        watch.onFirst = [this] {
            w->showMessage(QStringLiteral("A")); // the open one again: dropped
            w->showMessage(QStringLiteral("B"));
            w->showMessage(QStringLiteral("B")); // already waiting: dropped
        };
        w->showMessage(QStringLiteral("A"));
        QCOMPARE(watch.texts, (QStringList{"A", "B"}));
    }

    void boxQueueOrder()
    {
        QStringList shown;
        BoxQueue* queue = nullptr;
        BoxQueue q([&](const Box& b) {
            shown << b.text + b.detail;
            if (b == Box{"1", ""}) {
                queue->request({"2", ""});
                queue->request({"1", "x"}); // differs by its detail: a box of its own
                queue->request({"3", ""});
                queue->request({"2", ""});
            }
        });
        queue = &q;
        q.request({"1", ""});
        QVERIFY(!q.isShowing());
        q.request({"1", ""}); // nothing open any more: shown again
        QCOMPARE(shown, (QStringList{"1", "2", "1x", "3", "1", "2", "1x", "3"}));
    }

    void everyCloseRequestRaisesQueryUnloadOnce()
    {
        for (int round = 1; round <= 2; ++round) {
            showWindow();
            QVERIFY(w->close());
            QVERIFY(!w->isVisible());
            QCOMPARE(ev->calls.count(QStringLiteral("Form_QueryUnload")), round);
        }
    }

    void realFormLoadsAndSavesThroughTheWindow()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("com.txt"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("3\r\n14400\r\n");
        f.close();
        test::FakeSerialDevice port;
        test::FakeClock clock;
        FormOptions options;
        options.settingsPath = path;
        options.appFolder = dir.path();
        Form form(*w, port, clock, options);
        w->setEvents(&form);
        form.Form_Load();
        QCOMPARE(w->text(Ctl::Combo1), QStringLiteral("COM3"));
        QCOMPARE(w->listIndex(Ctl::Combo1), 2);
        QCOMPARE(w->text(Ctl::Combo2), QStringLiteral("14400"));
        QCOMPARE(w->text(Ctl::Combo6), QStringLiteral("9600"));
        QCOMPARE(w->listCount(Ctl::Combo_Addr0), 254);
        QCOMPARE(w->listCount(Ctl::Combo_Addr2), 255);
        QCOMPARE(w->text(Ctl::Combo_Addr2), QStringLiteral("1"));
        QCOMPARE(form.state().AppFolder, dir.path());
        QCOMPARE(form.state().SelectedPort, std::int16_t(3)); // through Combo1_Click
        showWindow();
        typeInto(qobject_cast<QLineEdit*>(w->control(Ctl::Text3)), QStringLiteral("-2.5x75"));
        QCOMPARE(w->text(Ctl::Text3), QStringLiteral("2.575"));
        QTest::keyClick(child(*w, "Combo1"), Qt::Key_Down); // COM4
        QVERIFY(w->close());
        w->setEvents(ev);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("4\r\n14400\r\n"));
    }
};

QTEST_MAIN(FrmmainTest)
#include "test_frmmain.moc"
