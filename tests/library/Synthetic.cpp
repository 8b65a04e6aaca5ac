#include "Synthetic.h"

#include "modbus/Reading.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace eload::testing {

using namespace modbus;

std::vector<discharge::Sample> syntheticDischarge(const DischargePlan& plan)
{
    std::mt19937 random(plan.seed);
    std::uniform_int_distribution<int> noise(-1, 1);
    std::vector<discharge::Sample> samples;
    samples.reserve(std::size_t(plan.samples));
    double capacity = 0, energy = 0; // thousandths
    const int n = std::max(plan.samples, 1);
    for (int i = 0; i < plan.samples; ++i) {
        const bool last = plan.endsWithUvlo && i == plan.samples - 1;
        RegisterBlock raw{};
        const int current = last ? 0 : 100 + noise(random);
        const int voltage = int(std::lround((4.20 - 1.25 * i / n) * 100)) + noise(random);
        raw[RegCurrent] = std::uint16_t(current);
        raw[RegVoltage] = std::uint16_t(voltage);
        raw[RegPower] = std::uint16_t(std::lround(current * voltage / 100.0));
        const double hours = plan.periodMs / 3'600'000.0;
        capacity += current / 100.0 * hours * 1000;
        energy += current * voltage / 10'000.0 * hours * 1000;
        const auto c = std::uint32_t(capacity), e = std::uint32_t(energy);
        raw[RegCapacityHigh] = std::uint16_t(c >> 16);
        raw[RegCapacityLow] = std::uint16_t(c & 0xffff);
        raw[RegEnergyHigh] = std::uint16_t(e >> 16);
        raw[RegEnergyLow] = std::uint16_t(e & 0xffff);
        raw[RegResistance] = std::uint16_t(45 + noise(random));
        raw[RegTemperature] = std::uint16_t(25 + 10 * i / n);
        raw[RegProtection] = last ? ProtectionUvlo : ProtectionNone;
        const int seconds = int(qint64(i) * plan.periodMs / 1000);
        raw[RegHours] = std::uint16_t(seconds / 3600);
        raw[RegMinutes] = std::uint16_t(seconds / 60 % 60);
        raw[RegSeconds] = std::uint16_t(seconds % 60);
        raw[RegLoadSwitch] = last ? 0 : 1;
        const qint64 msecs = plan.startMsecs + qint64(i) * plan.periodMs;
        const qint64 steady = 5'000'000 + qint64(i) * plan.periodMs + noise(random);
        samples.push_back(discharge::sampleOf(
            readingFromRegisters(raw, QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC), steady)));
    }
    return samples;
}

DischargePlan driverPlan(int samples, unsigned seed, int module)
{
    return {samples, seed * 100 + unsigned(module), 1'772'719'200'000 + module * 1000, 500, true};
}

} // namespace eload::testing
