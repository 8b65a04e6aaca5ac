// CRC-16, hex text and the request frames, checked against published values
// and the frames the module's documentation quotes.

#include "modbus/Crc16.h"
#include "modbus/Frames.h"
#include "modbus/HexText.h"

#include <QTest>

using namespace eload::modbus;

class FramesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void crc()
    {
        // CRC-16/MODBUS check value over "123456789", low byte first on the wire.
        QCOMPARE(crc16(QByteArray("123456789")), std::uint16_t(0x4B37));
        QCOMPARE(CRC16(QByteArray("123456789"), 8).right(2), QByteArray("\x37\x4B"));
        // Bytes beyond `last` are ignored and the input is left alone.
        const QByteArray buf = QByteArray::fromHex("010300000012FFFF");
        QCOMPARE(CRC16(buf, 5), QByteArray::fromHex("010300000012C5C7"));
        QVERIFY(crcMatches(QByteArray::fromHex("010300000012C5C7")));
        QVERIFY(!crcMatches(QByteArray::fromHex("010300000012C5C8")));
        QVERIFY(!crcMatches(QByteArray::fromHex("01")));
    }

    void quotedFrames_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("hex");
        QTest::newRow("poll 1") << measurementPoll(1) << "01 03 00 00 00 12 C5 C7 ";
        QTest::newRow("poll 2") << measurementPoll(2) << "02 03 00 00 00 12 C5 F4 ";
        QTest::newRow("poll 247") << measurementPoll(247) << "F7 03 00 00 00 12 D1 51 ";
        QTest::newRow("clear") << clearData(1) << "01 06 00 12 00 01 E8 0F ";
        QTest::newRow("load on") << loadSwitch(1, 1) << "01 06 00 11 00 01 18 0F ";
        QTest::newRow("load off") << loadSwitch(1, 0) << "01 06 00 11 00 00 D9 CF ";
        QTest::newRow("address 5") << changeAddress(5) << "00 06 00 00 00 05 48 18 ";
        QTest::newRow("address 1") << changeAddress(1) << "00 06 00 00 00 01 49 DB ";
        QTest::newRow("presets") << writePresets(1, {200, 150, 10000, 1, 0})
                                 << "01 10 00 0D 00 05 0A 00 C8 00 96 27 10 00 01 00 00 5A 2D ";
    }
    void quotedFrames()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, hex);
        const QString text = hexText(CRC16(request, std::uint8_t(request.size() - 1)));
        QCOMPARE(text, hex);
        QCOMPARE(text.size(), 3 * (request.size() + 2));
    }

    void hexTextDigits()
    {
        QCOMPARE(hexText(QByteArray::fromHex("0AFF00")), QStringLiteral("0A FF 00 "));
        QVERIFY(!bytesOfHexText(QStringLiteral("0a "))); // only our own upper-case text
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value"); // -1: refused
        QTest::newRow("1") << "1" << 1;
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("255") << "255" << 255;
        QTest::newRow("blanks") << " 7 " << 7;
        QTest::newRow("256") << "256" << -1;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("fraction") << "1.5" << -1;
        QTest::newRow("letters") << "abc" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("huge") << "99999999999" << -1;
        QTest::newRow("full-width digit") << QString::fromUtf8("１") << -1;
    }
    void addresses()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        const auto a = parseAddress(text);
        QCOMPARE(a ? int(*a) : -1, value);
    }
};

QTEST_APPLESS_MAIN(FramesTest)
#include "test_frames.moc"
