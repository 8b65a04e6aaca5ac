#include "pack/Pack.h"

#include "pack/Problem.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace eload::pack {
namespace {

using detail::Arrangement;
using detail::Problem;

// Beyond these a value is a typing error, and the integers would overflow.
constexpr double kMostCapacityAh = 1e6;
constexpr double kLeastResistance = 0.01, kMostResistance = 1e6; // mΩ

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string nameOf(const std::vector<Cell>& cells, int i)
{
    return cells[i].id.empty() ? "#" + std::to_string(i + 1) : "\"" + cells[i].id + "\"";
}

PackError error(PackError::Kind kind, std::string message) { return {kind, std::move(message)}; }

std::optional<PackError> checkShape(std::size_t cells, const Options& o)
{
    if (o.series < 1 || o.parallel < 1)
        return error(PackError::Kind::BadShape, "series and parallel must be at least 1 (got " +
                                                    std::to_string(o.series) + "S" +
                                                    std::to_string(o.parallel) + "P)");
    const std::int64_t needed = std::int64_t(o.series) * o.parallel;
    if (std::uint64_t(needed) > cells)
        return error(PackError::Kind::TooFewCells,
                     "a " + std::to_string(o.series) + "S" + std::to_string(o.parallel) +
                         "P pack needs " + std::to_string(needed) + " cells, " +
                         std::to_string(cells) + " given");
    return std::nullopt;
}

std::optional<PackError> checkCells(const std::vector<Cell>& cells)
{
    for (int i = 0; i < int(cells.size()); ++i) {
        const double c = cells[i].capacityAh;
        if (!std::isfinite(c) || c <= 0 || c > kMostCapacityAh)
            return error(PackError::Kind::BadCapacity,
                         "cell " + nameOf(cells, i) + ": capacity " + number(c) +
                             " Ah is not a number above 0 and up to " + number(kMostCapacityAh) +
                             " Ah");
        const std::optional<double> r = cells[i].resistanceMilliohm;
        if (r && (!std::isfinite(*r) || *r < kLeastResistance || *r > kMostResistance))
            return error(PackError::Kind::BadResistance,
                         "cell " + nameOf(cells, i) + ": resistance " + number(*r) +
                             " mOhm is not a number from " + number(kLeastResistance) + " to " +
                             number(kMostResistance) + " mOhm");
    }
    return std::nullopt;
}

std::optional<PackError> checkRule(const Options& o)
{
    const std::optional<double> limit = o.maxResistanceSpreadPercent;
    if (limit && (!std::isfinite(*limit) || *limit < 0))
        return error(PackError::Kind::BadRule, "the resistance spread limit " + number(*limit) +
                                                   " % is not a number of 0 or more");
    return std::nullopt;
}

std::int64_t microAh(double ah) { return std::llround(ah * 1e6); }

// Highest capacity first; then the lower resistance (a measured one before
// none), then the earlier cell.
std::vector<int> byCapacity(const std::vector<Cell>& cells)
{
    std::vector<int> order(cells.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int l, int r) {
        const std::int64_t cl = microAh(cells[l].capacityAh), cr = microAh(cells[r].capacityAh);
        if (cl != cr) return cl > cr;
        const double inf = HUGE_VAL;
        return cells[l].resistanceMilliohm.value_or(inf) <
               cells[r].resistanceMilliohm.value_or(inf);
    });
    return order;
}

// The chosen cells and the search's view of them.
struct Prepared {
    Problem problem;
    std::vector<int> chosen;   // input index of each cell of the problem
    std::vector<int> leftOver; // input indexes, highest capacity first
    std::int64_t step = 1;     // µA·h per capacity step
};

std::optional<PackError> checkResistances(const std::vector<Cell>& cells, const Prepared& prep)
{
    if (!prep.problem.usesResistance()) return std::nullopt;
    for (int i : prep.chosen)
        if (!cells[i].resistanceMilliohm)
            return error(PackError::Kind::MissingResistance,
                         "cell " + nameOf(cells, i) +
                             " has no resistance; balancing resistance needs one for every "
                             "cell in the pack");
    return std::nullopt;
}

void convertCapacities(const std::vector<Cell>& cells, Prepared& prep)
{
    std::vector<std::int64_t> micro;
    for (int i : prep.chosen)
        micro.push_back(microAh(cells[i].capacityAh));
    const std::int64_t lowest = *std::min_element(micro.begin(), micro.end());
    std::int64_t step = 0;
    for (std::int64_t m : micro)
        step = std::gcd(step, m - lowest);
    prep.step = step == 0 ? 1 : step;
    for (std::int64_t m : micro)
        prep.problem.cap.push_back((m - lowest) / prep.step);
}

void convertResistances(const std::vector<Cell>& cells, const Options& o, Prepared& prep)
{
    Problem& p = prep.problem;
    if (!p.usesResistance()) return;
    for (int i : prep.chosen)
        p.cond.push_back(std::llround(1e12 / *cells[i].resistanceMilliohm));
    if (p.hasRule) {
        const double total = double(std::accumulate(p.cond.begin(), p.cond.end(), std::int64_t{0}));
        const double harmonicMean = 1e12 * p.series / total; // mΩ of a group of mean conductance
        p.ruleLimit = *o.maxResistanceSpreadPercent / 100 * harmonicMean;
    }
}

