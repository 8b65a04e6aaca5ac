#pragma once
// The master's end of the simulator's line for tests: the pty opened by path
// like a serial port, raw, at a chosen speed.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace eload::test {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

class LineEnd {
public:
    LineEnd() = default;
    ~LineEnd() { close(); }
    LineEnd(const LineEnd&) = delete;
    LineEnd& operator=(const LineEnd&) = delete;

    bool open(const std::string& path, int baud = 9600);
    void close();
    bool setBaud(int baud);

    void send(const Bytes& bytes);
    // Everything that arrives until `quiet` passes without a byte, or nothing
    // when the first byte takes longer than `firstByte`.
    Bytes receive(std::chrono::milliseconds firstByte = 1000ms,
                  std::chrono::milliseconds quiet = 80ms);
    // Sends, then receives with the defaults.
    Bytes exchange(const Bytes& request);

    // When the last receive() saw its first and its last byte.
    std::chrono::steady_clock::time_point firstAt, lastAt;
    // The line went away under the open port (read failed or hung up).
    bool hungUp = false;

private:
    int fd_ = -1;
};

// A request or reply: the bytes given, then their CRC.
Bytes frame(Bytes bytes);

} // namespace eload::test
