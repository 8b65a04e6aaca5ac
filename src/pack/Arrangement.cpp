#include "pack/Problem.h"

#include <algorithm>
#include <numeric>

namespace eload::pack::detail {

Arrangement arrange(const Problem& p, std::vector<std::vector<int>> groups)
{
    Arrangement a;
    a.groups = std::move(groups);
    for (auto& g : a.groups) {
        std::sort(g.begin(), g.end());
        a.capSum.push_back(std::accumulate(g.begin(), g.end(), std::int64_t{0},
                                           [&](std::int64_t s, int c) { return s + p.cap[c]; }));
        if (p.usesResistance())
            a.condSum.push_back(
                std::accumulate(g.begin(), g.end(), std::int64_t{0},
                                [&](std::int64_t s, int c) { return s + p.cond[c]; }));
    }
    return a;
}

double resistanceSpread(std::int64_t lowestCond, std::int64_t highestCond)
{
    // Conductance is 1e12 / mΩ, so this is in mΩ.
    return 1e12 / double(lowestCond) - 1e12 / double(highestCond);
}

Score scoreOf(const Problem& p, const std::vector<std::int64_t>& capSum,
              const std::vector<std::int64_t>& condSum)
{
    Score s;
    const auto [capLow, capHigh] = std::minmax_element(capSum.begin(), capSum.end());
    s.cap = *capHigh - *capLow;
    if (!condSum.empty()) {
        const auto [low, high] = std::minmax_element(condSum.begin(), condSum.end());
        const double spread = resistanceSpread(*low, *high);
        if (p.hasRule) s.excess = std::max(0.0, spread - p.ruleLimit);
        if (p.balanceResistance) s.res = spread;
    }
    return s;
}

Score scoreOf(const Problem& p, const Arrangement& a) { return scoreOf(p, a.capSum, a.condSum); }

std::int64_t spreadLowerBound(const Problem& p)
{
    const int s = p.series, n = p.cells(), q = p.parallel;
    const std::vector<std::int64_t>& c = p.cap; // highest first
    if (s == 1) return 0;
    std::vector<std::int64_t> prefix(n + 1, 0);
    for (int k = 0; k < n; ++k)
        prefix[k + 1] = prefix[k] + c[k];
    const auto sum = [&](int from, int to) { return prefix[to] - prefix[from]; }; // [from, to)
    const auto largest = [&](int count) { return sum(0, count); };
    const auto smallest = [&](int count) { return sum(n - count, n); };
    const auto ceilDiv = [](std::int64_t a, std::int64_t b) { return a / b + (a % b != 0); };
    // `high` never exceeds the largest group's sum, `low` never the smallest's.
    // The largest group holds at least the mean, the smallest at most.
    std::int64_t high = ceilDiv(prefix[n], s);
    std::int64_t low = prefix[n] / s;
    for (int k = 0; k < q; ++k) {
        const int rest = q - k - 1;
        // Some group holds k+1 of the k·S+1 largest cells, at least the
        // smallest k+1 of them, and its other cells at least the smallest.
        high = std::max(high, sum(k * s - k, k * s + 1) + smallest(rest));
        // Some group holds k+1 of the k·S+1 smallest, at most the largest
        // k+1 of them, and its other cells at most the largest.
        low = std::min(low, sum(n - 1 - k * s, n - k * s + k) + largest(rest));
    }
    // The i+1 largest cells: either two share a group, or each has P−1
    // others of its own. Those (i+1)(P−1) others weigh no less than as many
    // of the smallest cells, and of any split of those into i+1 sets the
    // heaviest holds at least their mean and at least the largest of them;
    // it sits beside a cell of at least c[i]. Not knowing which case holds,
    // the weaker bound of the two counts. The smallest group mirrors it.
    // For P = 2 this is the spread of pairing largest with smallest, which
    // is optimal.
    for (int i = 0; i < s && q >= 2; ++i) {
        const int others = (i + 1) * (q - 1); // at most n − i − 1, as i < S
        const std::int64_t heaviest =
            std::max(ceilDiv(smallest(others), i + 1), c[n - others] + smallest(q - 2));
        const std::int64_t lightest =
            std::min(largest(others) / (i + 1), c[others - 1] + largest(q - 2));
        std::int64_t groupHigh = c[i] + heaviest, groupLow = c[n - 1 - i] + lightest;
        if (i > 0) {
            groupHigh = std::min(groupHigh, c[i - 1] + c[i] + smallest(q - 2));
            groupLow = std::max(groupLow, c[n - i] + c[n - 1 - i] + largest(q - 2));
        }
        high = std::max(high, groupHigh);
        low = std::min(low, groupLow);
    }
    return high - low;
}

} // namespace eload::pack::detail
