// What a screen reader hears, through Qt's accessibility interfaces as the
// AT-SPI bridge reads them: from the window down, and from a box.

#include "core/Texts.h"
#include "ui/frmmain.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

using namespace eload;

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
        QCOMPARE(names(),
                 texts::kProgramTitle + "|放电电流|能量|" + texts::kPortLampClosed + "|OFF|");
        w.setText(Ctl::AI_SHOW0, "1.25A");
        w.setText(Ctl::AI_SHOW4, "1.234WH");
        w.setBackColor(Ctl::Shape1, kGreen);
        QCOMPARE(names(), texts::kProgramTitle + "|放电电流: 1.25A|能量: 1.234WH|" +
                              texts::kPortLampOpen + "|OFF|");
        // A value is not labelled (a reader would speak the label first); the button is.
        for (Ctl c : {Ctl::AI_SHOW0, Ctl::Command5}) {
            const auto labels = reachable(&w).value(w.control(c))->relations(QAccessible::Label);
            QCOMPARE(labels.size() == 1 ? name(labels.first().first->object()) : "",
                     c == Ctl::Command5 ? "POWER STA:" : "");
        }
        // The time is one text; its digits and colons are not reached on their own.
        w.setText(Ctl::Label17_2, "05");
        QWidget* clock = w.control(Ctl::Label17_0)->parentWidget();
        QCOMPARE(name(clock), "放电时间: 00:00:05");
        for (QLabel* part : clock->findChildren<QLabel*>())
            QVERIFY(!reachable(&w).contains(part));

        QStringList box; // what the reader hears in it
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
};

QTEST_MAIN(AccessibilityTest)
#include "test_accessibility.moc"
