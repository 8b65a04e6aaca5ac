#include "modbus/Crc16.h"

namespace eload::modbus {

std::uint16_t crc16(const char* data, qsizetype size)
{
    // Register as hi:lo; each bit shifts right, 0xA001 folds in on a carry.
    std::uint16_t crc = 0xFFFF;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= static_cast<std::uint8_t>(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

QByteArray CRC16(const QByteArray& bytes, std::uint8_t last)
{
    const qsizetype count = qMin<qsizetype>(qsizetype(last) + 1, bytes.size());
    QByteArray frame = bytes.left(count);
    const std::uint16_t crc = crc16(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

bool crcMatches(const QByteArray& frame)
{
    if (frame.size() < 3) return false;
    const std::uint16_t crc = crc16(frame.constData(), frame.size() - 2);
    return std::uint8_t(frame[frame.size() - 2]) == (crc & 0xFF) &&
           std::uint8_t(frame[frame.size() - 1]) == (crc >> 8);
}

} // namespace eload::modbus
