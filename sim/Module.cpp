#include "sim/Module.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace eload::sim {

namespace {

enum : int {
    Current = 0,
    Voltage = 1,
    Power = 2,
    CapacityHigh = 3,
    CapacityLow = 4,
    EnergyHigh = 5,
    EnergyLow = 6,
    Resistance = 7,
    Temperature = 8,
    Protection = 9,
    Hours = 10,
    Minutes = 11,
    Seconds = 12,
    CurrentPreset = 13,
    CutoffPreset = 14,
    PowerPreset = 15,
    BaudCode = 16,
    LoadSwitch = 17,
    ClearData = 18,
    AddressRegister = 0,
};

enum : std::uint16_t { NoTrip = 0, Uvlo = 1, Opp = 2, Otp = 4 };

// Open-circuit voltage of one lithium-ion cell by state of charge.
constexpr std::pair<double, double> kCellCurve[] = {
    {0.00, 3.00}, {0.05, 3.30}, {0.10, 3.45}, {0.20, 3.60}, {0.30, 3.68}, {0.40, 3.74},
    {0.50, 3.79}, {0.60, 3.85}, {0.70, 3.92}, {0.80, 3.99}, {0.90, 4.08}, {1.00, 4.20},
};

// Past empty the cell collapses: 1 V per 10 % of over-discharge.
constexpr double kCollapseVoltsPerCharge = 10.0;

// The longest step the model takes at once, in model seconds, so that a fast
// model still trips its protection close to the moment it should.
constexpr double kMaxStep = 0.25;

double cellVolts(double soc)
{
    if (soc <= 0) return std::max(0.0, kCellCurve[0].second + soc * kCollapseVoltsPerCharge);
    for (std::size_t i = 1; i < std::size(kCellCurve); ++i) {
        const auto [s1, v1] = kCellCurve[i];
        if (soc <= s1) {
            const auto [s0, v0] = kCellCurve[i - 1];
            return v0 + (v1 - v0) * (soc - s0) / (s1 - s0);
        }
    }
    return kCellCurve[std::size(kCellCurve) - 1].second;
}

std::uint16_t toRegister(double value)
{
    return static_cast<std::uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
}

std::uint32_t pair(const std::array<std::uint16_t, 18>& regs, int high)
{
    return (std::uint32_t(regs[high]) << 16) | regs[high + 1];
}

void setPair(std::array<std::uint16_t, 18>& regs, int high, std::uint32_t value)
{
    regs[high] = std::uint16_t(value >> 16);
    regs[high + 1] = std::uint16_t(value & 0xFFFF);
}

// Adds the whole counts of `fraction` to the 32-bit pair, saturating, and
// keeps the rest of the fraction for later.
void countInto(std::array<std::uint16_t, 18>& regs, int high, double& fraction)
{
    const double whole = std::floor(fraction);
    fraction -= whole;
    const double sum = double(pair(regs, high)) + whole;
    constexpr double kMax = std::numeric_limits<std::uint32_t>::max();
    setPair(regs, high, std::uint32_t(std::min(sum, kMax)));
}

} // namespace

Module::Module(const ModelParameters& model, std::uint8_t address, int baudCode)
    : model_(model), address_(address), temperature_(model.ambientCelsius)
{
    chargeTakenAh_ = (1.0 - std::clamp(model.stateOfCharge, 0.0, 1.0)) * model.capacityAh;
    regs_[Resistance] = model.milliohms;
    regs_[Temperature] = toRegister(temperature_);
    regs_[CurrentPreset] = 100; // 1.00 A
    regs_[CutoffPreset] = toRegister(model.cells * kCellCurve[0].second * 100);
    regs_[PowerPreset] = 15000; // 150.00 W
    regs_[BaudCode] = std::uint16_t(baudCode);
    regs_[Voltage] = toRegister(openCircuitVolts() * 100);
}

std::uint16_t Module::reg(int n) const
{
    return n >= 0 && n < int(regs_.size()) ? regs_[std::size_t(n)] : 0;
}

void Module::setReg(int n, std::uint16_t value)
{
    if (n == ClearData) {
        if (value == 1) clearData();
        return;
    }
    if (n < 0 || n >= int(regs_.size())) return;
    regs_[std::size_t(n)] = value;
    if (n == Temperature) temperature_ = value;
}

bool Module::writable(int n)
{
    return n == AddressRegister || (n >= CurrentPreset && n <= ClearData);
}

bool Module::accepts(int n, std::uint16_t value)
{
    switch (n) {
    case AddressRegister: return value >= 1 && value <= 255;
    case CurrentPreset: return value >= 1 && value <= 1000;
    case CutoffPreset: return value >= 100 && value <= 9999;
    case PowerPreset: return value >= 100 && value <= 15000;
    case BaudCode: return value <= 5;
    case LoadSwitch: return value <= 1;
    case ClearData: return value == 1;
    default: return false;
    }
}