std::variant<Prepared, PackError> prepare(const std::vector<Cell>& cells, const Options& o)
{
    if (auto e = checkShape(cells.size(), o)) return *e;
    if (auto e = checkCells(cells)) return *e;
    if (auto e = checkRule(o)) return *e;
    Prepared prep;
    Problem& p = prep.problem;
    p.series = o.series;
    p.parallel = o.parallel;
    p.balanceResistance = o.balanceResistance;
    p.hasRule = o.maxResistanceSpreadPercent.has_value();
    const std::vector<int> order = byCapacity(cells);
    prep.chosen.assign(order.begin(), order.begin() + p.cells());
    prep.leftOver.assign(order.begin() + p.cells(), order.end());
    if (auto e = checkResistances(cells, prep)) return *e;
    convertCapacities(cells, prep);
    convertResistances(cells, o, prep);
    return prep;
}

std::optional<double> parallelResistance(const std::vector<Cell>& cells,
                                         const std::vector<int>& members)
{
    double conductance = 0;
    for (int i : members) {
        if (!cells[i].resistanceMilliohm) return std::nullopt;
        conductance += 1 / *cells[i].resistanceMilliohm;
    }
    return 1 / conductance;
}

std::vector<Group> groupsOf(const std::vector<Cell>& cells, const Prepared& prep,
                            const Arrangement& a)
{
    // Highest capacity first; equal ones by their best cell.
    std::vector<int> order(a.groups.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int l, int r) {
        if (a.capSum[l] != a.capSum[r]) return a.capSum[l] > a.capSum[r];
        return a.groups[l].front() < a.groups[r].front();
    });
    std::vector<Group> groups;
    for (int g : order) {
        Group group;
        std::int64_t micro = 0;
        for (int k : a.groups[g]) { // ascending: highest capacity first
            group.cells.push_back(prep.chosen[k]);
            micro += microAh(cells[prep.chosen[k]].capacityAh);
        }
        group.capacityAh = double(micro) / 1e6;
        group.resistanceMilliohm = parallelResistance(cells, group.cells);
        groups.push_back(std::move(group));
    }
    return groups;
}

void describeResistance(Pack& pack)
{
    double low = HUGE_VAL, high = 0, conductance = 0;
    for (const Group& g : pack.groups) {
        if (!g.resistanceMilliohm) return;
        low = std::min(low, *g.resistanceMilliohm);
        high = std::max(high, *g.resistanceMilliohm);
        conductance += 1 / *g.resistanceMilliohm;
    }
    const double harmonicMean = double(pack.groups.size()) / conductance;
    pack.resistanceSpreadMilliohm = high - low;
    pack.resistanceSpreadPercent = (high - low) / harmonicMean * 100;
}

// What the answer is known to be: optimal by the bound, or by a search of
// every arrangement (`exhaustive`).
Pack packOf(const std::vector<Cell>& cells, const Prepared& prep, const Arrangement& a,
            bool exhaustive)
{
    const Problem& p = prep.problem;
    const detail::Score score = detail::scoreOf(p, a);
    const std::int64_t bound = detail::spreadLowerBound(p);
    Pack pack;
    pack.groups = groupsOf(cells, prep, a);
    pack.leftOver = prep.leftOver;
    pack.spreadAh = double(score.cap * prep.step) / 1e6;
    double total = 0;
    for (const Group& g : pack.groups)
        total += g.capacityAh;
    pack.spreadPercent = pack.spreadAh / (total / p.series) * 100;
    pack.spreadLowerBoundAh = double(bound * prep.step) / 1e6;
    describeResistance(pack);
    pack.resistanceRuleMet = score.excess == 0;
    if (exhaustive)
        pack.proof = Proof::Exhaustive;
    else if (pack.resistanceRuleMet && score.cap == bound)
        pack.proof = Proof::LowerBound;
    pack.optimal = exhaustive || (pack.proof == Proof::LowerBound && !p.balanceResistance);
    return pack;
}

} // namespace

PackResult matchPack(const std::vector<Cell>& cells, const Options& options)
{
    std::variant<Prepared, PackError> prepared = prepare(cells, options);
    if (const auto* e = std::get_if<PackError>(&prepared)) return *e;
    const Prepared& prep = std::get<Prepared>(prepared);
    const Problem& p = prep.problem;
    Arrangement best = detail::improve(p, detail::largestDifferencing(p),
                                       std::max<std::int64_t>(0, options.searchSwaps));
    const Pack heuristic = packOf(cells, prep, best, false);
    if (heuristic.optimal) return heuristic;
    const detail::Exhaustive exhaustive =
        detail::searchExhaustively(p, best, std::max<std::int64_t>(0, options.exhaustiveNodes));
    return exhaustive.complete ? packOf(cells, prep, exhaustive.best, true) : heuristic;
}

PackResult snakeAndSwap(const std::vector<Cell>& cells, const Options& options)
{
    Options plain = options;
    plain.balanceResistance = false;
    plain.maxResistanceSpreadPercent.reset();
    std::variant<Prepared, PackError> prepared = prepare(cells, plain);
    if (const auto* e = std::get_if<PackError>(&prepared)) return *e;
    const Prepared& prep = std::get<Prepared>(prepared);
    Arrangement a = detail::snake(prep.problem);
    detail::swapHighestWithLowest(prep.problem, a);
    return packOf(cells, prep, a, false);
}

} // namespace eload::pack
