#pragma once
// The pack as the search sees it: the chosen cells as exact integers and an
// arrangement of them into groups, with the order in which answers rank.

#include <compare>
#include <cstdint>
#include <vector>

namespace eload::pack::detail {

struct Problem {
    int series = 1;
    int parallel = 1;
    // The chosen cells, highest capacity first: capacity as (µA·h − lowest)
    // / step, so that the differences have no common factor. Every group
    // holds P cells, so the shift changes no spread.
    std::vector<std::int64_t> cap;
    // Conductance per cell (1e12 / mΩ, rounded); empty unless resistance
    // counts, and then every chosen cell has one. A group's resistance is
    // 1e12 / its sum, in mΩ.
    std::vector<std::int64_t> cond;
    bool balanceResistance = false;
    bool hasRule = false;
    double ruleLimit = 0; // largest resistance spread the rule allows, mΩ

    int cells() const { return series * parallel; }
    bool usesResistance() const { return balanceResistance || hasRule; }
};

// Answers rank by these, in this order.
struct Score {
    double excess = 0;    // resistance spread beyond the rule (0 without a rule)
    std::int64_t cap = 0; // capacity spread, in steps
    double res = 0;       // resistance spread when balanced (0 otherwise)

    std::partial_ordering operator<=>(const Score&) const = default;
};

struct Arrangement {
    std::vector<std::vector<int>> groups; // cell numbers, ascending (highest capacity first)
    std::vector<std::int64_t> capSum;
    std::vector<std::int64_t> condSum; // empty when resistance is not used
};

// The sums of the given groups.
Arrangement arrange(const Problem& p, std::vector<std::vector<int>> groups);
// The resistance spread in the search's units: 1 / lowest − 1 / highest conductance.
double resistanceSpread(std::int64_t lowestCond, std::int64_t highestCond);
Score scoreOf(const Problem& p, const std::vector<std::int64_t>& capSum,
              const std::vector<std::int64_t>& condSum);
Score scoreOf(const Problem& p, const Arrangement& a);

// No arrangement of p's cells has a smaller capacity spread (in steps).
std::int64_t spreadLowerBound(const Problem& p);

// Cells dealt row by row into S groups, turning at each end.
Arrangement snake(const Problem& p);
// The balanced largest differencing method for S sets of P cells.
Arrangement largestDifferencing(const Problem& p);
// The calculators' improvement: swap one cell of the highest group for one
// of the lowest while that lowers the spread.
void swapHighestWithLowest(const Problem& p, Arrangement& a);

// Descent and iterated local search, each step within `swaps` looked at;
// the best arrangement found in the full order.
Arrangement improve(const Problem& p, Arrangement start, std::int64_t swaps);

// Branch and bound over every arrangement up to the order of the groups,
// starting from the incumbent. Not complete when the node budget ran out
// first, or when there are too many arrangements to try.
struct Exhaustive {
    bool complete = false;
    Arrangement best;
};
Exhaustive searchExhaustively(const Problem& p, const Arrangement& incumbent, std::int64_t nodes);

} // namespace eload::pack::detail
