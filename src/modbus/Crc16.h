#pragma once
// Modbus CRC-16 (reflected polynomial 0xA001, initial 0xFFFF, no final XOR).

#include <QByteArray>
#include <cstdint>

namespace eload::modbus {

// CRC of `data` as one 16-bit value; on the wire the low byte goes first.
std::uint16_t crc16(const char* data, qsizetype size);
inline std::uint16_t crc16(const QByteArray& data) { return crc16(data.constData(), data.size()); }

// The request held in bytes[0..last], followed by its CRC low byte, then
// high byte. Bytes beyond `last` are ignored; the input is not changed.
QByteArray CRC16(const QByteArray& bytes, std::uint8_t last);

// True when the last two bytes of `frame` are the CRC of the bytes before.
bool crcMatches(const QByteArray& frame);

} // namespace eload::modbus
