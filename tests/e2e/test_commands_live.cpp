// The operator's commands end to end: clicks and key presses on the real
// window, requests over a pseudo-terminal, and the simulated module's
// registers and the next polls as the proof.

#include "core/Texts.h"
#include "e2e/LivePanel.h"
#include "sim/Simulator.h"

#include <QLineEdit>
#include <QTest>

using namespace eload;
using namespace eload::test;

namespace {
constexpr int kWaitMs = 5000;

sim::Options optionsWith(bool running)
{
    sim::Options o;
    o.model.running = running;
    return o;
}
} // namespace

class CommandsLiveTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void presetKeysThroughTheWindow()
    {
        LivePanel panel(QStringLiteral("/dev/eload-unused"));
        auto* box = qobject_cast<QLineEdit*>(panel.window.control(Ctl::Text4));
        QVERIFY(box);
        QTest::keyClicks(box, QStringLiteral("1.5"));
        QCOMPARE(box->text(), QStringLiteral("1.5"));
        box->clear();
        QTest::keyClicks(box, QStringLiteral("-2/a"));
        QCOMPARE(box->text(), QStringLiteral("2"));
        QTest::keyClick(box, Qt::Key_Backspace); // swallowed by the filter
        QCOMPARE(box->text(), QStringLiteral("2"));
        QTest::keyClicks(box, QStringLiteral("345678"));
        QCOMPARE(box->text(), QStringLiteral("23456")); // the sixth character is refused
        QTest::keyClick(box, Qt::Key_Home);
        QTest::keyClick(box, Qt::Key_Delete); // no character: not filtered
        QCOMPARE(box->text(), QStringLiteral("3456"));
        // A text set by the program is never cut by the limit.
        panel.window.setText(Ctl::Text5, QStringLiteral("100.00"));
        QCOMPARE(panel.text(Ctl::Text5), QStringLiteral("100.00"));
    }

    void writtenPresetsReachTheModuleAndComeBack()
    {
        sim::Simulator module(optionsWith(false));
        const QString path = QString::fromStdString(std::get<std::string>(module.start()));
        LivePanel panel(path);
        panel.click(Ctl::Command1);
        panel.window.setText(Ctl::Text3, QStringLiteral("3.5"));
        panel.window.setText(Ctl::Text4, QStringLiteral("10.5"));
        panel.window.setText(Ctl::Text5, QStringLiteral("200"));
        panel.click(Ctl::Command2);
        QTRY_COMPARE_WITH_TIMEOUT(module.reg(13), std::uint16_t(350), kWaitMs);
        QCOMPARE(module.reg(14), std::uint16_t(1050));
        QCOMPARE(module.reg(15), std::uint16_t(15000)); // clamped to 150 W
        QCOMPARE(module.reg(16), std::uint16_t(1));     // 9600
        QCOMPARE(module.reg(17), std::uint16_t(0));
        QCOMPARE(panel.text(Ctl::Text5), QStringLiteral("150.00"));
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::Message_Show), texts::kReplyGood, kWaitMs);

        // The boxes are overwritten by what the module holds at the next poll.
        module.setReg(13, 425);
        panel.click(Ctl::Command_OK3);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::Text3), QStringLiteral("4.25"), kWaitMs);
        QCOMPARE(panel.text(Ctl::Text4), QStringLiteral("10.50"));
        QVERIFY(panel.boxes.texts.isEmpty());
    }

    void loadOnDrawsThePresetCurrent()
    {
        sim::Simulator module(optionsWith(true));
        const QString path = QString::fromStdString(std::get<std::string>(module.start()));
        module.setReg(13, 250); // 2.50 A, well inside the power preset
        LivePanel panel(path);
        panel.openAndAcquire();
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW0), QStringLiteral("0.00A"), kWaitMs);
        panel.click(Ctl::Command5);
        QCOMPARE(panel.text(Ctl::Command5), texts::kOn);
        QTRY_COMPARE_WITH_TIMEOUT(module.reg(17), std::uint16_t(1), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW0), QStringLiteral("2.50A"), kWaitMs);
        QCOMPARE(panel.text(Ctl::Text3), QStringLiteral("2.50"));
        QCOMPARE(panel.text(Ctl::Command_OK3), texts::kStop); // paused, then resumed
        QVERIFY(!panel.window.isEnabled(Ctl::Command4));

        panel.click(Ctl::Command5);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW0), QStringLiteral("0.00A"), kWaitMs);
        QCOMPARE(module.reg(17), std::uint16_t(0));
        QVERIFY(panel.window.isEnabled(Ctl::Command4));
    }

    void clearDataZeroesAndTheRefreshShowsIt()
    {
        sim::Simulator module(optionsWith(false));
        const QString path = QString::fromStdString(std::get<std::string>(module.start()));
        for (int r : {3, 4, 5, 6, 10, 11, 12})
            module.setReg(r, 7);
        LivePanel panel(path);
        panel.openAndAcquire();
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::Label17_2), QStringLiteral("07"), kWaitMs);
        panel.click(Ctl::Command4);
        QCOMPARE(panel.text(Ctl::Command_OK3), texts::kAcquire);
        QTRY_COMPARE_WITH_TIMEOUT(module.reg(4), std::uint16_t(0), kWaitMs);
        // No polling now: only the refresh a second later can show the zeros.
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW3), QStringLiteral("0.000AH"), kWaitMs);
        QCOMPARE(panel.text(Ctl::AI_SHOW4), QStringLiteral("0.000WH"));
        QCOMPARE(panel.text(Ctl::Label17_0) + panel.text(Ctl::Label17_1) +
                     panel.text(Ctl::Label17_2),
                 QStringLiteral("000000"));
        QCOMPARE(panel.text(Ctl::Command_OK3), texts::kAcquire);
        QVERIFY(!panel.window.isTimerEnabled(Timer::Timer3));
    }

    void addressChangeMovesTheModule()
    {
        sim::Simulator module(optionsWith(false));
        const QString path = QString::fromStdString(std::get<std::string>(module.start()));
        module.setReg(0, 321);
        LivePanel panel(path);
        panel.click(Ctl::Command1);
        panel.window.setText(Ctl::Combo_Addr0, QStringLiteral("5"));
        panel.click(Ctl::Command_OK1);
        QTRY_COMPARE_WITH_TIMEOUT(int(module.address()), 5, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::Message_Show), texts::kReplyGood, kWaitMs);

        // The panel still polls the Slave ID box: no answer at 1 any more.
        panel.click(Ctl::Command_OK3);
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::Message_Show), texts::kReplyBad, kWaitMs);
        QCOMPARE(panel.text(Ctl::AI_SHOW0), QString());
        panel.window.setText(Ctl::Combo_Addr2, QStringLiteral("5"));
        QTRY_COMPARE_WITH_TIMEOUT(panel.text(Ctl::AI_SHOW0), QStringLiteral("3.21A"), kWaitMs);
    }
};

QTEST_MAIN(CommandsLiveTest)
#include "test_commands_live.moc"
