#pragma once
// A simulated 150 W DC load module: a Modbus RTU slave on a pseudo-terminal,
// with a battery behind it, for trying the panel without hardware and for
// end-to-end tests that need a peer able to misbehave on demand.
//
// The line. start() opens a pseudo-terminal; the panel (or any master) opens
// its slave end, or the symlink Options::linkPath, as a serial port. The
// module answers only while the speed set on that end is the one it expects
// (register 16): a wrong speed shows as no reply, as on a real line. (A pty
// is always 8 bits without parity, so parity cannot be told apart.) Replies leave one character
// time (10 bits) per byte apart, so a 41-byte reply at 9600 Bd takes about 43 ms. A request ends
// with silence (Options::frameGapMs); pieces closer together are one request.
//
// The protocol. Functions 03h (registers 0..17, any start and count inside),
// 06h and 10h (registers 0 = bus address, 13..17 presets and load switch,
// 18 = 1 clears capacity, energy and time). Bad CRC, or another address: no
// answer. Unknown function 01h, register outside the map or read-only 02h,
// bad value or malformed request 03h, as exception replies. Accepted values:
// 0 1..255, 13 1..1000, 14 100..9999, 15 100..15000, 16 0..5, 17 0..1, 18 1.
// Broadcast (address 0) writes are carried out; 06h on register 0 is
// answered with its echo unless Options::broadcastSilent. A new baud-rate
// code takes effect after its reply.
//
// The model. A lithium pack of `cells` cells: open-circuit voltage falls
// with the charge taken, terminal voltage = OCV - current x register 7
// (milliohms). While the load is on (register 17 = 1) the current is the
// current preset, reduced so that voltage x current stays within the power
// preset; capacity (0.001 AH) and energy (0.001 WH) count up as 32-bit
// values, high word first, and the discharge time in registers 10..12.
// Temperature settles towards ambient + heatingCPerW x power. Protection
// (register 9, the load switched off, the code kept until the load is
// switched on again), checked in this order while the load is on:
//   4 OTP: temperature (register 8) at or above otpCelsius (default 80 C);
//   2 OPP: power above oppWatts (default 150 W, the rating: the power preset
//          keeps below it unless a test lowers oppWatts or sets register 15
//          beyond 15000);
//   1 UVLO: voltage below the low-voltage cut-off (register 14).
// Every count saturates at what its register holds.
//
// Several modules. Options::modules puts more than one module on the line,
// each with its own address, battery, registers, line speed and faults. A
// frame is taken by every module it is for (its address, or broadcast), and
// each carries it out on its own state; a broadcast thus reaches them all.
// Replies due at once overlap as on a shared wire, where a driven 0 bit wins:
// the master gets their bitwise AND, so the same echo from every module
// arrives once, and different replies (two modules given one address)
// almost always fail the CRC. Each reply keeps the pacing above; the line carries one request
// and its reply at a time, and every battery runs in real time x speed
// whichever module is answering.
//
// Threads. The modules run on one thread of their own from start() to
// stop(); every member function, of Simulator and of ModuleAccess, may be
// called from any other thread.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace eload::sim {

struct SimError {
    std::string message;
};

struct ModelParameters {
    bool running = true;           // false: registers keep whatever they are set to
    int cells = 3;                 // lithium cells in series, 4.20 V full, 3.00 V empty
    double capacityAh = 2.2;       // rated capacity of the pack
    double stateOfCharge = 1.0;    // 0..1 at start
    double ambientCelsius = 25;    // temperature with the load off
    double heatingCPerW = 0.35;    // temperature rise per watt, settled (150 W: +52 C)
    double coolingSeconds = 60;    // time constant of heating and cooling
    double oppWatts = 150;         // OPP above this power
    int otpCelsius = 80;           // OTP at or above this temperature
    std::uint16_t milliohms = 120; // register 7 at start
};

// One module of several on the line.
struct ModuleSetup {
    std::uint8_t address = 1; // 1..255, each once on the line
    ModelParameters model;
};

struct Options {
    std::uint8_t address = 1; // 1..255; the single module's, when `modules` is empty
    int baud = 9600;          // 4800, 9600, 19200, 38400, 57600 or 115200
    double speed = 1;         // model time runs this many times faster
    std::string linkPath;     // symlink to the pty; none when empty
    bool broadcastSilent = false;
    int frameGapMs = 0;    // silence that ends a request; 0: 3.5 characters, >= 5 ms
    ModelParameters model; // the single module's, when `modules` is empty
    // Several modules, in this order for Simulator::modules(); empty: one
    // module at `address` with `model`.
    std::vector<ModuleSetup> modules;
};

