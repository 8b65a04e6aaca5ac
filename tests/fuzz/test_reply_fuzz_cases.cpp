// The fuzz case over fixed inputs in every build: a good reply cut at every
// point, and seeded random noise.

#include "fuzz/ReplyFuzz.h"
#include "support/Rig.h"

#include <QRandomGenerator>
#include <QTest>

using namespace eload::test;

namespace {
QByteArray caseOf(std::uint8_t kind, std::uint8_t slave, const QList<QByteArray>& pieces)
{
    QByteArray in;
    in.append(char(kind));
    in.append(char(slave));
    for (const QByteArray& p : pieces) {
        in.append(char(p.size()));
        in.append(p);
    }
    return in;
}

bool run(const QByteArray& in)
{
    return runReplyFuzzCase(reinterpret_cast<const std::uint8_t*>(in.constData()),
                            std::size_t(in.size()));
}

QByteArray fullReply(std::uint8_t slave)
{
    std::array<std::uint16_t, 18> regs{};
    for (int i = 0; i < 18; ++i)
        regs[i] = std::uint16_t(1000 + 37 * i);
    return readReply(slave, regs);
}
} // namespace

class ReplyFuzzCases : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void goodReplyCutAnywhere()
    {
        const QByteArray reply = fullReply(7);
        for (int cut = 0; cut <= reply.size(); ++cut)
            QVERIFY2(run(caseOf(0, 7, {reply.left(cut), reply.mid(cut)})),
                     qPrintable(QString::number(cut)));
    }


    void writeEchoAndSeededNoise()
    {
        QVERIFY(run(caseOf(1, 1, {withCrc(QByteArray::fromHex("010600110000"))})));
        QRandomGenerator rng(20261207);
        for (int n = 0; n < 3000; ++n) {
            QByteArray in(int(rng.bounded(2, 200)), Qt::Uninitialized);
            for (char& c : in)
                c = char(rng.bounded(256));
            QVERIFY(run(in));
        }
    }
};

QTEST_APPLESS_MAIN(ReplyFuzzCases)
#include "test_reply_fuzz_cases.moc"
