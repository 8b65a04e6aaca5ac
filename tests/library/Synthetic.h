#pragma once
// Synthetic discharges for the library's tests, its test driver and its
// benchmark: replies as the module would give them (register values, so
// every field is what a real reply yields), a cell at 1 A from 4.2 V down to
// UVLO, with a little noise. The same plan gives the same samples.

#include "discharge/Sample.h"

#include <vector>

namespace eload::testing {

struct DischargePlan {
    int samples = 600;
    unsigned seed = 1;
    qint64 startMsecs = 1'772'719'200'000; // 2026-03-05 14:00 UTC
    int periodMs = 500;
    bool endsWithUvlo = true; // the last reply shows UVLO with the load off
};

std::vector<discharge::Sample> syntheticDischarge(const DischargePlan& plan);

// The test library_driver plays for module `module` (from 0) with `seed`.
DischargePlan driverPlan(int samples, unsigned seed, int module);

} // namespace eload::testing
