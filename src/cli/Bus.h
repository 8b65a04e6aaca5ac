#pragma once
// The RS-485 line as a Modbus RTU master, through libmodbus: one exchange at
// a time, each with timeouts for its own lengths at the line's speed, retried
// a bounded number of times; a reply that fails any check is never decoded.
// The requests are the panel's: the same function codes, registers and words
// as modbus/Frames.h builds. Between two frames the line keeps the 3.5
// characters of silence that Modbus RTU asks for.
//
// The port is owned (serial/PortLock.h): its lock file for as long as the Bus
// lives, flock and the exclusive flag while the device is open, the flag
// cleared before every close. A device that fails (unplugged, hung up) is
// closed at once, so that an adapter plugged back in can take its old name,
// and may be opened again by its path with reopen().
//
// Every call blocks until its exchange is over; callers that must stay
// responsive run the bus on a thread of its own.

#include "modbus/Frames.h"
#include "modbus/Reading.h"

#include <QString>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <variant>

struct _modbus;

namespace eload {
class PortLockFile;
}

namespace eload::cli {

struct Line {
    QString path;
    int baud = 9600;
    QString text() const; // "/dev/ttyUSB0 at 9600 Bd"
};

// Why an attempt brought no usable reply.
enum class Failure {
    NoAnswer,   // nothing, or too little, within the timeouts
    BadCrc,     // a reply whose CRC is wrong
    Exception,  // the module refused the request with an exception reply
    WrongReply, // another address, function or length than the request's
    LineDown,   // the device failed or went away; retrying cannot help
};
inline constexpr int kFailureKinds = 5;
QString failureText(Failure f); // "no answer", "wrong CRC" ...

// Per module: good replies and failed attempts by kind.
struct Tally {
    int replies = 0;
    std::array<int, kFailureKinds> failures{};
    int failed() const;
    QString text() const; // "12 replies, 2 failures (no answer 2)"
};

struct ExchangeError {
    Failure kind;
    QString message; // names the address, the line and what went wrong
};

struct OpenError {
    QString message; // the device, what is wrong and, for rights, what to do
};

class Bus {
public:
    static constexpr int kTries = 3;
    // What a module may take to start its reply, beyond the request's own time
    // on the wire.
    static constexpr int kTurnaroundMs = 100;

    static std::variant<std::unique_ptr<Bus>, OpenError> open(const Line& line);
    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // `tries` below kTries: for a module known to be silent, whose retries
    // would only hold the others up.
    std::variant<modbus::RegisterBlock, ExchangeError> readBlock(std::uint8_t address,
                                                                 int tries = kTries);
    // One try with a short wait for the reply, for a scan of the line: silence
    // here only means that nobody has this address.
    std::variant<modbus::RegisterBlock, ExchangeError> scanBlock(std::uint8_t address);
    std::optional<ExchangeError> writePresets(std::uint8_t address, const modbus::PresetWords& w);
    std::optional<ExchangeError> switchLoad(std::uint8_t address, bool on);
    std::optional<ExchangeError> clearData(std::uint8_t address);
    // The broadcast address change, sent once: every module takes it, and
    // several echoes may collide, so the echo is waited for but not required.
    // True when a well-formed echo came back.
    bool changeAddress(std::uint8_t newAddress);

    // The device is open; false after it failed, until reopen() succeeds.
    bool isUp() const { return ctx_ != nullptr && up_; }
    // Opens the device again by its path, as open() did.
    std::optional<OpenError> reopen();
    // From any thread: every exchange tries once only from now on (a program
    // that must be gone within a second).
    void hurry() { hurry_ = true; }

    const Line& line() const { return line_; }
    Tally tally(std::uint8_t address) const;

    // A time on the wire for `bytes` characters at the line's speed.
    std::chrono::microseconds charactersTime(double bytes) const;
    // What scanBlock() takes for `addresses` silent addresses.
    std::chrono::milliseconds scanTime(int addresses) const;

private:
    // How an exchange is tried: how often, how long the module may take to
    // start its reply, and whether a try that brought nothing at all is
    // followed by the pause that lets a late reply pass.
    struct Attempts {
        int tries = kTries;
        int turnaroundMs = kTurnaroundMs;
        bool settleAfterSilence = true;
    };

    Bus(_modbus* ctx, Line line, std::unique_ptr<PortLockFile> lock);
    std::optional<OpenError> connectDevice();
    void closeDevice();
    std::variant<modbus::RegisterBlock, ExchangeError> readWith(std::uint8_t address,
                                                                const Attempts& attempts);
    bool awaitFirstByte(std::chrono::steady_clock::time_point due);
    int readAll(std::uint8_t address, modbus::RegisterBlock& block);
    std::optional<ExchangeError> exchange(std::uint8_t address, int requestBytes,
                                          const Attempts& attempts,
                                          const std::function<int(_modbus*)>& call);
    void setTimeouts(int requestBytes, int turnaroundMs);
    void keepFrameGap();
    void drain();

    _modbus* ctx_;
    Line line_;
    std::unique_ptr<PortLockFile> lock_;
    bool up_ = false;
    std::atomic<bool> hurry_{false};
    std::chrono::steady_clock::time_point lastFrameEnd_{};
    std::chrono::milliseconds responseAllowance_{kTurnaroundMs}; // of the exchange under way
    std::map<std::uint8_t, Tally> tallies_;
};

} // namespace eload::cli