// "1,2,3", "1-4" or both ("1,3-5"): addresses 1..255 in the order given,
// each at most once; or why not.
std::variant<std::vector<std::uint8_t>, SimError> parseAddressList(const std::string& text);

// Misbehaviour for tests, applied to a request that the module takes (CRC
// right, its address or broadcast, line settings right).
struct Fault {
    enum class Kind {
        Late,         // amount: extra ms before the reply
        Silent,       // carried out, but the reply never leaves
        WrongCrc,     // last two bytes of the reply corrupted
        OtherAddress, // amount: reply from this address (CRC made to match)
        MissingBytes, // amount: bytes cut off the end of the reply
        ExtraBytes,   // amount: 00h bytes added after the reply
        Split,        // amount: pieces, gapMs: silence between them
        Exception,    // amount: exception code; the request is not carried out
        Ignored,      // answered as if carried out, but nothing changes (a switch that sticks)
    };
    Kind kind;
    int amount = 0;
    int gapMs = 0;

    static Fault late(int ms) { return {Kind::Late, ms}; }
    static Fault silent() { return {Kind::Silent}; }
    static Fault wrongCrc() { return {Kind::WrongCrc}; }
    static Fault otherAddress(int address) { return {Kind::OtherAddress, address}; }
    static Fault missingBytes(int count) { return {Kind::MissingBytes, count}; }
    static Fault extraBytes(int count) { return {Kind::ExtraBytes, count}; }
    static Fault split(int pieces, int gapMs) { return {Kind::Split, pieces, gapMs}; }
    static Fault exception(int code) { return {Kind::Exception, code}; }
    static Fault ignored() { return {Kind::Ignored}; }
};

// One request as it arrived, whatever the module made of it.
struct RequestRecord {
    std::vector<std::uint8_t> bytes;
    std::chrono::steady_clock::time_point at; // first byte read
    bool answered = false;                    // a reply (maybe faulty) was sent
};

class Simulator;

// One module on the line, for its registers and faults. Stays bound to the
// same module when its address changes; valid while the Simulator lives.
class ModuleAccess {
public:
    // Registers 0..18 (see Module): thread-safe, no range check on setReg.
    std::uint16_t reg(int n) const;
    void setReg(int n, std::uint16_t value);
    std::uint8_t address() const;
    void setAddress(std::uint8_t address);
    int baud() const; // the line speed the module expects now

    void failNext(const Fault& fault);   // the next request it takes; they add up
    void failAlways(const Fault& fault); // every request it takes from now on
    void clearFaults();

private:
    friend class Simulator;
    ModuleAccess(const Simulator& simulator, std::size_t index)
        : simulator_(&simulator), index_(index)
    {
    }
    template <class F> auto locked(F&& f) const; // f(its state) under the lock
    const Simulator* simulator_;
    std::size_t index_;
};

class Simulator {
public:
    explicit Simulator(Options options = {});
    ~Simulator(); // stop()
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pty (and the link) and starts the module's thread; the pty
    // path, or why not. May be called again after stop() or hangUp(): a new
    // pty, the same registers, as when an adapter is plugged back in.
    std::variant<std::string, SimError> start();
    // Ends after the reply in progress: the pty closed, the link removed.
    void stop();
    // The adapter unplugged: the pty goes away at once, mid-reply if need be.
    void hangUp();
    bool running() const;
    std::string path() const; // empty while not running

    // Every module, in the order of Options::modules.
    std::vector<ModuleAccess> modules() const;
    // The module that has `address` now (the first, if several share it).
    std::optional<ModuleAccess> module(std::uint8_t address) const;

    // The first module's registers and faults, as ModuleAccess.
    std::uint16_t reg(int n) const;
    void setReg(int n, std::uint16_t value);
    std::uint8_t address() const;
    void setAddress(std::uint8_t address);
    int baud() const;
    void failNext(const Fault& fault);
    void failAlways(const Fault& fault);
    void clearFaults();

    // Every request frame received (at most the last 100000).
    std::vector<RequestRecord> requests() const;
    void clearRequests();
    // True when `count` requests have been received within `timeout`.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    friend class ModuleAccess;
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace eload::sim
