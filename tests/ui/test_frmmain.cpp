// The real window offscreen over the real form and a fake line: its state
// after start-up and what its widgets add to the handlers; com.txt at start-up
// and shutdown over the in-memory panel.

#include "app/Form.h"
#include "support/Rig.h"
#include "ui/Texts.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace eload;

namespace {

struct Window {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("com.txt"));
    test::FakeSerialDevice port;
    test::FakeClock clock;
    frmmain w;
    Form form{w, port, clock, FormOptions{path, dir.path(), dir.path()}};
    Window()
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("3\r\n9600\r\n") == 9);
        f.close();
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
} // namespace

class FrmmainTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startUpState()
    {
        Window p;
        frmmain& w = p.w;
        const QImage before = w.grab().toImage();
        for (Ctl v : {Ctl::AI_SHOW0, Ctl::AI_SHOW1, Ctl::AI_SHOW2, Ctl::AI_SHOW3, Ctl::AI_SHOW4,
                      Ctl::AI_SHOW5, Ctl::AI_SHOW7})
            QTest::mouseClick(w.control(v), Qt::LeftButton); // changes nothing
        QCOMPARE(w.grab().toImage(), before);
        QVERIFY(p.port.written.isEmpty());
        QStringList texts;
        for (Ctl c : {Ctl::Command1, Ctl::Command_OK3, Ctl::Command6, Ctl::Command5, Ctl::Combo3,
                      Ctl::Combo4, Ctl::Combo5, Ctl::Combo_Addr0, Ctl::Combo_Addr2, Ctl::Label17_0,
                      Ctl::Label17_1, Ctl::Label17_2, Ctl::AI_SHOW0, Ctl::AI_SHOW1, Ctl::AI_SHOW2,
                      Ctl::AI_SHOW3, Ctl::AI_SHOW4, Ctl::AI_SHOW5, Ctl::AI_SHOW7})
            texts << w.text(c);
        QCOMPARE(texts.join(u'|'),
                 QStringLiteral("打开串口|采 集|记 录|OFF|无校验|8|1|1|1|00|00|00|||||||"));
        QVERIFY(w.backColor(Ctl::Label15_0) == kWhite && w.backColor(Ctl::Shape1) == kBlack);
        for (auto [t, ms] :
             {std::pair{Timer::Timer1, 160}, {Timer::Timer2, 500}, {Timer::Timer3, 1000}}) {
            QVERIFY(!w.timer(t)->isActive() && w.timer(t)->timerType() == Qt::PreciseTimer);
            QCOMPARE(w.timer(t)->interval(), ms);
        }
        QVERIFY(!w.isEnabled(Ctl::Combo3) && !w.isEnabled(Ctl::Combo4) &&
                !w.isEnabled(Ctl::Combo5));
        QCOMPARE(w.windowTitle(), QStringLiteral("电子负载 150W") + QString(48, u' '));
        QCOMPARE(w.listCount(Ctl::Combo_Addr0), 254);
        QCOMPARE(w.listCount(Ctl::Combo_Addr2), 255);
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Label11"))->buddy(), w.control(Ctl::Text3));

        // Tab walks the order, through the preset fields' key filter.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const QStringList order = QStringLiteral("Command_OK1 Combo_Addr(0) Command1 Combo2 Combo1 "
                                                 "Text1(0) Text2 Message_Show Command2 "
                                                 "Combo_Addr(2) Command_OK3 Text3 Text4 Command3 "
                                                 "Command5 Combo6 Text5 Command4 Command6 "
                                                 "Command_OK1")
                                      .split(u' ');
        QStringList walked; // a combo box's edit field has the focus on the box's behalf
        for (QWidget* f; walked.size() < order.size() && (f = QApplication::focusWidget());
             QTest::keyClick(f, Qt::Key_Tab))
            walked << (qobject_cast<QComboBox*>(f->parentWidget()) ? f->parentWidget() : f)
                          ->objectName();
        QCOMPARE(walked, order);
    }

    void picksAndClicks()
    {
        Window p;
        frmmain& w = p.w;
        auto* ports = qobject_cast<QComboBox*>(w.control(Ctl::Combo1));
        // Typing an entry's text and Return is no pick, nor is the wheel.
        ports->lineEdit()->selectAll();
        QTest::keyClicks(ports->lineEdit(), QStringLiteral("COM5"));
        QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
        QWheelEvent wheel(QPointF(5, 5), ports->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(ports, &wheel);
        QCOMPARE(w.text(Ctl::Combo1) + QString::number(w.listIndex(Ctl::Combo1)),
                 QStringLiteral("COM5-1"));
        QCOMPARE(p.form.state().SelectedPort, std::int16_t(3));
        // An arrow key is the operator's pick; closing saves it.
        QTest::keyClick(ports, Qt::Key_Down);
        QCOMPARE(p.form.state().SelectedPort, std::int16_t(4));
        QFile f(p.path);
        QVERIFY(w.close() && f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("4\r\n9600\r\n"));

        w.show();
        for (Ctl c : {Ctl::Text3, Ctl::Text4, Ctl::Text5, Ctl::Combo6, Ctl::Combo2}) {
            w.setText(Ctl::Command_OK3, texts::kStop); // acquiring
            w.setText(Ctl::Command1, texts::kClosePort);
            if (qobject_cast<QComboBox*>(w.control(c)))
                QTest::keyClick(w.control(c), Qt::Key_Down);
            else
                QTest::mouseClick(w.control(c), Qt::LeftButton);
            QVERIFY2(w.text(Ctl::Command_OK3) == texts::kAcquire, qPrintable(controlName(c)));
        }
        QCOMPARE(w.text(Ctl::Command1), texts::kOpenPort); // the new rate closed the port
        QList<QUrl> opened;
        w.setUrlOpener([&](const QUrl& url) { opened << url; });
        QTest::mouseClick(w.control(Ctl::Label9), Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>{QUrl(frmmain::vendorUrl())});
    }

    void presetFieldsBeyondTheKeys()
    {
        Window p;
        for (Ctl c : {Ctl::Text3, Ctl::Text4, Ctl::Text5}) {
            auto* box = qobject_cast<QLineEdit*>(p.w.control(c));
            QApplication::clipboard()->setText(QStringLiteral("42"));
            QTest::keyClicks(box, QStringLiteral("-2a"));
            QKeyEvent paste(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier,
                            QStringLiteral("\x16"));
            QApplication::sendEvent(box, &paste); // Ctrl+V is a character: filtered out
            QCOMPARE(box->text(), QStringLiteral("2"));
            // A longer program-set text may be shortened, then not lengthened.
            p.w.setText(c, QStringLiteral("100.00"));
            QTest::keyClick(box, Qt::Key_Home);
            QTest::keyClick(box, Qt::Key_Delete);
            QTest::keyClick(box, '5');
            QCOMPARE(box->text(), QStringLiteral("00.00"));
            // Pasting goes round the filter but not round the limit.
            box->clear();
            for (auto [clip, result] : {std::pair{"123456", ""}, {"12", "12"}, {"3456", "12"}}) {
                QApplication::clipboard()->setText(QLatin1String(clip));
                box->paste();
                QCOMPARE(box->text(), QLatin1String(result));
            }
        }
    }

    void boxesOneAtATime()
    {
        const Box a{QStringLiteral("A"), QStringLiteral("x")}, b{QStringLiteral("B"), {}};
        QStringList shown;
        BoxQueue boxes([&](const Box& box) {
            shown << box.text;
            if (shown.size() > 1) return;
            boxes.request(a); // the open one: dropped
            boxes.request(b); // waits
            boxes.request(b); // already waiting: dropped
        });
        boxes.request(a);
        QCOMPARE(shown, (QStringList{"A", "B"}));
        boxes.request(b); // none open now: shown again
        QCOMPARE(shown.size(), 3);
    }

    void settingsFile_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no file
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QByteArray>("written"); // by a shutdown without changes
        const auto row = [](const char* tag, QByteArray file, const char* port, int position,
                            const char* baud, QByteArray written) {
            QTest::newRow(tag) << file << QString::fromLatin1(port) << position
                               << QString::fromLatin1(baud) << written;
        };
        row("COM3 9600", "3\r\n9600\r\n", "COM3", 2, "9600", "3\r\n9600\r\n");
        row("0: no entry", "0\r\n9600\r\n", "COM0", -1, "9600", "0\r\n9600\r\n");
        row("typed rate", "9\r\n14400\r\n", "COM9", 8, "14400", "9\r\n14400\r\n");
        row("LF ends", "5\n57600\n", "COM5", 4, "57600", "5\r\n57600\r\n");
        row("not a number", "abc\r\n9600\r\n", "COMabc", -1, "9600", "0\r\n9600\r\n");
        // Where the file cannot tell: no port, and 9600 when line 2 is missing.
        row("missing", QByteArray(), "COM0", -1, "9600", "0\r\n9600\r\n");
        row("one line", "3\r\n", "COM0", -1, "9600", "0\r\n9600\r\n");
        row("port 10", "10\r\n38400\r\n", "COM0", -1, "38400", "0\r\n38400\r\n");
    }
    void settingsFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, position);
        StartupRig r;
        QFile f(r.path);
        if (!file.isNull()) QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
        f.close();
        r.startup.Form_Load();
        QTEST(r.panel.text(Ctl::Combo1), "port");
        QCOMPARE(r.panel.listIndex(Ctl::Combo1), position);
        QCOMPARE(r.clickedAt, QList<int>{position}); // once, after the position is set
        QTEST(r.panel.text(Ctl::Combo2), "baud");
        QVERIFY(r.panel.messages.isEmpty());
        r.startup.Form_QueryUnload();
        QVERIFY(f.open(QIODevice::ReadOnly));
        QTEST(f.readAll(), "written");
    }

    void failedWriteDoesNotStopClosing()
    {
        // com.txt is a folder: nothing to read, nothing can be written.
        StartupRig r;
        QVERIFY(QDir(r.dir.path()).mkdir(QStringLiteral("com.txt")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot read .*com.txt"));
        r.startup.Form_Load();
        QCOMPARE(r.panel.text(Ctl::Combo1) + r.panel.text(Ctl::Combo2), QStringLiteral("COM09600"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not saved to .*com.txt"));
        r.startup.Form_QueryUnload();
        QVERIFY(r.panel.messages.isEmpty());
    }
};

QTEST_MAIN(FrmmainTest)
#include "test_frmmain.moc"
