#include "sim/Slave.h"

#include "modbus/Crc16.h"

#include <variant>

namespace eload::sim {

namespace {

enum : std::uint8_t { ReadHolding = 0x03, WriteSingle = 0x06, WriteMultiple = 0x10 };

constexpr int kReadable = 18; // registers 0..17
constexpr int kMaxReadCount = 125;
constexpr int kMaxWriteCount = 123;
constexpr std::size_t kFixedRequestSize = 8; // 03h and 06h
constexpr std::size_t kWriteMultipleHeader = 7;
constexpr std::size_t kCrcSize = 2;

// The reply before its CRC, or the exception to send instead.
using Answer = std::variant<Bytes, ExceptionCode>;

std::uint16_t wordAt(const Bytes& frame, std::size_t offset)
{
    return std::uint16_t((frame[offset] << 8) | frame[offset + 1]);
}

void appendWord(Bytes& bytes, std::uint16_t word)
{
    bytes.push_back(std::uint8_t(word >> 8));
    bytes.push_back(std::uint8_t(word & 0xFF));
}

std::uint16_t crcOf(const std::uint8_t* data, std::size_t size)
{
    return modbus::crc16(reinterpret_cast<const char*>(data), qsizetype(size));
}

Answer readRegisters(const Module& module, const Bytes& frame)
{
    if (frame.size() != kFixedRequestSize) return IllegalDataValue;
    const int start = wordAt(frame, 2);
    const int count = wordAt(frame, 4);
    if (count < 1 || count > kMaxReadCount) return IllegalDataValue;
    if (start + count > kReadable) return IllegalDataAddress;
    Bytes reply{frame[0], frame[1], std::uint8_t(2 * count)};
    for (int n = start; n < start + count; ++n)
        appendWord(reply, module.reg(n));
    return reply;
}

Answer writeRegister(Module& module, const Bytes& frame)
{
    if (frame.size() != kFixedRequestSize) return IllegalDataValue;
    const int n = wordAt(frame, 2);
    const std::uint16_t value = wordAt(frame, 4);
    if (!Module::writable(n)) return IllegalDataAddress;
    if (!Module::accepts(n, value)) return IllegalDataValue;
    module.write(n, value);
    return Bytes(frame.begin(), frame.begin() + 6);
}

Answer writeRegisters(Module& module, const Bytes& frame)
{
    if (frame.size() < kWriteMultipleHeader + kCrcSize) return IllegalDataValue;
    const int start = wordAt(frame, 2);
    const int count = wordAt(frame, 4);
    const std::size_t byteCount = frame[6];
    if (count < 1 || count > kMaxWriteCount || byteCount != std::size_t(2 * count) ||
        frame.size() != kWriteMultipleHeader + byteCount + kCrcSize)
        return IllegalDataValue;
    for (int i = 0; i < count; ++i)
        if (!Module::writable(start + i)) return IllegalDataAddress;
    // All values are checked before the first is stored: all or nothing.
    for (int i = 0; i < count; ++i)
        if (!Module::accepts(start + i, wordAt(frame, kWriteMultipleHeader + 2 * std::size_t(i))))
            return IllegalDataValue;
    for (int i = 0; i < count; ++i)
        module.write(start + i, wordAt(frame, kWriteMultipleHeader + 2 * std::size_t(i)));
    return Bytes(frame.begin(), frame.begin() + 6);
}

Answer answer(Module& module, const Bytes& frame)
{
    switch (frame[1]) {
    case ReadHolding: return readRegisters(module, frame);
    case WriteSingle: return writeRegister(module, frame);
    case WriteMultiple: return writeRegisters(module, frame);
    default: return IllegalFunction;
    }
}

// The one broadcast the panel waits for: the address change's echo.
bool echoesBroadcast(const Bytes& frame)
{
    return frame[1] == WriteSingle && frame.size() == kFixedRequestSize && wordAt(frame, 2) == 0;
}

} // namespace

Bytes withCrc(Bytes bytes)
{
    const std::uint16_t crc = crcOf(bytes.data(), bytes.size());
    bytes.push_back(std::uint8_t(crc & 0xFF));
    bytes.push_back(std::uint8_t(crc >> 8));
    return bytes;
}

bool crcValid(const Bytes& frame)
{
    if (frame.size() < 3) return false;
    const std::uint16_t crc = crcOf(frame.data(), frame.size() - kCrcSize);
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

bool isForModule(const Bytes& frame, std::uint8_t address)
{
    // Address, function and CRC at the least.
    return frame.size() >= 4 && crcValid(frame) &&
           (frame[0] == address || frame[0] == kBroadcastAddress);
}

Bytes exceptionReply(const Bytes& frame, std::uint8_t code)
{
    return withCrc({frame[0], std::uint8_t(frame[1] | 0x80), code});
}

Bytes serve(Module& module, const Bytes& frame, bool broadcastSilent)
{
    const bool broadcast = frame[0] == kBroadcastAddress;
    // Nothing to read for everyone at once.
    if (broadcast && frame[1] == ReadHolding) return {};
    const Answer result = answer(module, frame);
    if (const auto* code = std::get_if<ExceptionCode>(&result))
        return broadcast ? Bytes{} : exceptionReply(frame, *code);
    if (broadcast && (broadcastSilent || !echoesBroadcast(frame))) return {};
    return withCrc(std::get<Bytes>(result));
}

} // namespace eload::sim
