#include "fuzz/ReplyFuzz.h"

#include "modbus/Crc16.h"
#include "modbus/Frames.h"
#include "modbus/HexText.h"
#include "modbus/RowWriter.h"
#include "serial/ReplyCheck.h"
#include "support/Rig.h"

#include <cstdio>

namespace eload::test {

namespace {

// What the operator reads off the window: values, status, clock, presets
// and the load switch. Message_Show and the hex boxes are not values.
constexpr Ctl kShown[] = {Ctl::AI_SHOW0,  Ctl::AI_SHOW1,  Ctl::AI_SHOW2, Ctl::AI_SHOW3,
                          Ctl::AI_SHOW4,  Ctl::AI_SHOW5,  Ctl::AI_SHOW7, Ctl::Label17_0,
                          Ctl::Label17_1, Ctl::Label17_2, Ctl::Label20,  Ctl::Text3,
                          Ctl::Text4,     Ctl::Text5,     Ctl::Combo6,   Ctl::Command5};

struct Snapshot {
    QStringList texts;
    bool command4 = true;
    Rgb rim;
    std::int16_t loadState = 0;
    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

Snapshot snapshot(const Rig& rig)
{
    Snapshot s;
    for (Ctl c : kShown)
        s.texts << rig.panel.text(c);
    s.command4 = rig.panel.isEnabled(Ctl::Command4);
    s.rim = rig.panel.backColor(Ctl::Label15_0);
    s.loadState = rig.state.LoadState;
    return s;
}

struct CountingRows : RowWriter {
    int rows = 0;
    void WriteRow() override { ++rows; }
};

// Independent of the reply check: an answer is the request's address and
// function, one of the reply lengths, and a correct CRC.
bool isAnswer(const QByteArray& request, const QByteArray& reply)
{
    static const QList<qsizetype> lengths = {41, 21, 19, 17, 15, 8, 7};
    return reply.size() >= 2 && reply.left(2) == request.left(2) &&
           lengths.contains(reply.size()) && modbus::crcMatches(reply);
}

// Only an answer to a read with 1, 5, 6, 7, 8 or 18 registers carries values.
bool isGoodReadReply(const QByteArray& request, const QByteArray& reply)
{
    return request[1] == 0x03 && isAnswer(request, reply) && reply.size() != 8;
}

bool fail(const char* why)
{
    std::fprintf(stderr, "reply fuzz: %s\n", why);
    return false;
}

} // namespace

bool runReplyFuzzCase(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return true;
    Rig rig;
    CountingRows rows;
    ReplyCheck check(rig.ctx, &rows);
    rig.port.setListener(nullptr);

    // First byte: which request is outstanding (a read, or a write whose echo
    // must not decode); second: its slave address.
    const std::uint8_t slave = data[1];
    QByteArray request =
        (data[0] & 1) ? modbus::loadSwitch(slave, data[0] >> 7) : modbus::measurementPoll(slave);
    request = modbus::CRC16(request, std::uint8_t(request.size() - 1));
    rig.state.SendHex = modbus::hexText(request);

    // Seed the window with values, so that a change cannot hide as "empty".
    for (Ctl c : kShown)
        rig.panel.setText(c, QStringLiteral("seed"));
    const Snapshot before = snapshot(rig);

    // The rest: pieces, each a length byte and up to that many bytes.
    QByteArray received;
    std::size_t at = 2;
    while (at < size) {
        const std::size_t len = qMin<std::size_t>(data[at] % 48, size - at - 1);
        const QByteArray piece(reinterpret_cast<const char*>(data + at + 1), qsizetype(len));
        at += len + 1;
        rig.port.pending.append(piece);
        received.append(piece);
        check.MSComm1_OnComm();
    }
    check.Timer1_Timer();

    const bool good = isGoodReadReply(request, received);
    const Snapshot after = snapshot(rig);
    if (!good && !(after == before))
        return fail("a reply that is no correct read reply changed the display");
    if (!good && rows.rows != 0)
        return fail("a row was recorded for a reply that is no correct read reply");
    if (good && rows.rows != 1) return fail("a correct read reply did not write exactly one row");
    const bool answered = rig.panel.text(Ctl::Message_Show) == texts::kReplyGood;
    if (answered != isAnswer(request, received))
        return fail("the status line disagrees with the reply");
    if (rig.panel.isTimerEnabled(Timer::Timer1)) return fail("Timer1 still runs after its check");
    return true;
}

} // namespace eload::test