void Module::write(int n, std::uint16_t value)
{
    switch (n) {
    case AddressRegister: address_ = std::uint8_t(value); break;
    case LoadSwitch: switchLoad(value == 1); break;
    case ClearData: clearData(); break;
    default: regs_[std::size_t(n)] = value;
    }
}

void Module::switchLoad(bool on)
{
    // Switching on acknowledges the last trip.
    if (on) regs_[Protection] = NoTrip;
    regs_[LoadSwitch] = on ? 1 : 0;
}

void Module::clearData()
{
    for (int n : {CapacityHigh, CapacityLow, EnergyHigh, EnergyLow, Hours, Minutes, Seconds})
        regs_[std::size_t(n)] = 0;
    capacityFraction_ = energyFraction_ = secondsFraction_ = 0;
}

double Module::openCircuitVolts() const
{
    const double soc = model_.capacityAh > 0 ? 1.0 - chargeTakenAh_ / model_.capacityAh : 0.0;
    return model_.cells * cellVolts(soc);
}

void Module::advance(double seconds)
{
    if (!model_.running) return;
    while (seconds > 0) {
        const double dt = std::min(seconds, kMaxStep);
        step(dt);
        seconds -= dt;
    }
}

void Module::step(double dt)
{
    const double ocv = openCircuitVolts();
    const double ohms = regs_[Resistance] / 1000.0;
    const double amps = regs_[LoadSwitch] == 1 ? loadCurrent(ocv, ohms) : 0.0;
    const double volts = std::max(0.0, ocv - amps * ohms);
    const double watts = volts * amps;

    const double settled = model_.ambientCelsius + model_.heatingCPerW * watts;
    const double keep = model_.coolingSeconds > 0 ? std::exp(-dt / model_.coolingSeconds) : 0.0;
    temperature_ = settled + (temperature_ - settled) * keep;

    if (amps > 0) {
        chargeTakenAh_ += amps * dt / 3600.0;
        accumulate(amps, volts, dt);
        countTime(dt);
    }
    publish(amps, volts, watts);
    if (regs_[LoadSwitch] == 1) tripIfNeeded(volts, watts);
}

double Module::loadCurrent(double ocv, double ohms) const
{
    const double preset = regs_[CurrentPreset] / 100.0;
    const double limit = regs_[PowerPreset] / 100.0;
    // No more current than would pull the terminal voltage to zero.
    double amps = ohms > 0 ? std::min(preset, ocv / ohms) : preset;
    if ((ocv - amps * ohms) * amps <= limit) return amps;
    if (ohms <= 0) return ocv > 0 ? limit / ocv : 0.0;
    // (ocv - I R) I = P: the smaller root is the current at the power limit.
    const double disc = ocv * ocv - 4 * ohms * limit;
    return disc < 0 ? amps : (ocv - std::sqrt(disc)) / (2 * ohms);
}

void Module::accumulate(double amps, double volts, double dt)
{
    capacityFraction_ += amps * dt / 3600.0 * 1000.0;
    energyFraction_ += volts * amps * dt / 3600.0 * 1000.0;
    countInto(regs_, CapacityHigh, capacityFraction_);
    countInto(regs_, EnergyHigh, energyFraction_);
}

void Module::countTime(double dt)
{
    secondsFraction_ += dt;
    const double whole = std::floor(secondsFraction_);
    secondsFraction_ -= whole;
    auto total = std::uint64_t(regs_[Hours]) * 3600 + std::uint64_t(regs_[Minutes]) * 60 +
                 regs_[Seconds] + std::uint64_t(whole);
    constexpr std::uint64_t kMax = 65535ull * 3600 + 59 * 60 + 59;
    total = std::min(total, kMax);
    regs_[Hours] = std::uint16_t(total / 3600);
    regs_[Minutes] = std::uint16_t(total / 60 % 60);
    regs_[Seconds] = std::uint16_t(total % 60);
}

void Module::publish(double amps, double volts, double watts)
{
    regs_[Current] = toRegister(amps * 100);
    regs_[Voltage] = toRegister(volts * 100);
    regs_[Power] = toRegister(watts * 100);
    regs_[Temperature] = toRegister(temperature_);
}

void Module::tripIfNeeded(double volts, double watts)
{
    std::uint16_t trip = NoTrip;
    if (regs_[Temperature] >= model_.otpCelsius)
        trip = Otp;
    else if (toRegister(watts * 100) > toRegister(model_.oppWatts * 100))
        trip = Opp;
    else if (volts < regs_[CutoffPreset] / 100.0)
        trip = Uvlo;
    if (trip == NoTrip) return;
    regs_[Protection] = trip;
    switchLoad(false);
    publish(0, openCircuitVolts(), 0);
}

} // namespace eload::sim
