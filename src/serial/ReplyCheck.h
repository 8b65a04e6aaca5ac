#pragma once
// The receive side of every exchange: arriving bytes become hex text, and
// one tick of Timer1 judges what has come back against the request.

#include <QString>

namespace eload {

struct Context;
class RowWriter;
namespace modbus {
class ReadingSink;
}

class ReplyCheck {
public:
    ReplyCheck(Context& ctx, RowWriter* rows);

    // Data received: everything waiting is appended to ReceiveHex.
    void MSComm1_OnComm();
    // The one check of the outstanding request.
    void Timer1_Timer();

    // A reply passes when it answers the request's address and function,
    // has one of the reply lengths and its CRC is right.
    static bool accepted(const QString& sendHex, const QString& receiveHex);

    // Told of each reading of the whole block after the row writer.
    void setReadingSink(modbus::ReadingSink* sink) { readings_ = sink; }

private:
    Context& ctx_;
    RowWriter* rows_;
    modbus::ReadingSink* readings_ = nullptr;
};

} // namespace eload
