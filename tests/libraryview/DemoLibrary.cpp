#include "DemoLibrary.h"

#include "library/Grading.h"

#include "discharge/TestModel.h"

#include <QUuid>
#include <cmath>

namespace eload::testing {

using discharge::Sample;
using namespace library;

namespace {

constexpr double kCutoffV = 2.8;

// Open-circuit voltage of a lithium-ion cell at depth of discharge d (0..1).
double openCircuit(double d)
{
    return 4.18 - 0.08 * (1 - std::exp(-d / 0.03)) - 0.42 * d + 0.12 * std::pow(d, 2) -
           1.2 * std::exp(-(1 - d) / 0.035);
}

std::optional<double> thousandths(double v) { return std::round(v * 1000) / 1000; }

} // namespace

std::vector<Sample> demoDischarge(const DemoCell& cell)
{
    std::mt19937 random(cell.seed);
    std::normal_distribution<double> noise(0, 0.004);
    std::vector<Sample> samples;
    const double hoursPerSample = cell.periodMs / 3'600'000.0;
    double capacity = 0, energy = 0;
    for (int i = 0;; ++i) {
        const double d = std::min(capacity / cell.capacityAh, 1.0);
        const double v =
            openCircuit(d) - cell.currentA * cell.resistanceMilliohm / 1000 + noise(random);
        const bool last = v <= kCutoffV || d >= 1.0;
        Sample s;
        s.msecs = cell.startMsecs + qint64(i) * cell.periodMs;
        s.monotonicMsecs = 1'000'000 + qint64(i) * cell.periodMs;
        s.voltage = float(last ? v + 0.25 : v); // the cell recovers once the load is off
        s.current = last ? 0.0f : float(cell.currentA + noise(random) / 4);
        s.power = s.voltage * s.current;
        s.capacityAh = *thousandths(capacity);
        s.energyWh = *thousandths(energy);
        s.temperatureC = std::uint16_t(24 + 6 * d);
        s.resistanceMilliohm = std::uint16_t(std::lround(cell.resistanceMilliohm));
        s.protection = last ? 1 : 0; // UVLO
        s.loadOn = !last;
        s.dischargeSeconds = std::int32_t(qint64(i) * cell.periodMs / 1000);
        samples.push_back(s);
        if (last) break;
        capacity += cell.currentA * hoursPerSample;
        energy += cell.currentA * v * hoursPerSample;
    }
    return samples;
}

qint64 storeDemoTest(Store& store, const DemoCell& cell, const QString& grade)
{
    TestHeader h;
    h.uuid = QUuid::createUuid();
    h.cell = {cell.name, cell.type, cell.ratedAh};
    h.station = cell.station;
    h.port = QStringLiteral("/dev/ttyUSB0");
    h.address = cell.address;
    h.presets = {cell.currentA, kCutoffV, 150.0};
    h.startMsecs = cell.startMsecs;
    const auto samples = demoDischarge(cell);
    auto fail = [](const QString& why) { qFatal("demo library: %s", qPrintable(why)); };
    auto id = store.ensureTest(h);
    if (auto* f = failureOf(id)) fail(f->message);
    const qint64 key = std::get<qint64>(id);
    const auto stored = store.appendSamples(key, 0, samples);
    if (auto* f = failureOf(stored)) fail(f->message);
    const discharge::Summary s = discharge::summarize(samples);
    if (auto f = store.storeFigures(key, s, true, stateOfHealth(s, h.cell), s.endMsecs))
        fail(f->message);
    if (auto f = store.storeGrade(key, grade)) fail(f->message);
    return key;
}

std::vector<DemoCell> demoCells(int count, qint64 firstStartMsecs, unsigned seed)
{
    struct Type {
        QString name;
        double ratedAh, currentA, resistance;
    };
    const std::vector<Type> types = {{QStringLiteral("18650 Li-ion"), 2.6, 1.0, 42},
                                     {QStringLiteral("21700 Li-ion"), 4.8, 2.0, 24},
                                     {QStringLiteral("18650 Li-ion 3500"), 3.5, 1.0, 38},
                                     {QStringLiteral("14500 Li-ion"), 0.8, 0.5, 110}};
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> health(0.5, 1.0);
    std::normal_distribution<double> spread(0, 0.08);
    std::vector<DemoCell> cells;
    for (int i = 0; i < count; ++i) {
        const Type& t = types[std::size_t(i % int(types.size()))];
        DemoCell c;
        c.type = t.name;
        c.name = QStringLiteral("%1%2").arg(QChar(u'A' + i % 4)).arg(i / 4 + 1, 2, 10, QChar(u'0'));
        c.ratedAh = t.ratedAh;
        const double soh = std::min(1.02, health(random) + 0.15);
        c.capacityAh = t.ratedAh * soh;
        c.resistanceMilliohm = t.resistance * (1 + (1.0 - soh) * 2.5 + spread(random));
        c.currentA = t.currentA;
        c.startMsecs = firstStartMsecs + qint64(i) * 5 * 3'600'000;
        c.station = QStringLiteral("bench-%1").arg(1 + i % 2);
        c.address = 1 + i % 4;
        c.seed = seed * 1000 + unsigned(i);
        cells.push_back(c);
    }
    return cells;
}

GradeRules demoGradeRules()
{
    GradeRules rules;
    const QList<GradeRule> lithium = {{QStringLiteral("A"), 90.0, 60.0},
                                      {QStringLiteral("B"), 80.0, 80.0},
                                      {QStringLiteral("C"), 65.0, {}}};
    rules.byType.insert(QStringLiteral("18650 Li-ion").toCaseFolded(), lithium);
    rules.byType.insert(QStringLiteral("21700 Li-ion").toCaseFolded(), lithium);
    return rules;
}

QString demoGrade(const DemoCell& cell, const GradeRules& rules)
{
    TestRecord r;
    r.header.cell = {cell.name, cell.type, cell.ratedAh};
    r.summary = discharge::summarize(demoDischarge(cell));
    r.finished = true;
    r.stateOfHealth = stateOfHealth(r.summary, r.header.cell);
    return gradeOf(r, rules).grade;
}

} // namespace eload::testing
