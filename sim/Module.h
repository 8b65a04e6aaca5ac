#pragma once
// The load module behind the bus: its registers and the battery it
// discharges. Not thread-safe; Simulator serialises every call.

#include "sim/Simulator.h" // ModelParameters

#include <array>
#include <cstdint>

namespace eload::sim {

class Module {
public:
    Module(const ModelParameters& model, std::uint8_t address, int baudCode);

    // Registers 0..18 as stored; 18 is a command and reads 0. Out of range: 0.
    std::uint16_t reg(int n) const;
    // Stores the value without a range check (tests may set what the bus
    // refuses); 18 = 1 clears as on the bus, 8 also sets the model's
    // temperature. While the model runs it recomputes 0, 1, 2 and 8.
    void setReg(int n, std::uint16_t value);

    std::uint8_t address() const { return address_; }
    void setAddress(std::uint8_t address) { address_ = address; }

    // Bus writes: which registers take a write, which values they accept,
    // and the write itself (with its side effects).
    static bool writable(int n);
    static bool accepts(int n, std::uint16_t value);
    void write(int n, std::uint16_t value);

    // Runs the model for `seconds` of model time.
    void advance(double seconds);

    // Open-circuit voltage of the pack at its present charge.
    double openCircuitVolts() const;

private:
    void step(double dt);
    double loadCurrent(double ocv, double ohms) const;
    void accumulate(double amps, double volts, double dt);
    void countTime(double dt);
    void tripIfNeeded(double volts, double watts);
    void publish(double amps, double volts, double watts);
    void clearData();
    void switchLoad(bool on);

    ModelParameters model_;
    std::array<std::uint16_t, 18> regs_{};
    std::uint8_t address_;
    double chargeTakenAh_ = 0;
    double temperature_;
    double capacityFraction_ = 0; // parts of 0.001 AH not yet counted
    double energyFraction_ = 0;   // parts of 0.001 WH
    double secondsFraction_ = 0;
};

} // namespace eload::sim
