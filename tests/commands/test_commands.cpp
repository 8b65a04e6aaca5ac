// The operator's commands over the in-memory panel and a fake line: the
// bytes each sends, what refuses it, and the state each leaves behind.

#include "commands/Commands.h"
#include "modbus/DisplayRules.h"
#include "modbus/HexText.h"
#include "modbus/Transaction.h"
#include "support/Rig.h"

#include <QTest>

using namespace eload;
using namespace eload::test;

namespace {

const Ctl kBoxes[] = {Ctl::Text3, Ctl::Text4, Ctl::Text5};

struct Bench : Rig {
    Commands commands{ctx};
    // Port open, acquisition running, Combo6 at 9600 over BaudCode 3, old texts shown.
    Bench(bool loadOn, const QString& slaveId = "1", const QString& address = "1")
    {
        openPort();
        panel.setText(Ctl::Command_OK3, texts::kStop);
        panel.setTimerEnabled(Timer::Timer2, true);
        panel.setText(Ctl::Combo6, QStringLiteral("9600"));
        panel.setText(Ctl::Combo_Addr2, slaveId);
        panel.setText(Ctl::Combo_Addr0, address);
        panel.setText(Ctl::Text2, QStringLiteral("old reply"));
        panel.setText(Ctl::Message_Show, QStringLiteral("old status"));
        modbus::showLoadState(panel, state, loadOn ? 1 : 0);
        state.BaudCode = 3;
    }
    // The load switch as shown ("?" when caption, rim, Command4 and LoadState disagree),
    // Command_OK3 at stop, Timer2, ResumePolling; Timer1, Timer3, reply and status kept.
    QString after() const
    {
        const bool on = state.LoadState == 1;
        const bool alike = panel.text(Ctl::Command5) == (on ? texts::kOn : texts::kOff) &&
                           panel.backColor(Ctl::Label15_0) == (on ? kGreen : kWhite) &&
                           panel.isEnabled(Ctl::Command4) != on;
        const char* load = !alike ? "?" : on ? "ON" : "OFF";
        return QString::asprintf(
            "%s %d%d%d %d%d%d%d", load, panel.text(Ctl::Command_OK3) == texts::kStop,
            panel.isTimerEnabled(Timer::Timer2), state.ResumePolling,
            panel.isTimerEnabled(Timer::Timer1), panel.isTimerEnabled(Timer::Timer3),
            !panel.text(Ctl::Text2).isEmpty(), !panel.text(Ctl::Message_Show).isEmpty());
    }
};

using C = Commands;
struct Press {
    void (C::*click)();
    QString sent, after; // sent: hex text of the frame, or the box shown instead
    QString slaveId = "1", address = "1";
    bool loadOn = false;
};
struct Presets {
    QString typed, baud, shown, sent; // "Text3|Text4|Text5"; registers 13..17, or the box
    bool loadOn = false, portOpen = true;
};

} // namespace

Q_DECLARE_METATYPE(Press)
Q_DECLARE_METATYPE(Presets)

class CommandsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void presses_data()
    {
        QTest::addColumn<Press>("c");
        const auto row = [](const char* name, Press c) { QTest::newRow(name) << c; };
        const QString bad = texts::kBadParameter;
        row("write presets",
            {&C::Command2_Click, "01 10 00 0D 00 05 0A 00 C8 00 96 27 10 00 01 00 00 5A 2D ",
             "OFF 000 1000"});
        row("read presets", {&C::Command3_Click, "01 03 00 00 00 12 C5 C7 ", "OFF 000 1000"});
        row("clear data", {&C::Command4_Click, "01 06 00 12 00 01 E8 0F ", "OFF 000 1110"});
        row("load on", {&C::Command5_Click, "01 06 00 11 00 01 18 0F ", "ON 101 1000"});
        row("load off",
            {&C::Command5_Click, "01 06 00 11 00 00 D9 CF ", "OFF 101 1000", "1", "1", true});
        row("address 5",
            {&C::Command_OK1_Click, "00 06 00 00 00 05 48 18 ", "OFF 000 1000", "7", "5"});
        row("address 1",
            {&C::Command_OK1_Click, "00 06 00 00 00 01 49 DB ", "ON 000 1000", "x", " 1 ", true});
        // Refused, nothing sent. A refused load switch changes nothing and polling goes on.
        row("read, slave 256", {&C::Command3_Click, bad, "OFF 000 0000", "256"});
        row("write, slave 256", {&C::Command2_Click, bad, "OFF 000 0000", "256"});
        row("clear, slave 256", {&C::Command4_Click, bad, "OFF 000 0110", "256"});
        row("load, slave 256", {&C::Command5_Click, bad, "OFF 110 0000", "256"});
        row("new address 256", {&C::Command_OK1_Click, bad, "OFF 000 0000", "1", "256"});
        // The module's counters are live while the load is on: only the refresh is armed.
        row("clear, load on", {&C::Command4_Click, "", "ON 110 0111", "1", "1", true});
    }
    void presses()
    {
        QFETCH(Press, c);
        Bench b(c.loadOn, c.slaveId, c.address);
        (b.commands.*c.click)();
        const bool sent = b.port.written.size() == 1;
        QCOMPARE(sent ? modbus::hexText(b.port.written[0]) : b.panel.messages.join(""), c.sent);
        QCOMPARE(b.port.written.size() + b.panel.messages.size(), c.sent.isEmpty() ? 0 : 1);
        QCOMPARE(b.clock.pauses, sent ? QList<int>{modbus::kPauseAfterWriteMs} : QList<int>{});
        QCOMPARE(b.state.SendHex + b.panel.text(Ctl::Text1_0), sent ? c.sent + c.sent : "");
        QCOMPARE(b.panel.text(Ctl::Combo_Addr2), c.slaveId); // a new address is not taken over
        QCOMPARE(b.after(), c.after);
    }

    void writePresets_data()
    {
        QTest::addColumn<Presets>("c");
        const QString bad = texts::kBadParameter, defaults = "2.00|1.50|100.00";
        const auto row = [](const char* name, Presets c) { QTest::newRow(name) << c; };
        row("all empty", {"||", "9600", defaults, "200 150 10000 1 0"});
        row("lower bounds", {"0|0.5|0.5", "9600", "0.01|1.00|1.00", "1 100 100 1 0"});
        row("upper bounds", {"12|100|151", "9600", "10.00|99.99|150.00", "1000 9999 15000 1 0"});
        row("load on kept", {"||", "115200", defaults, "200 150 10000 5 1", true});
        row("baud not listed", {"||", "9600 ", defaults, "200 150 10000 3 0"});
        row("hundredths",
            {"1.234|12.345|99.999", "4800", "1.23|12.34|100.00", "123 1234 10000 0 0"});
        row("halves to even", {"1.015|1.125|2.135", "4800", "1.02|1.12|2.14", "102 112 214 0 0"});
        row("blanks, giant",
            {" 3 |99999999999|", "4800", "3.00|99.99|100.00", "300 9999 10000 0 0"});
        row("port closed",
            {"12||0.5", "19200", "10.00|1.50|1.00", texts::kOpenPortFirst, false, false});
        row("lone point", {".||200", "19200", ".|1.50|150.00", bad});
        row("two points", {"0|1..2|", "19200", "0.01|1..2|100.00", bad});
        row("letters, sign", {"-1||1e9", "19200", "-1|1.50|1e9", bad});
    }
    void writePresets()
    {
        QFETCH(Presets, c);
        Bench b(c.loadOn);
        if (!c.portOpen) b.panel.setText(Ctl::Command1, texts::kOpenPort);
        for (int i = 0; i < 3; ++i)
            b.panel.setText(kBoxes[i], c.typed.section(u'|', i, i));
        b.panel.setText(Ctl::Combo6, c.baud);
        b.commands.Command2_Click();
        QCOMPARE(b.panel.text(kBoxes[0]) + '|' + b.panel.text(kBoxes[1]) + '|' +
                     b.panel.text(kBoxes[2]),
                 c.shown);
        QCOMPARE(b.panel.text(Ctl::Command_OK3), texts::kAcquire);
        const QByteArray f = b.port.written.value(0);
        QStringList sent; // registers 13..17 as written
        for (int i = 7; i < f.size() - 2; i += 2)
            sent << QString::number(quint8(f[i]) << 8 | quint8(f[i + 1]));
        QCOMPARE(b.port.written.size() + b.panel.messages.size(), 1);
        QCOMPARE(sent.isEmpty() ? b.panel.messages.join("") : sent.join(u' '), c.sent);
        if (sent.isEmpty()) QCOMPARE(b.state.BaudCode, std::int16_t(2)); // taken all the same
    }
};

QTEST_GUILESS_MAIN(CommandsTest)
#include "test_commands.moc"
