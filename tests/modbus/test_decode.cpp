// Decoding of read replies into the window's texts: positions, number
// patterns, codes that keep the previous text, and short replies.

#include "modbus/Decode.h"
#include "modbus/DisplayRules.h"
#include "modbus/HexText.h"
#include "modbus/RowWriter.h"
#include "support/Rig.h"

#include <QTest>

using namespace eload;
using namespace eload::test;

using Writes = QList<QPair<int, int>>; // register, value, in order

class DecodeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void displayRules_data()
    {
        QTest::addColumn<Writes>("writes");
        QTest::addColumn<Ctl>("control");
        QTest::addColumn<QString>("shown");
        QTest::newRow("current 0") << Writes{{0, 0}} << Ctl::AI_SHOW0 << "0.00A";
        QTest::newRow("current 5") << Writes{{0, 5}} << Ctl::AI_SHOW0 << "0.05A";
        QTest::newRow("voltage max") << Writes{{1, 65535}} << Ctl::AI_SHOW1 << "655.35V";
        QTest::newRow("power") << Writes{{2, 12345}} << Ctl::AI_SHOW2 << "123.45W";
        QTest::newRow("capacity 65.536") << Writes{{3, 1}, {4, 0}} << Ctl::AI_SHOW3 << "65.536AH";
        QTest::newRow("capacity 1") << Writes{{3, 0}, {4, 1000}} << Ctl::AI_SHOW3 << "1.000AH";
        QTest::newRow("capacity max")
            << Writes{{3, 65535}, {4, 65535}} << Ctl::AI_SHOW3 << "4294967.295AH";
        QTest::newRow("energy afresh")
            << Writes{{5, 9}, {6, 9}, {5, 0}, {6, 7}} << Ctl::AI_SHOW4 << "0.007WH";
        QTest::newRow("resistance") << Writes{{7, 120}} << Ctl::AI_SHOW5 << "120MR";
        QTest::newRow("temperature") << Writes{{8, 35}} << Ctl::AI_SHOW7 << QStringLiteral("35℃");
        QTest::newRow("status none") << Writes{{9, 4}, {9, 0}} << Ctl::Label20 << "    ";
        QTest::newRow("status UVLO") << Writes{{9, 1}} << Ctl::Label20 << "UVLO";
        QTest::newRow("status OPP") << Writes{{9, 2}} << Ctl::Label20 << " OPP";
        QTest::newRow("status 3 keeps") << Writes{{9, 4}, {9, 3}} << Ctl::Label20 << " OTP";
        QTest::newRow("status 32768 keeps") << Writes{{9, 4}, {9, 32768}} << Ctl::Label20 << " OTP";
        QTest::newRow("hours") << Writes{{10, 1}} << Ctl::Label17_0 << "01";
        QTest::newRow("hours past 99") << Writes{{10, 123}} << Ctl::Label17_0 << "123";
        QTest::newRow("seconds") << Writes{{12, 59}} << Ctl::Label17_2 << "59";
        QTest::newRow("current preset") << Writes{{13, 1}} << Ctl::Text3 << "0.01";
        QTest::newRow("power preset") << Writes{{15, 15000}} << Ctl::Text5 << "150.00";
        QTest::newRow("baud 5") << Writes{{16, 5}} << Ctl::Combo6 << "115200";
        QTest::newRow("baud 6 keeps") << Writes{{16, 2}, {16, 6}} << Ctl::Combo6 << "19200";
        QTest::newRow("load on") << Writes{{17, 1}} << Ctl::Command5 << "ON";
        QTest::newRow("load 2 is off") << Writes{{17, 1}, {17, 2}} << Ctl::Command5 << "OFF";
        QTest::newRow("load 65535 is off")
            << Writes{{17, 1}, {17, 65535}} << Ctl::Command5 << "OFF";
    }
    void displayRules()
    {
        QFETCH(Writes, writes);
        QFETCH(Ctl, control);
        QFETCH(QString, shown);
        Rig rig;
        for (const auto& [reg, value] : writes)
            modbus::applyRegister(rig.panel, rig.state, reg, std::uint16_t(value));
        QCOMPARE(rig.panel.text(control), shown);
    }

    void loadSwitchStateAndRim()
    {
        Rig rig;
        modbus::applyRegister(rig.panel, rig.state, 17, 1);
        QCOMPARE(rig.panel.backColor(Ctl::Label15_0), kGreen);
        QVERIFY(!rig.panel.isEnabled(Ctl::Command4));
        modbus::applyRegister(rig.panel, rig.state, 17, 2);
        QCOMPARE(rig.panel.backColor(Ctl::Label15_0), kWhite);
        QVERIFY(rig.panel.isEnabled(Ctl::Command4));
        QCOMPARE(rig.state.LoadState, 2); // kept as the module holds it
    }

    void everyRegisterIsReadAtItsOwnPosition()
    {
        // Every register different, every digit position exercised.
        std::array<std::uint16_t, 18> regs{};
        for (int d = 0; d < 18; ++d)
            regs[d] =
                std::uint16_t(0x1000 * (d % 10) + 0x100 * ((d + 3) % 10) + 0x10 * (d % 7) + d % 5);
        const QString hex = modbus::hexText(readReply(1, regs));
        for (int d = 0; d < 18; ++d)
            QCOMPARE(modbus::registerAt(hex, d), std::optional<std::uint16_t>(regs[d]));
    }

    void shortRepliesLeaveRegistersWithoutDataAlone()
    {
        struct Rows : RowWriter {
            int n = 0;
            void WriteRow() override { ++n; }
        } rows;
        Rig rig;
        rig.panel.setText(Ctl::AI_SHOW1, QStringLiteral("12.00V"));
        std::array<std::uint16_t, 18> regs{};
        regs.fill(0xFFFF);
        regs[0] = 300;
        rig.state.ReceiveHex = modbus::hexText(readReply(1, regs, 1)); // 21 characters
        modbus::DecodeReply(rig.panel, rig.state, &rows);
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW0), QStringLiteral("3.00A"));
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW1), QStringLiteral("12.00V"));
        QCOMPARE(rig.panel.text(Ctl::Command5), QStringLiteral("OFF"));

        rig.state.ReceiveHex = modbus::hexText(readReply(1, regs, 8)); // 63 characters
        modbus::DecodeReply(rig.panel, rig.state, &rows);
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW5), QStringLiteral("65535MR"));
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW7), QString());
        QCOMPARE(rows.n, 2);
        QVERIFY(!modbus::DecodeReply(rig.panel, rig.state, &rows)); // no whole block, no reading
    }

    void wholeBlockBecomesAReadingInSiUnits()
    {
        Rig rig;
        std::array<std::uint16_t, 18> regs{125, 1234, 1542, 1, 2,   0,   7,     35, 28,
                                           1,   1,    2,    3, 100, 300, 15000, 5,  2};
        rig.state.ReceiveHex = modbus::hexText(readReply(1, regs));
        const auto block = modbus::DecodeReply(rig.panel, rig.state, nullptr);
        QVERIFY(block);
        const modbus::Reading r = modbus::readingFromRegisters(*block, {});
        QCOMPARE(r.current, 1.25);
        QCOMPARE(r.voltage, 12.34);
        QCOMPARE(r.capacityAh, 65.538); // high word first
        QCOMPARE(r.energyWh, 0.007);
        QCOMPARE(r.dischargeSeconds, 3723);
        QCOMPARE(r.protection, modbus::ProtectionUvlo);
        QVERIFY(!r.loadOn); // 2 is no "on", as the window shows it
        QCOMPARE(modbus::dischargeTimeText(1, 2, 3), QStringLiteral("01:02:03"));
    }
};

QTEST_APPLESS_MAIN(DecodeTest)
#include "test_decode.moc"
