// The real window, offscreen: what it shows when created, how its controls
// raise the handlers, and the Panel over its widgets.

#include "app/Form.h"
#include "support/Fakes.h"
#include "support/MemoryPanel.h"
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

using namespace eload;

namespace {

// Records the handlers raised. KeyPress applies the preset fields' filter
// (only the point and the digits pass) unless a test sets another rule.
class RecordingEvents final : public FormEvents {
public:
    QStringList calls;
    std::function<void(int&)> keyRule = [](int& k) {
        if (k < 46 || k > 57 || k == 47) k = 0;
    };
#define RECORD(h)                                                                                  \
    void h() override { calls << QStringLiteral(#h); }
#define RECORD_KEY(h)                                                                              \
    void h(int& k) override                                                                        \
    {                                                                                              \
        calls << QStringLiteral(#h);                                                               \
        keyRule(k);                                                                                \
    }
    // clang-format off
#define CLICKS(X)                                                                                  \
    X(Form_Load) X(Form_QueryUnload) X(Combo1_Click) X(Combo2_Click) X(Command1_Click)             \
    X(Timer1_Timer) X(Text3_Click) X(Text4_Click) X(Text5_Click) X(Command2_Click)                 \
    X(Combo6_Click) X(Command3_Click) X(Command4_Click) X(Command5_Click) X(Command_OK1_Click)     \
    X(Command_OK3_Click) X(Timer2_Timer) X(Timer3_Timer) X(Command6_Click)
    // clang-format on
    CLICKS(RECORD)
    RECORD_KEY(Text3_KeyPress)
    RECORD_KEY(Text4_KeyPress)
    RECORD_KEY(Text5_KeyPress)
};

QWidget* child(const QWidget& w, const QString& name) { return w.findChild<QWidget*>(name); }
QString caption(const QWidget& w, const QString& name)
{
    QWidget* c = child(w, name);
    if (auto* f = qobject_cast<QGroupBox*>(c)) return f->title();
    return c ? qobject_cast<QLabel*>(c)->text() : QStringLiteral("<none>");
}

Ctl ctlNamed(const QString& name)
{
    for (const ControlDef& d : formDefinition())
        if (controlName(d.id) == name) return d.id;
    qFatal("no control %s", qPrintable(name));
}

// Everything the Panel can read, to see that something changed nothing.
QStringList panelSnapshot(const Panel& p)
{
    QStringList s;
    for (const ControlDef& d : formDefinition())
        s << p.text(d.id) << QString::number(p.isEnabled(d.id))
          << QString::number(p.listIndex(d.id)) << QString::number(p.backColor(d.id).g);
    for (Timer t : {Timer::Timer1, Timer::Timer2, Timer::Timer3})
        s << QString::number(p.isTimerEnabled(t));
    return s;
}

// Reads and dismisses every modal box as it appears; `onFirst` runs while
// the first one is open.
struct BoxWatcher : QObject {
    QStringList seen; // title | text | number of buttons
    std::function<void()> onFirst;
    QTimer timer;
    BoxWatcher()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            seen << box->windowTitle() + u'|' + box->text() + u'|' +
                        QString::number(box->buttons().size());
            if (seen.size() == 1 && onFirst) onFirst();
            box->button(QMessageBox::Ok)->click();
        });
        timer.start(20);
    }
};

// ⌫ Backspace, ⌦ Delete, ⇤ Home, ⎘ Ctrl+V (character 22); the rest as typed.
void typeInto(QWidget* box, const QString& keys)
{
    for (QChar k : keys) {
        if (k == u'⌫')
            QTest::keyClick(box, Qt::Key_Backspace);
        else if (k == u'⌦')
            QTest::keyClick(box, Qt::Key_Delete);
        else if (k == u'⇤')
            QTest::keyClick(box, Qt::Key_Home);
        else if (k == u'⎘') {
            QKeyEvent paste(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier,
                            QStringLiteral("\x16"));
            QApplication::sendEvent(box, &paste);
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
    QRect at(const QString& name) const
    {
        QWidget* c = child(*w, name);
        return QRect(c->mapTo(w, QPoint(0, 0)), c->size());
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
            QVERIFY2(child(*w, controlName(d.id)) == w->control(d.id),
                     qPrintable(controlName(d.id)));
            QCOMPARE(w->text(d.id), d.id == Ctl::Label9 ? frmmain::vendorUrl() : d.text);
            QCOMPARE(w->isEnabled(d.id), d.enabled);
            QCOMPARE(w->listCount(d.id), int(d.items.size()));
            for (int i = 0; i < d.items.size(); ++i)
                QCOMPARE(w->listItem(d.id, i), d.items[i]);
            QCOMPARE(w->listIndex(d.id), -1);
            if (d.backColor) QCOMPARE(w->backColor(d.id), *d.backColor);
        }
        // A fresh window, spelled out: port closed, idle, load off, 00:00:00.
        QCOMPARE(w->text(Ctl::Command1), QStringLiteral("打开串口"));
        QCOMPARE(w->backColor(Ctl::Shape1), kBlack);
        QCOMPARE(w->text(Ctl::Command_OK3) + w->text(Ctl::Command6) + w->text(Ctl::Command5),
                 QStringLiteral("采 集记 录OFF"));
        QCOMPARE(w->backColor(Ctl::Label15_0), kWhite);
        QString clock;
        for (const char* part :
             {"Label17(0)", "Label17(3)", "Label17(1)", "Label17(4)", "Label17(2)"})
            clock += caption(*w, QLatin1String(part));
        QCOMPARE(clock, QStringLiteral("00:00:00"));
        for (const char* gap : {"AI_SHOW(6)", "Label18(6)", "Combo_Addr(1)"})
            QVERIFY(!child(*w, QLatin1String(gap)));
        QCOMPARE(w->windowTitle(), QStringLiteral("电子负载 150W") + QString(48, u' '));
        QCOMPARE(w->palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(QUrl(frmmain::vendorUrl()).scheme().startsWith(QLatin1String("http")));
    }

    void staticTexts()
    {
        // name|caption|parent
        const QStringList rows =
            QStringLiteral(
                "Frame1| 通讯设置 |frmmain;Frame3| 预设值 |frmmain;Frame2| 模块地址更改 |frmmain;"
                "Frame7| 测量值 |frmmain;Label1|串口号|Frame1;Label2|波特率|Frame1;"
                "Label3|校验位|Frame1;Label4|数据位|Frame1;Label5|停止位|Frame1;"
                "Label12|Slave ID|Frame1;Label11|设置电流 (0.01-10A):|Frame3;"
                "Label10(0)|设置低压 (1-99.99V):|Frame3;Label10(1)|设置功率 (1-150W):|Frame3;"
                "Label16|设置波特率|Frame3;Label6|模块地址:|Frame2;Label18(2)|放电电流:|Frame7;"
                "Label18(1)|放电电压:|Frame7;Label18(0)|放电功率:|Frame7;Label18(7)|模块温度:|"
                "Frame7;"
                "Label18(4)|电池内阻:|Frame7;Label18(5)|电池容量:|Frame7;"
                "Label18(3)|POWER STA:|frmmain;Label8|Varnelt|Picture1(0);"
                "Label13(0)|Send:|frmmain;Label7|Mess:|frmmain;Label14|Rece:|frmmain")
                .split(u';');
        for (const QString& row : rows) {
            const QStringList r = row.split(u'|');
            QCOMPARE(caption(*w, r[0]), r[1]);
            QCOMPARE(child(*w, r[0])->parentWidget()->objectName(), r[2]);
        }
    }

    void fontsAndColours()
    {
        // name points bold text colour (- the default black)
        const QStringList rows =
            QStringLiteral(
                "Frame1 12 1 -;Command2 15 0 -;Command4 12 0 -;Command1 9 0 -;Combo1 9 0 -;"
                "Text2 9 0 -;Message_Show 10.5 0 -;Label1 10.5 0 #000000;Label8 10.5 0 -;"
                "AI_SHOW(0) 14.25 0 #ff0000;AI_SHOW(1) 14.25 0 #00ff00;AI_SHOW(2) 14.25 0 #ffff00;"
                "AI_SHOW(3) 14.25 0 #ff00ff;AI_SHOW(4) 14.25 0 #ff00ff;AI_SHOW(5) 14.25 0 #00ffff;"
                "AI_SHOW(7) 14.25 0 #00ffff;Label9 14.25 0 #8080ff;Label17(0) 21.75 0 #00ffff;"
                "Label17(4) 21.75 0 #00ffff;Label20 21.75 0 #ff0000;Text3 14.25 0 -")
                .split(u';');
        for (const QString& row : rows) {
            const QStringList r = row.split(u' ');
            const QWidget* c = child(*w, r[0]);
            QCOMPARE(c->font().pointSizeF(), r[1].toDouble());
            QCOMPARE(c->font().bold(), r[2] == QLatin1String("1"));
            QCOMPARE(c->font().families(),
                     (QStringList{"宋体", "SimSun", "AR PL UMing CN", "WenQuanYi Micro Hei"}));
            QVERIFY(QFontMetrics(c->font()).inFont(QChar(u'电'))); // an installed face has it
            if (r[3] != u'-') QCOMPARE(c->palette().color(QPalette::WindowText), QColor(r[3]));
        }
        const QPalette preset = w->control(Ctl::Text4)->palette();
        QVERIFY(preset.color(QPalette::Base) == Qt::black &&
                preset.color(QPalette::Text) == QColor(0, 255, 255));
    }

    void rimAroundTheLoadSwitch()
    {
        showWindow();
        const QRect b = at("Command5"), r = at("Label15(0)");
        QVERIFY(r.left() < b.left() && r.top() < b.top() && r.right() > b.right() &&
                r.bottom() > b.bottom());
        QCOMPARE(w->childAt(b.center()), w->control(Ctl::Command5)); // on top of the rim
        w->setBackColor(Ctl::Label15_0, kGreen);
        const QImage shot = w->grab().toImage();
        QCOMPARE(shot.pixelColor(r.left() + 1, r.center().y()), QColor(0, 255, 0));
        QCOMPARE(shot.pixelColor(b.center().x(), r.bottom() - 1), QColor(0, 255, 0));
    }

    void tabOrderAndBuddies()
    {
        showWindow();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        const QStringList order = QStringLiteral("Command_OK1 Combo_Addr(0) Command1 Combo2 Combo1 "
                                                 "Text1(0) Text2 Message_Show Command2 "
                                                 "Combo_Addr(2) Command_OK3 Text3 Text4 Command3 "
                                                 "Command5 Combo6 Text5 Command4 Command6 "
                                                 "Command_OK1")
                                      .split(u' ');
        QStringList walked;
        for (int i = 0; i < order.size(); ++i) {
            QWidget* f = QApplication::focusWidget();
            QVERIFY(f);
            // A combo box's edit field has the focus on the box's behalf.
            walked << (qobject_cast<QComboBox*>(f->parentWidget()) ? f->parentWidget() : f)
                          ->objectName();
            QTest::keyClick(f, Qt::Key_Tab);
        }
        QCOMPARE(walked, order);

        const QStringList buddies =
            QStringLiteral(
                "Label1 Combo1;Label2 Combo2;Label3 Combo3;Label4 Combo4;Label5 Combo5;"
                "Label12 Combo_Addr(2);Label11 Text3;Label10(0) Text4;Label10(1) Text5;Label16 "
                "Combo6;"
                "Label6 Combo_Addr(0);Label13(0) Text1(0);Label7 Message_Show;Label14 Text2")
                .split(u';');
        for (const QString& pair : buddies)
            QCOMPARE(qobject_cast<QLabel*>(child(*w, pair.section(u' ', 0, 0)))->buddy(),
                     child(*w, pair.section(u' ', 1)));
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w->control(Ctl::Text3));
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("设置电流 (0.01-10A):"));
    }

    void timers()
    {
        for (auto [t, interval] :
             {std::pair{Timer::Timer1, 160}, {Timer::Timer2, 500}, {Timer::Timer3, 1000}}) {
            QTimer* qt = w->findChild<QTimer*>(timerName(t));
            QVERIFY(qt && qt == w->timer(t));
            QCOMPARE(qt->interval(), interval);
            QCOMPARE(qt->timerType(), Qt::PreciseTimer);
            QVERIFY(!qt->isSingleShot() && !w->isTimerEnabled(t));
            w->setTimerEnabled(t, true);
            QTRY_VERIFY_WITH_TIMEOUT(ev->calls.count(timerName(t) + QStringLiteral("_Timer")) >= 2,
                                     10000);
            w->setTimerEnabled(t, false);
            QVERIFY(!qt->isActive());
        }
    }

    void clicksRaiseTheirHandler()
    {
        showWindow();
        for (const char* c :
             {"Command1", "Command2", "Command3", "Command4", "Command5", "Command6", "Command_OK1",
              "Command_OK3", "Text3", "Text4", "Text5"}) {
            ev->calls.clear();
            QTest::mouseClick(child(*w, QLatin1String(c)), Qt::LeftButton);
            QCOMPARE(ev->calls, QStringList{QLatin1String(c) + QStringLiteral("_Click")});
        }
        ev->calls.clear();
        w->setEnabled(Ctl::Command6, false); // as while recording
        QTest::mouseClick(w->control(Ctl::Command6), Qt::LeftButton);
        // Value labels do nothing; the link opens the vendor's page.
        const QStringList before = panelSnapshot(*w);
        for (const char* v : {"AI_SHOW(0)", "AI_SHOW(1)", "AI_SHOW(2)", "AI_SHOW(3)", "AI_SHOW(4)",
                              "AI_SHOW(5)", "AI_SHOW(7)"})
            QTest::mouseClick(child(*w, QLatin1String(v)), Qt::LeftButton);
        QCOMPARE(panelSnapshot(*w), before);
        QVERIFY(ev->calls.isEmpty());
        QList<QUrl> opened;
        w->setUrlOpener([&](const QUrl& url) { opened << url; });
        QTest::mouseClick(w->control(Ctl::Label9), Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>{QUrl(frmmain::vendorUrl())});
    }

    void onlyTheOperatorsPickIsAClick()
    {
        showWindow();
        for (const char* list : {"Combo1", "Combo2", "Combo6", "Combo_Addr(2)"}) {
            const Ctl c = ctlNamed(QLatin1String(list));
            auto* box = qobject_cast<QComboBox*>(w->control(c));
            ev->calls.clear();
            w->addItem(c, QStringLiteral("x1"));
            w->addItem(c, QStringLiteral("x2"));
            // Typing an entry's text and pressing Return is no pick,
            w->setListIndex(c, 0);
            box->lineEdit()->selectAll();
            QTest::keyClicks(box->lineEdit(), box->itemText(1));
            QTest::keyClick(box->lineEdit(), Qt::Key_Return);
            QCOMPARE(w->listIndex(c), -1);
            // nor is the wheel.
            QWheelEvent wheel(QPointF(5, 5), box->mapToGlobal(QPointF(5, 5)), QPoint(),
                              QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(box, &wheel);
            QCOMPARE(w->text(c), box->itemText(1));
            QVERIFY(ev->calls.isEmpty());
            // An arrow key in the list is the operator's pick.
            w->setListIndex(c, 0);
            QCOMPARE(w->text(c), box->itemText(0)); // over the text typed into entry 0
            QTest::keyClick(box, Qt::Key_Down);
            QCOMPARE(w->listIndex(c), 1);
            const QString handler = QLatin1String(list) + QStringLiteral("_Click");
            QCOMPARE(ev->calls, c == Ctl::Combo_Addr2 ? QStringList{} : QStringList{handler});
        }
    }

    void listsBehaveAsTheMemoryPanel()
    {
        // The in-memory panel of the handler tests and the window agree, and
        // the program's changes raise no handler.
        test::MemoryPanel memory;
        const std::vector<std::function<void(Panel&)>> steps = {
            [](Panel& p) { p.setText(Ctl::Combo1, QStringLiteral("COM3")); },
            [](Panel& p) { p.setListIndex(Ctl::Combo1, 2); },
            [](Panel& p) { p.setText(Ctl::Combo1, QStringLiteral("COM0")); },
            [](Panel& p) { p.setListIndex(Ctl::Combo1, 4); },
            [](Panel& p) { p.setListIndex(Ctl::Combo1, 9); },
            [](Panel& p) { p.addItem(Ctl::Combo_Addr2, QStringLiteral("1")); },
            [](Panel& p) { p.setText(Ctl::Combo_Addr2, QStringLiteral("1")); },
        };
        for (std::size_t i = 0; i < steps.size(); ++i) {
            steps[i](*w);
            steps[i](memory);
            for (Ctl c : {Ctl::Combo1, Ctl::Combo_Addr2})
                QVERIFY2(w->text(c) == memory.text(c) && w->listIndex(c) == memory.listIndex(c) &&
                             w->listCount(c) == memory.listCount(c),
                         qPrintable(QString::number(i)));
        }
        QVERIFY(ev->calls.isEmpty());
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
            typeInto(w->control(field), keys);
            QTEST(w->text(field), "result");
            QTEST(int(ev->calls.count(controlName(field) + QStringLiteral("_KeyPress"))),
                  "filtered");
        }
    }

    void replacedCharacterIsTypedAndPasteKeepsTheLimit()
    {
        ev->keyRule = [](int& k) {
            if (k == ',') k = '.';
        };
        typeInto(w->control(Ctl::Text4), QStringLiteral("1,5"));
        QCOMPARE(w->text(Ctl::Text4), QStringLiteral("1.5"));
        // Pasting goes round the KeyPress handler but not round the limit.
        auto* box = qobject_cast<QLineEdit*>(w->control(Ctl::Text5));
        w->setMaxLength(Ctl::Text5, 5);
        for (auto [clip, result] : {std::pair{"123456", ""}, {"12", "12"}, {"3456", "12"}}) {
            QApplication::clipboard()->setText(QLatin1String(clip));
            box->paste();
            QCOMPARE(box->text(), QLatin1String(result));
        }
    }

    void boxesOneAtATime()
    {
        BoxWatcher watch;
        watch.onFirst = [this] {
            w->showMessage(QStringLiteral("其它错误"),
                           QStringLiteral("/dev/ttyUSB0")); // open: dropped
            w->showMessage(QStringLiteral("B"));
            w->showMessage(QStringLiteral("B")); // already waiting: dropped
        };
        w->showMessage(QStringLiteral("其它错误"), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(watch.seen,
                 (QStringList{"电子负载 150W|其它错误\n/dev/ttyUSB0|1", "电子负载 150W|B|1"}));
        w->showMessage(QStringLiteral("B")); // none open now: shown again
        QCOMPARE(watch.seen.size(), 3);
    }

    void everyCloseRequestRaisesQueryUnloadOnce()
    {
        for (int round = 1; round <= 2; ++round) {
            showWindow();
            QVERIFY(w->close() && !w->isVisible());
            QCOMPARE(ev->calls.count(QStringLiteral("Form_QueryUnload")), round);
        }
    }

    void realFormLoadsAndSavesThroughTheWindow()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("com.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("3\r\n14400\r\n") == 10);
        f.close();
        test::FakeSerialDevice port;
        test::FakeClock clock;
        FormOptions options;
        options.settingsPath = f.fileName();
        options.appFolder = dir.path();
        Form form(*w, port, clock, options);
        w->setEvents(&form);
        form.Form_Load();
        QCOMPARE(w->text(Ctl::Combo1) + w->text(Ctl::Combo2) + w->text(Ctl::Combo6),
                 QStringLiteral("COM3144009600"));
        QCOMPARE(w->listIndex(Ctl::Combo1), 2);
        QCOMPARE(form.state().SelectedPort, std::int16_t(3)); // through Combo1_Click
        QCOMPARE(w->listCount(Ctl::Combo_Addr2), 255);
        showWindow();
        QTest::keyClick(w->control(Ctl::Combo1), Qt::Key_Down); // COM4
        QVERIFY(w->close());
        w->setEvents(ev);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("4\r\n14400\r\n"));
    }
};

QTEST_MAIN(FrmmainTest)
#include "test_frmmain.moc"
