// Where the search starts, and the calculators' method it is compared with.

#include "pack/Problem.h"

#include <algorithm>
#include <limits>
#include <queue>

namespace eload::pack::detail {

Arrangement snake(const Problem& p)
{
    std::vector<std::vector<int>> groups(p.series);
    for (int row = 0; row < p.parallel; ++row)
        for (int t = 0; t < p.series; ++t)
            groups[row % 2 == 0 ? t : p.series - 1 - t].push_back(row * p.series + t);
    return arrange(p, std::move(groups));
}

namespace {

// S subsets of equal size; the method joins two of these at a time.
struct Partial {
    std::vector<std::int64_t> sums;
    std::vector<std::vector<int>> cells;
    int id = 0; // order of creation, so that ties break the same way everywhere

    std::int64_t difference() const
    {
        const auto [low, high] = std::minmax_element(sums.begin(), sums.end());
        return *high - *low;
    }
};

// The largest subset of one with the smallest of the other, and so on.
Partial join(const Partial& a, const Partial& b, int id)
{
    const auto order = [](const Partial& x, bool descending) {
        std::vector<int> idx(x.sums.size());
        for (std::size_t i = 0; i < idx.size(); ++i)
            idx[i] = int(i);
        std::stable_sort(idx.begin(), idx.end(), [&](int l, int r) {
            return descending ? x.sums[l] > x.sums[r] : x.sums[l] < x.sums[r];
        });
        return idx;
    };
    const std::vector<int> ia = order(a, true), ib = order(b, false);
    Partial joined;
    joined.id = id;
    for (std::size_t i = 0; i < ia.size(); ++i) {
        joined.sums.push_back(a.sums[ia[i]] + b.sums[ib[i]]);
        std::vector<int> cells = a.cells[ia[i]];
        cells.insert(cells.end(), b.cells[ib[i]].begin(), b.cells[ib[i]].end());
        joined.cells.push_back(std::move(cells));
    }
    return joined;
}

} // namespace

Arrangement largestDifferencing(const Problem& p)
{
    // Largest difference first; among equals the earliest made.
    const auto later = [](const Partial& l, const Partial& r) {
        const std::int64_t dl = l.difference(), dr = r.difference();
        return dl != dr ? dl < dr : l.id > r.id;
    };
    std::priority_queue<Partial, std::vector<Partial>, decltype(later)> queue(later);
    int id = 0;
    for (int row = 0; row < p.parallel; ++row) {
        Partial partial;
        partial.id = id++;
        for (int t = 0; t < p.series; ++t) {
            const int cell = row * p.series + t;
            partial.sums.push_back(p.cap[cell]);
            partial.cells.push_back({cell});
        }
        queue.push(std::move(partial));
    }
    while (queue.size() > 1) {
        const Partial a = queue.top();
        queue.pop();
        const Partial b = queue.top();
        queue.pop();
        queue.push(join(a, b, id++));
    }
    return arrange(p, queue.top().cells);
}

void swapHighestWithLowest(const Problem& p, Arrangement& a)
{
    const int s = p.series;
    for (;;) {
        const int high = int(std::max_element(a.capSum.begin(), a.capSum.end()) - a.capSum.begin());
        const int low = int(std::min_element(a.capSum.begin(), a.capSum.end()) - a.capSum.begin());
        if (high == low) return;
        std::int64_t othersHigh = std::numeric_limits<std::int64_t>::min();
        std::int64_t othersLow = std::numeric_limits<std::int64_t>::max();
        for (int g = 0; g < s; ++g)
            if (g != high && g != low) {
                othersHigh = std::max(othersHigh, a.capSum[g]);
                othersLow = std::min(othersLow, a.capSum[g]);
            }
        std::int64_t best = a.capSum[high] - a.capSum[low];
        int bestI = -1, bestJ = -1;
        for (std::size_t i = 0; i < a.groups[high].size(); ++i)
            for (std::size_t j = 0; j < a.groups[low].size(); ++j) {
                const std::int64_t delta = p.cap[a.groups[high][i]] - p.cap[a.groups[low][j]];
                const std::int64_t h = a.capSum[high] - delta, l = a.capSum[low] + delta;
                const std::int64_t spread =
                    std::max({othersHigh, h, l}) - std::min({othersLow, h, l});
                if (spread < best) {
                    best = spread;
                    bestI = int(i);
                    bestJ = int(j);
                }
            }
        if (bestI < 0) return;
        std::vector<std::vector<int>> groups = std::move(a.groups);
        std::swap(groups[high][bestI], groups[low][bestJ]);
        a = arrange(p, std::move(groups));
    }
}

} // namespace eload::pack::detail
