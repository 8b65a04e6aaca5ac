// Branch and bound over every arrangement, for small packs.

#include "pack/Problem.h"

#include <algorithm>
#include <limits>

namespace eload::pack::detail {
namespace {

// Arrangements up to the order of the groups, saturated at `limit`: the
// group of the first cell left takes P − 1 of the others, and so on.
std::int64_t arrangements(int series, int parallel, std::int64_t limit)
{
    std::int64_t count = 1;
    for (int left = series * parallel; left > parallel; left -= parallel) {
        // C(left − 1, P − 1), built so that each step stays an integer.
        std::int64_t choose = 1;
        for (int i = 1; i < parallel; ++i) {
            choose = choose * (left - parallel + i) / i;
            if (choose > limit) return limit;
        }
        if (count > limit / choose) return limit;
        count *= choose;
    }
    return count;
}

// Beyond this many arrangements the node budget cannot cover the tree, so
// the search is not started.
constexpr std::int64_t kMostArrangements = 1'000'000'000'000;

// Cells are placed highest first, each into a group that is not full; of
// the empty groups only the first is tried, and of groups alike so far only
// the first, since the rest give the same arrangements.
class BranchAndBound {
public:
    BranchAndBound(const Problem& p, const Arrangement& incumbent, std::int64_t nodes)
        : p_(p), nodesLeft_(nodes), count_(p.series, 0), capSum_(p.series, 0),
          condSum_(p.usesResistance() ? p.series : 0, 0), group_(p.cells(), -1),
          prefix_(p.cells() + 1, 0), best_(scoreOf(p, incumbent))
    {
        for (int k = 0; k < p.cells(); ++k)
            prefix_[k + 1] = prefix_[k] + p.cap[k];
    }

    bool run()
    {
        place(0);
        return !aborted_;
    }

    bool improved() const { return !bestGroup_.empty(); }

    Arrangement best() const
    {
        std::vector<std::vector<int>> groups(p_.series);
        for (int k = 0; k < p_.cells(); ++k)
            groups[bestGroup_[k]].push_back(k);
        return arrange(p_, std::move(groups));
    }

private:
    void place(int k)
    {
        if (aborted_) return;
        if (--nodesLeft_ < 0) {
            aborted_ = true;
            return;
        }
        if (k == p_.cells()) return keepIfBetter();
        for (int g = 0; g < p_.series && !aborted_; ++g) {
            if (count_[g] == p_.parallel || alikeEarlier(g)) continue;
            const bool empty = count_[g] == 0;
            put(k, g, +1);
            if (!cannotBeat(k + 1)) place(k + 1);
            put(k, g, -1);
            if (empty) break;
        }
    }

    void put(int k, int g, int sign)
    {
        count_[g] += sign;
        capSum_[g] += sign * p_.cap[k];
        if (!condSum_.empty()) condSum_[g] += sign * p_.cond[k];
        group_[k] = sign > 0 ? g : -1;
    }

    bool alikeEarlier(int g) const
    {
        for (int e = 0; e < g; ++e)
            if (count_[e] == count_[g] && capSum_[e] == capSum_[g] &&
                (condSum_.empty() || condSum_[e] == condSum_[g]))
                return true;
        return false;
    }

    // Cells from `next` on are still to place. Each group ends at least at
    // its sum plus the smallest of them it still needs, at most plus the
    // largest: the capacity spread cannot end below the difference.
    bool cannotBeat(int next) const
    {
        if (best_.excess > 0) return false; // a wider spread may still keep the rule
        const int n = p_.cells();
        std::int64_t high = std::numeric_limits<std::int64_t>::min();
        std::int64_t low = std::numeric_limits<std::int64_t>::max();
        for (int g = 0; g < p_.series; ++g) {
            const int need = p_.parallel - count_[g];
            high = std::max(high, capSum_[g] + prefix_[n] - prefix_[n - need]);
            low = std::min(low, capSum_[g] + prefix_[next + need] - prefix_[next]);
        }
        // With resistance balanced, an equal spread may still rank better.
        return p_.balanceResistance ? high - low > best_.cap : high - low >= best_.cap;
    }

    void keepIfBetter()
    {
        const Score s = scoreOf(p_, capSum_, condSum_);
        if (!(s < best_)) return;
        best_ = s;
        bestGroup_ = group_;
    }

    const Problem& p_;
    std::int64_t nodesLeft_;
    bool aborted_ = false;
    std::vector<int> count_;
    std::vector<std::int64_t> capSum_, condSum_;
    std::vector<int> group_;
    std::vector<std::int64_t> prefix_; // of the capacities, highest first
    Score best_;
    std::vector<int> bestGroup_;
};

} // namespace

Exhaustive searchExhaustively(const Problem& p, const Arrangement& incumbent, std::int64_t nodes)
{
    if (arrangements(p.series, p.parallel, kMostArrangements) >= kMostArrangements)
        return {false, incumbent};
    BranchAndBound search(p, incumbent, nodes);
    const bool complete = search.run();
    return {complete, search.improved() ? search.best() : incumbent};
}

} // namespace eload::pack::detail
