#include "serial/ReplyCheck.h"

#include "acquisition/AcquisitionState.h"
#include "core/Clock.h"
#include "core/Context.h"
#include "core/FormState.h"
#include "core/Panel.h"
#include "core/Texts.h"
#include "modbus/Crc16.h"
#include "modbus/Decode.h"
#include "modbus/HexText.h"
#include "modbus/ReadingSink.h"
#include "serial/SerialDevice.h"

namespace eload {

namespace {
// No accepted reply is longer than 41 bytes; a line that keeps talking
// between requests must not grow the text without end.
constexpr qsizetype kMaxReceiveHex = 3 * 256;

// A read reply, or the 8-byte answer to a write.
bool replyLength(qsizetype n) { return n == 24 || modbus::readReplyRegisters(n).has_value(); }
} // namespace

ReplyCheck::ReplyCheck(Context& ctx, RowWriter* rows) : ctx_(ctx), rows_(rows) {}

void ReplyCheck::MSComm1_OnComm()
{
    const QByteArray bytes = ctx_.port.readAll();
    QString& hex = ctx_.state.ReceiveHex;
    if (hex.size() < kMaxReceiveHex)
        modbus::appendHexText(hex, bytes.left((kMaxReceiveHex - hex.size()) / 3 + 1));
}

bool ReplyCheck::accepted(const QString& sendHex, const QString& receiveHex)
{
    if (receiveHex.left(5) != sendHex.left(5) || !replyLength(receiveHex.size())) return false;
    // Line noise with the right length must not become a measurement.
    const auto bytes = modbus::bytesOfHexText(receiveHex);
    return bytes && modbus::crcMatches(*bytes);
}

void ReplyCheck::Timer1_Timer()
{
    Panel& panel = ctx_.panel;
    FormState& state = ctx_.state;
    // Off first: a box opened while decoding (a failed save) must not let
    // the same reply be checked twice.
    panel.setTimerEnabled(Timer::Timer1, false);

    if (accepted(state.SendHex, state.ReceiveHex)) {
        panel.setText(Ctl::Text2, state.ReceiveHex);
        const auto block = modbus::DecodeReply(panel, state, rows_);
        panel.setText(Ctl::Message_Show, texts::kReplyGood);
        if (block && readings_)
            readings_->takeReading(modbus::readingFromRegisters(*block, ctx_.clock.now(),
                                                                ctx_.clock.monotonicMsecs()));
    } else {
        panel.setText(Ctl::Message_Show, texts::kReplyBad);
        if (readings_) readings_->replyMissed(ctx_.clock.monotonicMsecs());
    }
    resumeAcquisition(panel, state);
}

} // namespace eload
