#pragma once
// Cells as a tester's bench gives them: capacities drawn around a mean and
// read to the module's 1 mA·h, resistances to 0.1 mΩ. Own generator and
// normal draw, so that a seed gives the same cells with any standard library.

#include "pack/Pack.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace eload::pack::testing {

class Draw {
public:
    explicit Draw(std::uint64_t seed) : state_(seed) {}

    double uniform() { return double(next() >> 11) * 0x1.0p-53; }
    double normal()
    {
        const double u = 1 - uniform(), v = uniform();
        return std::sqrt(-2 * std::log(u)) * std::cos(2 * M_PI * v);
    }

private:
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t state_;
};

// `stepAh`: the resolution capacities are read to (the module's 1 mA·h by default).
inline std::vector<Cell> randomCells(std::uint64_t seed, int count, double meanAh, double sigmaAh,
                                     double stepAh = 0.001)
{
    Draw draw(seed);
    std::vector<Cell> cells;
    for (int i = 0; i < count; ++i) {
        Cell c;
        c.id = "C" + std::to_string(i + 1);
        const double capacity = std::round((meanAh + sigmaAh * draw.normal()) / stepAh) * stepAh;
        c.capacityAh = std::max(stepAh, capacity);
        c.resistanceMilliohm = std::max(1.0, std::round((30 + 3 * draw.normal()) * 10) / 10);
        cells.push_back(std::move(c));
    }
    return cells;
}

} // namespace eload::pack::testing
