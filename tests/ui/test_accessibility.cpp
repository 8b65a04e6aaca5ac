// What a screen reader hears, through Qt's accessibility interfaces as the
// AT-SPI bridge reads them: from the window down, and from a box.

#include "core/Texts.h"
#include "ui/frmmain.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

using namespace eload;

Q_DECLARE_METATYPE(eload::Ctl)

// Every interface a reader reaches from `root`, by the object behind it.
static QMap<QObject*, QAccessibleInterface*> reachable(QObject* root)
{
    QMap<QObject*, QAccessibleInterface*> all;
    const auto walk = [&](auto& self, QAccessibleInterface* i) -> void {
        all.insert(i->object(), i);
        for (int k = 0; k < i->childCount(); ++k)
            self(self, i->child(k));
    };
    walk(walk, QAccessible::queryAccessibleInterface(root));
    return all;
}

class AccessibilityTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void heard()
    {
        frmmain w;
        w.show();
        const auto name = [&](QObject* o) {
            const QAccessibleInterface* i = reachable(&w).value(o);
            return i ? i->text(QAccessible::Name) : QStringLiteral("(not reached)");
        };
        const auto names = [&] {
            QStringList all{name(&w)};
            for (Ctl c : {Ctl::AI_SHOW0, Ctl::AI_SHOW4, Ctl::Shape1, Ctl::Command5, Ctl::Label15_0})
                all << name(w.control(c));
            return all.join(u'|');
        };
        QCOMPARE(reachable(&w).value(&w)->role(), QAccessible::Window);
        // The switch's rim repeats the switch: not reached.
        QCOMPARE(names(), texts::kProgramTitle + "|放电电流|能量|" + texts::kPortLampClosed +
                              "|POWER STA|(not reached)");
        w.setText(Ctl::AI_SHOW0, "1.25A");
        w.setText(Ctl::AI_SHOW4, "1.234WH");
        w.setBackColor(Ctl::Shape1, kGreen);
        QCOMPARE(names(), texts::kProgramTitle + "|放电电流: 1.25A|能量: 1.234WH|" +
                              texts::kPortLampOpen + "|POWER STA|(not reached)");
        // Whatever names its caption itself has no label (a reader would speak it twice).
        for (Ctl c : {Ctl::AI_SHOW0, Ctl::Command5, Ctl::Combo1})
            QVERIFY(reachable(&w).value(w.control(c))->relations(QAccessible::Label).isEmpty());
        // The time is one text; its digits and colons are not reached on their own.
        w.setText(Ctl::Label17_2, "05");
        QWidget* clock = w.control(Ctl::Label17_0)->parentWidget();
        QCOMPARE(name(clock), "放电时间: 00:00:05");
        for (QLabel* part : clock->findChildren<QLabel*>())
            QVERIFY(!reachable(&w).contains(part));

        QStringList box; // what the reader hears in a box
        bool okCloses = false;
        QTimer::singleShot(0, &w, [&] {
            QWidget* shown = QApplication::activeModalWidget();
            for (QAccessibleInterface* i : reachable(shown))
                if (i->role() == QAccessible::AlertMessage || i->role() == QAccessible::StaticText)
                    box << i->text(QAccessible::Name);
                else if (i->role() == QAccessible::Button && i->text(QAccessible::Name) == "OK")
                    i->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            okCloses = QTest::qWaitFor([&] { return !shown->isVisible(); }, 5000);
            shown->close();
        });
        w.showMessage(texts::kPortLost, QStringLiteral("/dev/ttyUSB0"));
        QVERIFY2(okCloses && box.contains(texts::kProgramTitle) &&
                     box.contains(texts::kPortLost + "\n/dev/ttyUSB0"),
                 qPrintable(box.join(u'|')));
    }

    // Each list by its caption, not by its entry ("COM1", "9600" twice, "1" three times).
    void lists_data()
    {
        QTest::addColumn<Ctl>("list");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Combo1") << Ctl::Combo1 << "串口号";
        QTest::newRow("Combo2") << Ctl::Combo2 << "波特率";
        QTest::newRow("Combo3") << Ctl::Combo3 << "校验位";
        QTest::newRow("Combo4") << Ctl::Combo4 << "数据位";
        QTest::newRow("Combo5") << Ctl::Combo5 << "停止位";
        QTest::newRow("Combo_Addr(2)") << Ctl::Combo_Addr2 << "Slave ID";
        QTest::newRow("Combo6") << Ctl::Combo6 << "设置波特率";
        QTest::newRow("Combo_Addr(0)") << Ctl::Combo_Addr0 << "模块地址";
    }
    void lists()
    {
        QFETCH(Ctl, list);
        QFETCH(QString, caption);
        frmmain w;
        w.show();
        w.setText(list, QStringLiteral("9600"));
        QAccessibleInterface* i = reachable(&w).value(w.control(list));
        QVERIFY(i);
        QCOMPARE(i->role(), QAccessible::ComboBox);
        QCOMPARE(i->text(QAccessible::Name), caption);
        QCOMPARE(i->text(QAccessible::Value), QStringLiteral("9600"));
        // Its edit field, which has the focus on the list's behalf, is named the same.
        auto* field = static_cast<QComboBox*>(w.control(list))->lineEdit();
        QCOMPARE(reachable(&w).value(field)->text(QAccessible::Name), caption);
    }

    // The load switch is a toggle with its state; the link a link; the brand
    // picture is named by its label and read once.
    void switchLinkPicture()
    {
        frmmain w;
        w.show();
        QList<QUrl> opened;
        w.setUrlOpener([&](const QUrl& url) { opened << url; });
        const auto all = reachable(&w);
        QAccessibleInterface* toggle = all.value(w.control(Ctl::Command5));
        QCOMPARE(toggle->role(), QAccessible::CheckBox);
        QVERIFY(toggle->state().checkable && !toggle->state().checked);
        w.setText(Ctl::Command5, texts::kOn);
        QVERIFY(toggle->state().checked);
        auto* button = static_cast<QPushButton*>(w.control(Ctl::Command5));
        QSignalSpy clicks(button, &QPushButton::clicked);
        toggle->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(clicks.size(), 1);

        QAccessibleInterface* link = all.value(w.control(Ctl::Label9));
        QCOMPARE(link->role(), QAccessible::Link);
        QCOMPARE(link->text(QAccessible::Name), frmmain::vendorUrl());
        QVERIFY(link->state().focusable);
        link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(opened, QList<QUrl>{QUrl(frmmain::vendorUrl())});

        QWidget* picture = w.findChild<QWidget*>(QStringLiteral("Picture1(0)"));
        QCOMPARE(all.value(picture)->role(), QAccessible::Graphic);
        QCOMPARE(all.value(picture)->text(QAccessible::Name), QStringLiteral("Varnelt"));
        QVERIFY(!all.contains(w.findChild<QLabel*>(QStringLiteral("Label8"))));
    }
};

QTEST_MAIN(AccessibilityTest)
#include "test_accessibility.moc"
