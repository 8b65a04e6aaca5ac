// The real window over the real form and a fake line; com.txt over the in-memory panel.

#include "app/Form.h"
#include "app/QtTranslations.h"
#include "core/Texts.h"
#include "support/Rig.h"
#include "ui/frmmain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cstring>

using namespace eload;

struct Window { // with no com.txt
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("com.txt"));
    test::FakeSerialDevice port;
    test::FakeClock clock;
    frmmain w;
    Form form{w, port, clock, FormOptions{path, dir.path(), dir.path()}};
    Window()
    {
        w.setEvents(&form);
        form.Form_Load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
    }
    ~Window() { w.setEvents(nullptr); }
};

struct StartupRig : test::Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("com.txt"));
    QList<int> clickedAt; // Combo1's list position whenever its click handler ran
    Startup startup{ctx, [this] { clickedAt << panel.listIndex(Ctl::Combo1); }, path, dir.path()};
};

class FrmmainTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theWindow()
    {
        Window p;
        frmmain& w = p.w;
        const QImage before = w.grab().toImage();
        for (Ctl v : {Ctl::AI_SHOW0, Ctl::AI_SHOW1, Ctl::AI_SHOW2, Ctl::AI_SHOW3, Ctl::AI_SHOW4,
                      Ctl::AI_SHOW5, Ctl::AI_SHOW7})
            QTest::mouseClick(w.control(v), Qt::LeftButton); // changes nothing
        QCOMPARE(w.grab().toImage(), before);
        QVERIFY(p.port.written.isEmpty());
        QStringList seen;
        for (Ctl c : {Ctl::Command1, Ctl::Command_OK3, Ctl::Command6, Ctl::Command5, Ctl::Combo3,
                      Ctl::Combo4, Ctl::Combo5, Ctl::Combo_Addr0, Ctl::Combo_Addr2, Ctl::Label17_0,
                      Ctl::Label17_1, Ctl::Label17_2, Ctl::AI_SHOW0, Ctl::AI_SHOW1, Ctl::AI_SHOW2,
                      Ctl::AI_SHOW3, Ctl::AI_SHOW4, Ctl::AI_SHOW5, Ctl::AI_SHOW7})
            seen << w.text(c) + (w.isEnabled(c) ? "" : " (off)");
        for (Timer t : {Timer::Timer1, Timer::Timer2, Timer::Timer3}) {
            QVERIFY(!w.timer(t)->isActive() && w.timer(t)->timerType() == Qt::PreciseTimer);
            seen << QString::number(w.timer(t)->interval());
        }
        QCOMPARE(seen.join(u'|'),
                 QStringLiteral("打开串口|采 集|记 录|OFF|无校验 (off)|8 (off)|1 (off)|1|1|00|00|00"
                                "||||||||160|500|1000"));
        QVERIFY(w.backColor(Ctl::Label15_0) == kWhite && w.backColor(Ctl::Shape1) == kBlack);
        QCOMPARE(w.windowTitle(), QStringLiteral("电子负载 150W") + QString(48, u' '));
        QCOMPARE(w.listCount(Ctl::Combo_Addr0), 254);
        QCOMPARE(w.listCount(Ctl::Combo_Addr2), 255);
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Label11"))->buddy(), w.control(Ctl::Text3));

        w.activateWindow(); // Tab walks the order, through the preset fields' key filter
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QStringList walked; // a list's unnamed edit field has the focus on the list's behalf
        for (QWidget* f; walked.size() < 21 && (f = QApplication::focusWidget());
             QTest::keyClick(f, Qt::Key_Tab))
            walked << (f->objectName().isEmpty() ? f->parentWidget() : f)->objectName();
        // From 打开串口, where the focus starts; the link last.
        QCOMPARE(walked.join(u' '),
                 QStringLiteral("Command1 Combo2 Combo1 Text1(0) Text2 Message_Show Command2 "
                                "Combo_Addr(2) Command_OK3 Text3 Text4 Command3 Command5 Combo6 "
                                "Text5 Command4 Command6 Label9 Command_OK1 Combo_Addr(0) "
                                "Command1"));

        auto* ports = qobject_cast<QComboBox*>(w.control(Ctl::Combo1));
        ports->lineEdit()->selectAll();
        QTest::keyClicks(ports->lineEdit(), QStringLiteral("COM5"));
        QTest::keyClick(ports->lineEdit(), Qt::Key_Return); // typing + Return is no pick
        QWheelEvent wheel(QPointF(5, 5), ports->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(ports, &wheel); // nor is the wheel
        QCOMPARE(w.text(Ctl::Combo1) + QString::number(w.listIndex(Ctl::Combo1)),
                 QStringLiteral("COM5-1"));
        QCOMPARE(p.form.state().SelectedPort, std::int16_t(0));
        QTest::keyClick(ports, Qt::Key_Down); // an arrow key is a pick
        QCOMPARE(p.form.state().SelectedPort, std::int16_t(1));

        for (Ctl c : {Ctl::Text3, Ctl::Text4, Ctl::Text5, Ctl::Combo6, Ctl::Combo2}) {
            w.setText(Ctl::Command_OK3, texts::kStop); // acquiring
            w.setText(Ctl::Command1, texts::kClosePort);
            QTest::mouseClick(w.control(c), Qt::LeftButton); // picks a field
            QTest::keyClick(w.control(c), Qt::Key_Down);     // picks in a list
            QVERIFY2(w.text(Ctl::Command_OK3) == texts::kAcquire, qPrintable(controlName(c)));
        }
        QCOMPARE(w.text(Ctl::Command1), texts::kOpenPort); // the new rate closed the port

        auto* box = qobject_cast<QLineEdit*>(w.control(Ctl::Text3));
        for (auto [clip, text] : {std::pair{"123456", ""}, {"12", "12"}, {"3", "123"}}) {
            QApplication::clipboard()->setText(QLatin1String(clip));
            box->paste(); // round the key filter, not round the 5-character limit
            QCOMPARE(box->text(), QLatin1String(text));
        }
        QKeyEvent ctrlV(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
        QApplication::sendEvent(box, &ctrlV); // a character for the key filter: no paste
        QCOMPARE(box->text(), QStringLiteral("123"));

        QList<QUrl> opened;
        w.setUrlOpener([&](const QUrl& url) { opened << url; });
        QTest::mouseClick(w.control(Ctl::Label9), Qt::LeftButton);
        w.control(Ctl::Label9)->setFocus();
        QTest::keyClick(w.control(Ctl::Label9), Qt::Key_Return); // reached with Tab, opened
        QCOMPARE(opened, (QList<QUrl>{QUrl(frmmain::vendorUrl()), QUrl(frmmain::vendorUrl())}));
        QFile f(p.path); // closing saves the picks
        QVERIFY(w.close() && f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), "1\r\n" + w.text(Ctl::Combo2).toLatin1() + "\r\n");
    }

    // Where the focus starts and where it goes when 记 录 switches itself off:
    // not to 修 改, where a Space gives every module on the line a new address.
    void harmlessFocus()
    {
        Window p;
        frmmain& w = p.w;
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), w.control(Ctl::Command1));
        w.setListIndex(Ctl::Combo1, 0); // COM1, as com.txt would choose it
        p.form.Combo1_Click();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(w.text(Ctl::Command1), texts::kClosePort);
        w.control(Ctl::Command6)->setFocus();
        QTest::keyClick(w.control(Ctl::Command6), Qt::Key_Space); // 记 录
        QCOMPARE(w.text(Ctl::Command6), texts::kRecording);
        QVERIFY(!w.isEnabled(Ctl::Command6));
        QCOMPARE(QApplication::focusWidget(), w.control(Ctl::Command_OK3));
        QVERIFY(p.port.written.isEmpty());                           // no address change went out
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space); // 采 集: harmless
        QCOMPARE(w.text(Ctl::Command_OK3), texts::kStop);
    }

    void boxesOneAtATime()
    {
        const Box a{QStringLiteral("A"), QStringLiteral("x")}, b{QStringLiteral("B"), {}};
        QStringList shown, told;
        BoxQueue boxes(
            [&](const Box& box) {
                if ((shown << box.text).size() == 1)
                    for (const Box& next : {a, b, b}) // the open one and one waiting are dropped
                        boxes.request(next);
            },
            [&](const Box& box) { told << box.text; });
        boxes.request(a);
        QCOMPARE(shown, (QStringList{"A", "B"}));
        boxes.request(b); // none open now: shown again
        QCOMPARE(shown.size(), 3);
        boxes.stopShowing(); // no one left to answer: told instead
        boxes.request(a);
        QCOMPARE(shown.size() + told.size(), 4);
    }

    void settingsFile_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: none; "/": a folder, unreadable, unwritable
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("shown");      // Combo1 and Combo2
        QTest::addColumn<QByteArray>("written"); // by a shutdown without changes
        auto row = [](const char* tag, QByteArray file, int at, const char* shown, QByteArray out) {
            QTest::newRow(tag) << file << at << QString::fromUtf8(shown) << out;
        };
        row("COM3 9600", "3\r\n9600\r\n", 2, "COM3 9600", "3\r\n9600\r\n");
        row("0: no entry", "0\r\n9600\r\n", -1, "COM0 9600", "0\r\n9600\r\n");
        row("typed rate", "9\r\n14400\r\n", 8, "COM9 14400", "9\r\n14400\r\n");
        row("not a number", "abc\r\n9600\r\n", -1, "COMabc 9600", "0\r\n9600\r\n");
        row("missing", QByteArray(), -1, "COM0 9600", "0\r\n9600\r\n");
        row("one line", "3\r\n", -1, "COM0 9600", "0\r\n9600\r\n");
        row("port 10", "10\r\n38400\r\n", -1, "COM0 38400", "0\r\n38400\r\n");
        row("folder: closes anyway", "/", -1, "COM0 9600", QByteArray());
    }
    void settingsFile()
    {
        QFETCH(QByteArray, file);
        StartupRig r;
        if (file == "/") {
            QVERIFY(QDir(r.dir.path()).mkdir(QStringLiteral("com.txt")));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot read .*com.txt"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not saved to .*com.txt"));
        } else if (QFile saved(r.path); !file.isNull())
            QVERIFY(saved.open(QIODevice::WriteOnly) && saved.write(file) == file.size());
        r.startup.Form_Load();
        QTEST(r.panel.text(Ctl::Combo1) + u' ' + r.panel.text(Ctl::Combo2), "shown");
        QTEST(r.panel.listIndex(Ctl::Combo1), "position");
        QCOMPARE(r.clickedAt, QList<int>{r.panel.listIndex(Ctl::Combo1)}); // once, position set
        r.startup.Form_QueryUnload();
        QVERIFY(r.panel.messages.isEmpty());
        QFile f(r.path);
        QTEST(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(), "written");
    }

    // Last: Qt's own texts stay Chinese for the rest of the run. The button
    // reads "确定" and the system's cause is said in Chinese.
    void boxesInChinese()
    {
        QVERIFY2(installChineseQtTexts(*qApp),
                 "Qt's Chinese translations are missing: run scripts/bootstrap");
        frmmain w;
        w.show();
        QStringList buttons;
        QString shown;
        QTimer::singleShot(0, &w, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            shown = box->text();
            box->accept();
        });
        const QString cause = QString::fromLocal8Bit(std::strerror(EACCES));
        w.showMessage(texts::kOpenFailed, QStringLiteral("/dev/ttyUSB0: ") + cause);
        QCOMPARE(buttons, QStringList{QStringLiteral("确定")});
        QCOMPARE(shown, texts::kOpenFailed + QStringLiteral("\n/dev/ttyUSB0: 没有访问权限"));
    }
};

QTEST_MAIN(FrmmainTest)
#include "test_frmmain.moc"
