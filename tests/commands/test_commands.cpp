// The operator's commands over the in-memory panel and a fake line: the
// bytes each sends, what refuses it, and the state each leaves behind.

#include "commands/Commands.h"
#include "commands/PresetFields.h"
#include "modbus/DisplayRules.h"
#include "modbus/Frames.h"
#include "modbus/HexText.h"
#include "modbus/Transaction.h"
#include "support/Rig.h"

#include <QTest>

using namespace eload;
using namespace eload::test;

namespace {

const QMap<QString, void (Commands::*)()> kClicks{{"Command2", &Commands::Command2_Click},
                                                  {"Command3", &Commands::Command3_Click},
                                                  {"Command4", &Commands::Command4_Click},
                                                  {"Command5", &Commands::Command5_Click},
                                                  {"Command_OK1", &Commands::Command_OK1_Click}};
const QString kOffShown = "OFF white clear 0", kOnShown = "ON green - 1";

struct Bench : Rig {
    Commands commands{ctx};

    // Acquisition running, Combo6 at its start-up choice.
    Bench(bool portOpen, bool loadOn = false, QString slaveId = "1", QString newAddress = "1")
    {
        if (portOpen) openPort();
        panel.setText(Ctl::Command_OK3, texts::kStop);
        panel.setTimerEnabled(Timer::Timer2, true);
        panel.setText(Ctl::Combo6, QStringLiteral("9600"));
        panel.setText(Ctl::Combo_Addr2, slaveId);
        panel.setText(Ctl::Combo_Addr0, newAddress);
        modbus::showLoadState(panel, state, loadOn ? 1 : 0);
    }
    void click(const QString& name) { (commands.*kClicks.value(name))(); }
    // The three preset boxes as "Text3|Text4|Text5".
    void setBoxes(const QString& joined)
    {
        for (int i = 0; i < 3; ++i)
            panel.setText(kBoxes[i], joined.section(u'|', i, i));
    }
    QString boxes() const
    {
        QStringList t;
        for (Ctl c : kBoxes)
            t << panel.text(c);
        return t.join(u'|');
    }
    // The load switch as shown: caption, rim, Command4, LoadState.
    QString load() const
    {
        return QStringLiteral("%1 %2 %3 %4")
            .arg(panel.text(Ctl::Command5),
                 panel.backColor(Ctl::Label15_0) == kGreen ? "green" : "white",
                 panel.isEnabled(Ctl::Command4) ? "clear" : "-")
            .arg(state.LoadState);
    }
    static constexpr Ctl kBoxes[] = {Ctl::Text3, Ctl::Text4, Ctl::Text5};
};

struct PresetCase {
    QString typed, baud;
    bool loadOn, portOpen;
    QString shown, sent; // sent: registers 13..17, or the refusal's message
};
struct FrameCase {
    QString command;
    bool loadOn;
    QString slaveId, newAddress, hex, load; // load: as shown afterwards
};
struct RefusalCase {
    QString command;
    bool portOpen;
    QString slaveId, newAddress, message;
};

} // namespace

Q_DECLARE_METATYPE(PresetCase)
Q_DECLARE_METATYPE(FrameCase)
Q_DECLARE_METATYPE(RefusalCase)

class CommandsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void presetKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        for (int c : {int('0'), int('9'), int('.')})
            QTest::addRow("pass %d", c) << c << c;
        for (int c : {int('/'), int('-'), 8, int(' '), int('a'), int(':'), 0x4E2D})
            QTest::addRow("swallow %d", c) << c << 0;
    }
    void presetKeys()
    {
        QFETCH(int, key);
        QFETCH(int, result);
        QCOMPARE(filterPresetKey(key), result);
    }

    void clicksOnPresetsStopAcquisition()
    {
        Bench b(true);
        PresetFields fields(b.ctx);
        for (auto click :
             {&PresetFields::Text3_Click, &PresetFields::Text4_Click, &PresetFields::Text5_Click}) {
            b.panel.setText(Ctl::Command_OK3, texts::kStop);
            (fields.*click)();
            QCOMPARE(b.panel.text(Ctl::Command_OK3), texts::kAcquire);
        }
        QVERIFY(b.port.written.isEmpty());
    }

    // BaudCode was 3 before each press.
    void writePresets_data()
    {
        QTest::addColumn<PresetCase>("c");
        const QString defaults = "2.00|1.50|100.00";
        const QString bad = texts::kBadParameter;
        auto row = [](const char* name, PresetCase c) { QTest::newRow(name) << c; };
        row("all empty", {"||", "9600", false, true, defaults, "200 150 10000 1 0"});
        row("current 0", {"0||", "9600", false, true, "0.01|1.50|100.00", "1 150 10000 1 0"});
        row("current 0.01", {"0.01||", "9600", false, true, "0.01|1.50|100.00", "1 150 10000 1 0"});
        row("current 12", {"12||", "9600", false, true, "10.00|1.50|100.00", "1000 150 10000 1 0"});
        row("cutoff 1, power 151",
            {"|1|151", "9600", false, true, "2.00|1.00|150.00", "200 100 15000 1 0"});
        row("cutoff 100, power 0.5",
            {"|100|0.5", "9600", false, true, "2.00|99.99|1.00", "200 9999 100 1 0"});
        row("load on kept", {"||", "115200", true, true, defaults, "200 150 10000 5 1"});
        row("baud not listed", {"||", "9600 ", false, true, defaults, "200 150 10000 3 0"});
        row("sent as typed", {"1.234|12.345|99.999", "4800", false, true, "1.23|12.34|100.00",
                              "123 1234 10000 0 0"});
        row("halves to even",
            {"1.015|1.125|2.135", "4800", false, true, "1.02|1.12|2.14", "102 112 214 0 0"});
        row("blanks, giant",
            {" 3 |99999999999|", "4800", false, true, "3.00|99.99|100.00", "300 9999 10000 0 0"});
        row("port closed",
            {"12||0.5", "19200", false, false, "10.00|1.50|1.00", texts::kOpenPortFirst});
        row("lone point", {".||200", "19200", false, true, ".|1.50|150.00", bad});
        row("two points", {"0|1..2|", "19200", false, true, "0.01|1..2|100.00", bad});
        row("letters, sign", {"-1||1e9", "19200", false, true, "-1|1.50|1e9", bad});
    }
    void writePresets()
    {
        QFETCH(PresetCase, c);
        Bench b(c.portOpen, c.loadOn);
        b.state.BaudCode = 3;
        b.setBoxes(c.typed);
        b.panel.setText(Ctl::Combo6, c.baud);
        b.click("Command2");
        QCOMPARE(b.boxes(), c.shown);
        QCOMPARE(b.panel.text(Ctl::Command_OK3), texts::kAcquire);
        if (!c.sent.front().isDigit()) {
            QCOMPARE(b.panel.takeMessages(), QStringList{c.sent});
            QCOMPARE(b.state.BaudCode, std::int16_t(2)); // taken all the same
            QVERIFY(b.port.written.isEmpty());
            return;
        }
        QList<std::uint16_t> w;
        for (const QString& s : c.sent.split(u' '))
            w.append(std::uint16_t(s.toInt()));
        QCOMPARE(b.port.written,
                 QByteArrayList{withCrc(modbus::writePresets(1, {w[0], w[1], w[2], w[3], w[4]}))});
    }

    void frames_data()
    {
        QTest::addColumn<FrameCase>("c");
        auto row = [](const char* name, FrameCase c) { QTest::newRow(name) << c; };
        row("write presets",
            {"Command2", false, "1", "1",
             "01 10 00 0D 00 05 0A 00 C8 00 96 27 10 00 01 00 00 5A 2D ", kOffShown});
        row("read presets", {"Command3", false, "1", "1", "01 03 00 00 00 12 C5 C7 ", kOffShown});
        row("clear data", {"Command4", false, "1", "1", "01 06 00 12 00 01 E8 0F ", kOffShown});
        row("load on", {"Command5", false, "1", "1", "01 06 00 11 00 01 18 0F ", kOnShown});
        row("load off", {"Command5", true, "1", "1", "01 06 00 11 00 00 D9 CF ", kOffShown});
        row("address 5", {"Command_OK1", false, "7", "5", "00 06 00 00 00 05 48 18 ", kOffShown});
        row("address 1", {"Command_OK1", true, "x", " 1 ", "00 06 00 00 00 01 49 DB ", kOnShown});
    }
    void frames()
    {
        QFETCH(FrameCase, c);
        Bench b(true, c.loadOn, c.slaveId, c.newAddress);
        b.panel.setText(Ctl::Text2, QStringLiteral("old reply"));
        b.click(c.command);
        QCOMPARE(b.state.SendHex, c.hex);
        QCOMPARE(b.panel.text(Ctl::Text1_0), c.hex);
        QCOMPARE(b.port.written.size(), 1);
        QCOMPARE(modbus::hexText(b.port.written[0]), c.hex);
        QCOMPARE(b.clock.pauses, QList<int>{modbus::kPauseAfterWriteMs});
        QVERIFY(b.panel.isTimerEnabled(Timer::Timer1));
        QVERIFY(b.panel.messages.isEmpty());
        QCOMPARE(b.load(), c.load);
        QCOMPARE(b.panel.text(Ctl::Combo_Addr2), c.slaveId); // a new address is not taken over
        QCOMPARE(b.panel.text(Ctl::Text2).isEmpty(), c.command != "Command4");
        QCOMPARE(b.panel.isTimerEnabled(Timer::Timer3), c.command == "Command4");
        // Only the load switch pauses, for the one exchange; the others stop.
        const bool paused = c.command == "Command5";
        QCOMPARE(b.panel.text(Ctl::Command_OK3), paused ? texts::kStop : texts::kAcquire);
        QVERIFY(!b.panel.isTimerEnabled(Timer::Timer2));
        QCOMPARE(b.state.ResumePolling, std::int16_t(paused ? 1 : 0));
    }

    void refusals_data()
    {
        QTest::addColumn<RefusalCase>("c");
        const QString bad = texts::kBadParameter;
        for (const QString& name : kClicks.keys()) {
            const QByteArray n = name.toLatin1();
            QTest::addRow("%s port closed", n.constData())
                << RefusalCase{name, false, "1", "1", texts::kOpenPortFirst};
            QTest::addRow("%s address empty", n.constData())
                << RefusalCase{name, true, "1", "", bad};
            if (name != "Command_OK1")
                QTest::addRow("%s slave 256", n.constData())
                    << RefusalCase{name, true, "256", "1", bad};
        }
        for (const char* a : {"256", "-1", "1.5", "abc"})
            QTest::addRow("new address %s", a) << RefusalCase{"Command_OK1", true, "1", a, bad};
    }
    void refusals()
    {
        QFETCH(RefusalCase, c);
        Bench b(c.portOpen, false, c.slaveId, c.newAddress);
        b.click(c.command);
        QCOMPARE(b.panel.takeMessages(), QStringList{c.message});
        QVERIFY(b.port.written.isEmpty());
        QVERIFY(b.clock.pauses.isEmpty());
        QVERIFY(!b.panel.isTimerEnabled(Timer::Timer1));
        // A refused load switch changes nothing and lets polling go on at once.
        const bool loadSwitch = c.command == "Command5";
        QCOMPARE(b.load(), kOffShown);
        QCOMPARE(b.panel.isTimerEnabled(Timer::Timer2), loadSwitch);
        QCOMPARE(b.panel.text(Ctl::Command_OK3), loadSwitch ? texts::kStop : texts::kAcquire);
        QCOMPARE(b.state.ResumePolling, std::int16_t(0));
        QCOMPARE(b.panel.isTimerEnabled(Timer::Timer3), c.command == "Command4");
    }

    void clearDataWithTheLoadOnOnlyArmsTheRefresh()
    {
        Bench b(true, true);
        b.panel.setText(Ctl::Message_Show, QStringLiteral("old status"));
        b.click("Command4");
        QVERIFY(b.port.written.isEmpty());
        QVERIFY(b.panel.messages.isEmpty());
        QVERIFY(b.panel.isTimerEnabled(Timer::Timer3));
        QCOMPARE(b.panel.text(Ctl::Message_Show), QStringLiteral("old status"));
    }
};

QTEST_GUILESS_MAIN(CommandsTest)
#include "test_commands.moc"
