// The compact curve: every field of every sample back as it went in (floats
// and doubles by their bits, also those no register gives), damaged blocks
// refused without harm, and a nine-hour test in well under 1 MB.

#include "Synthetic.h"

#include "library/CurveCodec.h"
#include "library/Store.h"

#include <QTest>
#include <cmath>
#include <limits>

using namespace eload;
using discharge::Sample;

namespace {

Sample plain(qint64 msecs)
{
    Sample s;
    s.msecs = msecs;
    s.monotonicMsecs = msecs;
    s.voltage = 3.7f;
    s.current = 1.0f;
    s.power = 3.7f;
    s.capacityAh = 0.5;
    s.energyWh = 1.85;
    return s;
}

std::vector<Sample> oddSamples()
{
    std::vector<Sample> v;
    const float floats[] = {12.345f,
                            -0.0f,
                            std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -3.25f,
                            std::numeric_limits<float>::max(),
                            std::numeric_limits<float>::denorm_min()};
    const double doubles[] = {1.0 / 3, -0.0, 1e300, -42.0001, std::nan(""), 65536.789};
    for (int i = 0; i < 7; ++i) {
        Sample s = plain(1'772'719'200'000 + i * 499);
        s.monotonicMsecs = -5 + i * 1'000'000'007LL; // unrelated to the wall clock
        s.voltage = floats[i];
        s.current = floats[6 - i];
        s.power = floats[(i + 3) % 7];
        s.capacityAh = doubles[i % 6];
        s.energyWh = doubles[(i + 2) % 6];
        s.temperatureC = i % 2 ? 65535 : 0;
        s.resistanceMilliohm = std::uint16_t(65535 - i);
        s.protection = std::uint16_t(i * 3);
        s.loadOn = i % 3 == 0;
        s.dischargeSeconds = i % 2 ? std::numeric_limits<std::int32_t>::max()
                                   : std::numeric_limits<std::int32_t>::min();
        v.push_back(s);
    }
    return v;
}

void compareSamples(const std::vector<Sample>& got, const std::vector<Sample>& want)
{
    QCOMPARE(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        if (!library::sameSample(got[i], want[i]))
            QFAIL(qPrintable(QStringLiteral("sample %1 differs").arg(i)));
}

} // namespace

class TestCodec : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<std::vector<Sample>>("samples");
        QTest::newRow("none") << std::vector<Sample>{};
        QTest::newRow("one") << std::vector<Sample>{plain(1)};
        QTest::newRow("from registers")
            << testing::syntheticDischarge({5000, 7, 1'772'719'200'000, 500, true});
        QTest::newRow("values no register gives") << oddSamples();
        auto mixed = testing::syntheticDischarge({300, 3, 1'772'719'200'000, 500, false});
        mixed[150].voltage = 3.14159f; // one odd value turns its column to bits
        mixed[10].energyWh = 2.0 / 3;
        QTest::newRow("registers with one odd value") << mixed;
    }
    void roundTrip()
    {
        QFETCH(std::vector<Sample>, samples);
        for (int level : {0, 1, 6, 9}) {
            std::vector<Sample> back{plain(99)}; // decoding appends
            QVERIFY(!library::decodeSamples(library::encodeSamples(samples, level), back));
            back.erase(back.begin());
            compareSamples(back, samples);
        }
    }

    void damagedBlocks_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray good = library::encodeSamples(
            testing::syntheticDischarge({200, 1, 1'772'719'200'000, 500, true}));
        const auto packed = [](const QByteArray& plain) { return 'Z' + qCompress(plain); };
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("unknown packing") << QByteArray("X\x01\x00", 3);
        QTest::newRow("cut short") << good.left(good.size() / 2);
        QTest::newRow("no zlib") << QByteArray("Z\x00\x00\x01\x00garbage-garbage", 20);
        QTest::newRow("declares 4 GiB") << QByteArray("Z\xff\xff\xff\xff\x78\x9c\x03\x00", 9);
        QByteArray flipped = good;
        flipped[flipped.size() - 3] = char(flipped[flipped.size() - 3] ^ 0x55);
        QTest::newRow("a flipped byte") << flipped;
        // Whole blocks around values that end too early or run on.
        QTest::newRow("values cut off") << packed(QByteArray("\x01\x05\x02\x02", 4));
        QTest::newRow("values cut off, not packed") << QByteArray("P\x01\x05\x02\x02", 5);
        QTest::newRow("values run on") << QByteArray("P\x01\x00\x00\x00\x00\x00\x00\x00", 9);
        QTest::newRow("unknown format") << packed(QByteArray("\x09\x00", 2));
        QTest::newRow("count beyond the data") << packed(QByteArray("\x01\xff\xff\xff\x0f", 5));
    }
    void damagedBlocks()
    {
        QFETCH(QByteArray, bytes);
        std::vector<Sample> out{plain(1)};
        const auto failure = library::decodeSamples(bytes, out);
        QVERIFY(failure);
        QVERIFY(failure->message.contains(QLatin1String("damaged")));
        QCOMPARE(out.size(), std::size_t(1));
    }

    // Nine hours at two replies a second, in the blocks the store keeps.
    void nineHoursUnderOneMegabyte()
    {
        const auto samples =
            testing::syntheticDischarge({64'800, 11, 1'772'719'200'000, 500, true});
        qint64 bytes = 0;
        std::vector<Sample> back;
        for (std::size_t at = 0; at < samples.size(); at += library::kBlockSamples) {
            const auto block = std::span(samples).subspan(
                at, std::min<std::size_t>(library::kBlockSamples, samples.size() - at));
            const QByteArray encoded = library::encodeSamples(block, 9);
            bytes += encoded.size();
            QVERIFY(!library::decodeSamples(encoded, back));
        }
        compareSamples(back, samples);
        QVERIFY2(bytes < 1'000'000, qPrintable(QString::number(bytes)));
    }
};

QTEST_GUILESS_MAIN(TestCodec)
#include "test_codec.moc"
