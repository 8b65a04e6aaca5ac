#pragma once
// The module's side of Modbus RTU: which frames it takes, and the reply to
// each. Written apart from the panel's own frame code on purpose, so that a
// misreading of the protocol cannot hide on both ends at once.

#include "sim/Module.h"

#include <cstdint>
#include <vector>

namespace eload::sim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kBroadcastAddress = 0;

enum ExceptionCode : std::uint8_t {
    IllegalFunction = 0x01,
    IllegalDataAddress = 0x02,
    IllegalDataValue = 0x03,
};

// The CRC-16 of `bytes` appended, low byte first.
Bytes withCrc(Bytes bytes);
bool crcValid(const Bytes& frame);

// A frame the module takes: CRC right, and its own or the broadcast address.
bool isForModule(const Bytes& frame, std::uint8_t address);

// Carries out a taken request on `module` and returns the reply, empty when
// none is due (broadcasts, but for the address change's echo unless
// `broadcastSilent`).
Bytes serve(Module& module, const Bytes& frame, bool broadcastSilent);

// The exception reply to `frame` (same address, function | 80h).
Bytes exceptionReply(const Bytes& frame, std::uint8_t code);

} // namespace eload::sim
