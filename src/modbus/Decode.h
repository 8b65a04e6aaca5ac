#pragma once
// Read replies are decoded from their hex text: register d's four digits
// stand at characters 6d+10, 6d+11, 6d+13 and 6d+14 (counted from 1).

#include "modbus/Reading.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace eload {

class Panel;
struct FormState;
class RowWriter;

namespace modbus {

// Registers carried by a read reply of `hexLength` characters, or nothing
// when that is no read-reply length (a write echo, for one).
std::optional<int> readReplyRegisters(qsizetype hexLength);

// Register d of the hex text; nothing where the text holds no digits there.
std::optional<std::uint16_t> registerAt(const QString& hex, int d);

// Applies the display rules to every register the reply in ReceiveHex
// carries, in register order, then tells the row writer. Replies that are
// no function-3 read are ignored. Gives the registers back when the reply
// carried the whole block.
std::optional<RegisterBlock> DecodeReply(Panel& panel, FormState& state, RowWriter* rows);

} // namespace modbus
} // namespace eload
