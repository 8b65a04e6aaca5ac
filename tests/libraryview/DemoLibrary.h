#pragma once
// Tests of cells as a lab's library holds them, for the window's tests, its
// benchmark and its screenshots: a lithium cell's discharge at constant
// current (the sag at the start, the long plateau, the knee before the
// cut-off) with the cell's own capacity and resistance, stored through
// Store as the writer leaves a finished test.

#include "library/Grading.h"
#include "library/Store.h"

#include <random>
#include <vector>

namespace eload::testing {

struct DemoCell {
    QString name, type;
    double ratedAh = 2.5;
    double capacityAh = 2.4; // what the test will measure, near enough
    double resistanceMilliohm = 45;
    double currentA = 1.0;
    qint64 startMsecs = 0;
    int periodMs = 2000;
    QString station = QStringLiteral("bench-1");
    int address = 1;
    unsigned seed = 1;
};

// Replies every periodMs from full down to 2.8 V, the last one with UVLO and
// the load off.
std::vector<discharge::Sample> demoDischarge(const DemoCell& cell);

// The finished test with its curve and grade; its key.
qint64 storeDemoTest(library::Store& store, const DemoCell& cell, const QString& grade = {});

// `count` cells of four types over the last months, capacities and
// resistances spread as aged cells' are, graded by the rules of
// demoGradeRules(); every `count` a different set for the same seed.
std::vector<DemoCell> demoCells(int count, qint64 firstStartMsecs, unsigned seed = 7);
QString demoGrade(const DemoCell& cell, const library::GradeRules& rules);
library::GradeRules demoGradeRules();

} // namespace eload::testing
