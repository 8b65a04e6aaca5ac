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

namespace {
struct CountingRows : RowWriter {
    int rows = 0;
    void WriteRow() override { ++rows; }
};

std::array<std::uint16_t, 18> distinctRegisters()
{
    // Every register different, every digit position exercised.
    std::array<std::uint16_t, 18> r{};
    for (int d = 0; d < 18; ++d)
        r[d] = std::uint16_t(0x1000 * (d % 10) + 0x0100 * ((d + 3) % 10) + 0x10 * (d % 7) + d % 5);
    return r;
}
} // namespace

class DecodeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void registerRules_data()
    {
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::addColumn<Ctl>("control");
        QTest::addColumn<QString>("shown");
        QTest::newRow("current 0") << 0 << 0 << Ctl::AI_SHOW0 << "0.00A";
        QTest::newRow("current 5") << 0 << 5 << Ctl::AI_SHOW0 << "0.05A";
        QTest::newRow("voltage max") << 1 << 65535 << Ctl::AI_SHOW1 << "655.35V";
        QTest::newRow("power") << 2 << 12345 << Ctl::AI_SHOW2 << "123.45W";
        QTest::newRow("resistance") << 7 << 120 << Ctl::AI_SHOW5 << "120MR";
        QTest::newRow("temperature") << 8 << 35 << Ctl::AI_SHOW7 << QStringLiteral("35℃");
        QTest::newRow("hours") << 10 << 1 << Ctl::Label17_0 << "01";
        QTest::newRow("minutes") << 11 << 59 << Ctl::Label17_1 << "59";
        QTest::newRow("seconds") << 12 << 9 << Ctl::Label17_2 << "09";
        QTest::newRow("hours past 99") << 10 << 123 << Ctl::Label17_0 << "123";
        QTest::newRow("current preset") << 13 << 1 << Ctl::Text3 << "0.01";
        QTest::newRow("cut-off preset") << 14 << 9999 << Ctl::Text4 << "99.99";
        QTest::newRow("power preset") << 15 << 15000 << Ctl::Text5 << "150.00";
        QTest::newRow("baud 0") << 16 << 0 << Ctl::Combo6 << "4800";
        QTest::newRow("baud 5") << 16 << 5 << Ctl::Combo6 << "115200";
        QTest::newRow("baud 6 keeps") << 16 << 6 << Ctl::Combo6 << "Combo6";
        QTest::newRow("status 0") << 9 << 0 << Ctl::Label20 << "    ";
        QTest::newRow("status UVLO") << 9 << 1 << Ctl::Label20 << "UVLO";
        QTest::newRow("status OPP") << 9 << 2 << Ctl::Label20 << " OPP";
        QTest::newRow("status OTP") << 9 << 4 << Ctl::Label20 << " OTP";
    }
    void registerRules()
    {
        QFETCH(int, reg);
        QFETCH(int, value);
        QFETCH(Ctl, control);
        QFETCH(QString, shown);
        Rig rig;
        modbus::applyRegister(rig.panel, rig.state, reg, std::uint16_t(value));
        QCOMPARE(rig.panel.text(control), shown);
    }

    void statusCodesWithoutTextKeepThePreviousOne()
    {
        Rig rig;
        modbus::applyRegister(rig.panel, rig.state, 9, 4);
        for (std::uint16_t code : {3, 5, 8, 32767, 32768, 65535}) {
            modbus::applyRegister(rig.panel, rig.state, 9, code);
            QCOMPARE(rig.panel.text(Ctl::Label20), QStringLiteral(" OTP"));
        }
        modbus::applyRegister(rig.panel, rig.state, 9, 0);
        QCOMPARE(rig.panel.text(Ctl::Label20), QStringLiteral("    "));
    }

    void thirtyTwoBitCounts_data()
    {
        QTest::addColumn<int>("high");
        QTest::addColumn<int>("low");
        QTest::addColumn<QString>("capacity");
        QTest::newRow("65.536") << 0x0001 << 0x0000 << "65.536AH";
        QTest::newRow("1.000") << 0x0000 << 0x03E8 << "1.000AH";
        QTest::newRow("max") << 0xFFFF << 0xFFFF << "4294967.295AH";
    }
    void thirtyTwoBitCounts()
    {
        QFETCH(int, high);
        QFETCH(int, low);
        QFETCH(QString, capacity);
        Rig rig;
        std::array<std::uint16_t, 18> regs{};
        regs[3] = regs[5] = std::uint16_t(high);
        regs[4] = regs[6] = std::uint16_t(low);
        rig.state.ReceiveHex = modbus::hexText(readReply(1, regs));
        modbus::DecodeReply(rig.panel, rig.state, nullptr);
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW3), capacity);
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW4), QString(capacity).replace("AH", "WH"));
        // A second reply starts the counts afresh.
        regs[3] = regs[5] = 0;
        regs[4] = regs[6] = 7;
        rig.state.ReceiveHex = modbus::hexText(readReply(1, regs));
        modbus::DecodeReply(rig.panel, rig.state, nullptr);
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW3), QStringLiteral("0.007AH"));
    }

    void loadSwitchReadBack()
    {
        Rig rig;
        modbus::applyRegister(rig.panel, rig.state, 17, 1);
        QCOMPARE(rig.panel.text(Ctl::Command5), QStringLiteral("ON"));
        QCOMPARE(rig.panel.backColor(Ctl::Label15_0), kGreen);
        QVERIFY(!rig.panel.isEnabled(Ctl::Command4));
        QCOMPARE(rig.state.LoadState, 1);

        modbus::applyRegister(rig.panel, rig.state, 17, 0);
        QCOMPARE(rig.panel.text(Ctl::Command5), QStringLiteral("OFF"));
        QCOMPARE(rig.panel.backColor(Ctl::Label15_0), kWhite);
        QVERIFY(rig.panel.isEnabled(Ctl::Command4));

        modbus::applyRegister(rig.panel, rig.state, 17, 2);
        QCOMPARE(rig.panel.text(Ctl::Command5), QStringLiteral("OFF"));
        QCOMPARE(rig.state.LoadState, 2);

        modbus::applyRegister(rig.panel, rig.state, 17, 1);
        modbus::applyRegister(rig.panel, rig.state, 17, 65535); // no 16-bit signed value
        QCOMPARE(rig.panel.text(Ctl::Command5), QStringLiteral("OFF"));
        QVERIFY(rig.panel.isEnabled(Ctl::Command4));
    }

    void everyRegisterIsReadAtItsOwnPosition()
    {
        Rig rig;
        const auto regs = distinctRegisters();
        const QString hex = modbus::hexText(readReply(1, regs));
        QCOMPARE(hex.size(), 123);
        for (int d = 0; d < 18; ++d)
            QCOMPARE(modbus::registerAt(hex, d), std::optional<std::uint16_t>(regs[d]));
    }

    void decodedReplyShowsEveryRegisterAndWritesOneRow()
    {
        Rig rig;
        CountingRows rows;
        std::array<std::uint16_t, 18> regs = {125, 1210, 1512, 0, 2500, 0,    30250, 45, 36,
                                              0,   1,    5,    9, 200,  1000, 10000, 1,  0};
        rig.state.ReceiveHex = modbus::hexText(readReply(1, regs));
        modbus::DecodeReply(rig.panel, rig.state, &rows);
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW0), QStringLiteral("1.25A"));
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW1), QStringLiteral("12.10V"));
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW2), QStringLiteral("15.12W"));
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW3), QStringLiteral("2.500AH"));
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW4), QStringLiteral("30.250WH"));
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW5), QStringLiteral("45MR"));
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW7), QStringLiteral("36℃"));
        QCOMPARE(rig.panel.text(Ctl::Label17_0) + rig.panel.text(Ctl::Label17_1) +
                     rig.panel.text(Ctl::Label17_2),
                 QStringLiteral("010509"));
        QCOMPARE(rig.panel.text(Ctl::Text3), QStringLiteral("2.00"));
        QCOMPARE(rig.panel.text(Ctl::Text4), QStringLiteral("10.00"));
        QCOMPARE(rig.panel.text(Ctl::Text5), QStringLiteral("100.00"));
        QCOMPARE(rig.panel.text(Ctl::Combo6), QStringLiteral("9600"));
        QCOMPARE(rows.rows, 1);
    }

    void shortRepliesLeaveRegistersWithoutDataAlone()
    {
        Rig rig;
        CountingRows rows;
        rig.panel.setText(Ctl::AI_SHOW1, QStringLiteral("12.00V"));
        rig.panel.setText(Ctl::Text3, QStringLiteral("9.99"));
        std::array<std::uint16_t, 18> regs{};
        regs.fill(0xFFFF);
        regs[0] = 300;
        rig.state.ReceiveHex = modbus::hexText(readReply(1, regs, 1)); // 21 characters
        modbus::DecodeReply(rig.panel, rig.state, &rows);
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW0), QStringLiteral("3.00A"));
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW1), QStringLiteral("12.00V"));
        QCOMPARE(rig.panel.text(Ctl::Text3), QStringLiteral("9.99"));
        QCOMPARE(rig.panel.text(Ctl::Command5), QStringLiteral("OFF"));

        rig.state.ReceiveHex = modbus::hexText(readReply(1, regs, 8)); // 63 characters
        modbus::DecodeReply(rig.panel, rig.state, &rows);
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW5), QStringLiteral("65535MR"));
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW7), QString());
        QCOMPARE(rows.rows, 2);
    }

    void writeEchoDecodesNothing()
    {
        Rig rig;
        CountingRows rows;
        rig.state.ReceiveHex = modbus::hexText(withCrc(QByteArray::fromHex("010600110001")));
        modbus::DecodeReply(rig.panel, rig.state, &rows);
        QCOMPARE(rig.panel.text(Ctl::AI_SHOW0), QString());
        QCOMPARE(rig.panel.text(Ctl::Command5), QStringLiteral("OFF"));
        QCOMPARE(rows.rows, 0);
    }
};

QTEST_APPLESS_MAIN(DecodeTest)
#include "test_decode.moc"
